// The content-transfer decoders: the classes that turn the raw lines of a MIME part into
// bytes and back, one class per Content-Transfer-Encoding. They are used as classes and
// never instantiated by callers: each class has exactly one immutable descriptor object,
// reached through a `TMIMEDecoderClass`, and the class-level operations are its virtual
// operations, so a derived class overrides them as a class would. The byte-level codecs
// underneath are pure functions, declared at the end with their line rules explicit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

class TMIMEDecoder;
// A "decoder" everywhere else in the system: a reference to one of the classes below.
using TMIMEDecoderClass = const TMIMEDecoder*;

// Base64 is written in lines of this many characters (a multiple of four, so that no
// group of four ever spans two lines).
inline constexpr std::size_t BASE64_ENCODED_LINE_LENGTH = 60;
// uuencode carries this many bytes per line.
inline constexpr std::size_t UU_BYTES_PER_LINE = 45;
// Quoted-printable breaks a line softly once more than this many characters stand on it;
// an escape may end two characters later, so a line holds at most 74 before its '='.
inline constexpr std::size_t QP_SOFT_BREAK_AFTER = 71;

// Streams are memory streams (std::stringstream) or files; a Decode appends at the write
// position, an Encode reads from the stream's beginning. Lines never hold terminators;
// the text of a list is its lines, each followed by CR LF.
//
// Every Decode and Encode is cooperative: when the progress hook says that the calling
// worker must stop, it does nothing and answers true. It never throws: any failure
// (a line its codec rejects, a stream that fails) answers false and leaves the bytes
// already written in place. DecodeLine and EncodeLine let their codec's errors through.
class TMIMEDecoder {
public:
    TMIMEDecoder(const TMIMEDecoder&) = delete;
    TMIMEDecoder& operator=(const TMIMEDecoder&) = delete;

    // The class operations, in the order of their slots.

    // The bytes that one encoded line stands for.
    [[nodiscard]] virtual std::string DecodeLine(std::string_view line) const = 0;
    // Decodes the whole list and writes the bytes to the stream. Here: DecodeLine of
    // every line in order, writing each non-empty result.
    virtual bool Decode(const std::vector<std::string>& lines, std::iostream& stream) const;
    // The encoded form of the bytes; here the bytes unchanged.
    [[nodiscard]] virtual std::string EncodeLine(std::string_view bytes) const;
    // Reads the stream from its beginning and appends the encoded lines to the list.
    virtual bool Encode(std::iostream& stream, std::vector<std::string>& lines) const = 0;
    // The Content-Transfer-Encoding name the class stands for ("base64", ...).
    [[nodiscard]] virtual std::string_view TransferEncodingName() const = 0;

    // Class identity: the class's own name; its base class, none for the classes that
    // derive from this root directly (the root has no descriptor of its own); and
    // whether it is `ancestor` or descends from it.
    [[nodiscard]] virtual std::string_view ClassName() const = 0;
    [[nodiscard]] virtual TMIMEDecoderClass ClassParent() const;
    [[nodiscard]] bool InheritsFrom(TMIMEDecoderClass ancestor) const;

protected:
    TMIMEDecoder() = default;
    virtual ~TMIMEDecoder() = default;
};

// Base64, each line decoded on its own; encoded in lines of BASE64_ENCODED_LINE_LENGTH.
class TBase64Decoder : public TMIMEDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string DecodeLine(std::string_view line) const override;
    [[nodiscard]] std::string EncodeLine(std::string_view bytes) const override;
    bool Encode(std::iostream& stream, std::vector<std::string>& lines) const override;
    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;

protected:
    TBase64Decoder() = default;
};

// uuencode without "begin"/"end" framing (callers remove it): one line per
// UU_BYTES_PER_LINE bytes. Decode stops with false at the first line UUDecode rejects.
class TUUDecoder : public TMIMEDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string DecodeLine(std::string_view line) const override;
    bool Decode(const std::vector<std::string>& lines, std::iostream& stream) const override;
    [[nodiscard]] std::string EncodeLine(std::string_view bytes) const override;
    bool Encode(std::iostream& stream, std::vector<std::string>& lines) const override;
    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;

protected:
    TUUDecoder() = default;
};

// The same codec under the name "x-uuencode".
class TXUUDecoder : public TUUDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;
    [[nodiscard]] TMIMEDecoderClass ClassParent() const override;

protected:
    TXUUDecoder() = default;
};

// Quoted-printable: decoded as one text (soft line breaks join lines), encoded line by
// line and then split so that every physical line is one entry.
class TQuotedPrintableDecoder : public TMIMEDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string DecodeLine(std::string_view line) const override;
    bool Decode(const std::vector<std::string>& lines, std::iostream& stream) const override;
    [[nodiscard]] std::string EncodeLine(std::string_view bytes) const override;
    bool Encode(std::iostream& stream, std::vector<std::string>& lines) const override;
    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;

protected:
    TQuotedPrintableDecoder() = default;
};

// For a part that names no encoding (or an unknown one): every operation picks a class
// with SniffDecoderClass and hands over to it. It looks at the line for DecodeLine and
// EncodeLine, the text of the source list for Decode, and the text already in the
// target list for Encode (which then splits the list at embedded line breaks).
// Decode takes a text that sniffs as uuencode as it stands (see SniffDecoderClass).
class TDefaultDecoder : public TMIMEDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string DecodeLine(std::string_view line) const override;
    bool Decode(const std::vector<std::string>& lines, std::iostream& stream) const override;
    [[nodiscard]] std::string EncodeLine(std::string_view bytes) const override;
    bool Encode(std::iostream& stream, std::vector<std::string>& lines) const override;
    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;

protected:
    TDefaultDecoder() = default;
};

// Identity. DecodeLine and EncodeLine give the input followed by CR LF; Decode writes
// the text of the list and moves the stream's read position to its start; Encode
// replaces the list by the stream's text split into lines.
class TBinaryDecoder : public TMIMEDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string DecodeLine(std::string_view line) const override;
    bool Decode(const std::vector<std::string>& lines, std::iostream& stream) const override;
    [[nodiscard]] std::string EncodeLine(std::string_view bytes) const override;
    bool Encode(std::iostream& stream, std::vector<std::string>& lines) const override;
    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;

protected:
    TBinaryDecoder() = default;
};

class T7BitDecoder : public TBinaryDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;
    [[nodiscard]] TMIMEDecoderClass ClassParent() const override;

protected:
    T7BitDecoder() = default;
};

class T8BitDecoder : public TBinaryDecoder {
public:
    [[nodiscard]] static TMIMEDecoderClass Class();

    [[nodiscard]] std::string_view TransferEncodingName() const override;
    [[nodiscard]] std::string_view ClassName() const override;
    [[nodiscard]] TMIMEDecoderClass ClassParent() const override;

protected:
    T8BitDecoder() = default;
};

// The class whose TransferEncodingName equals `name` ignoring ASCII case, tried in the
// order base64, uuencode, x-uuencode, quoted-printable, default, binary, 7bit, 8bit;
// nullptr for an unknown name.
[[nodiscard]] TMIMEDecoderClass FindDecoderClass(std::string_view name);

// True for TBinaryDecoder, T7BitDecoder and T8BitDecoder: the classes whose decoded
// lines are the raw lines. False for nullptr.
[[nodiscard]] bool IsBinaryFamily(TMIMEDecoderClass decoderClass);

// The list functions. A nullptr class counts as TDefaultDecoder.
// Binary family: the target becomes a copy of the source, true. Otherwise the source
// decoded, split into lines (at CR, LF or CR LF), replaces the target; Decode's result.
bool DecodeLines(TMIMEDecoderClass decoderClass, const std::vector<std::string>& source,
                 std::vector<std::string>& target);
// Binary family: nothing, true. Otherwise the lines are replaced by the encoded text of
// the lines; Encode's result.
bool EncodeLinesInPlace(TMIMEDecoderClass decoderClass, std::vector<std::string>& lines);
// Binary family: nothing, true. Otherwise the lines are replaced by their decoded bytes
// split into lines; Decode's result.
bool DecodeLinesInPlace(TMIMEDecoderClass decoderClass, std::vector<std::string>& lines);

// The class that a text looks encoded with: quoted-printable when its first "=" CR LF
// stands after the first character and does not follow another '='; else uuencode when
// it holds "egin 6" and a line "end" between CR LFs; else 7bit.
[[nodiscard]] TMIMEDecoderClass SniffDecoderClass(std::string_view text);

// --- Text of line lists ---

// The line breaks of one text in order. Each of CR and LF is searched with memchr and
// its next position kept until the lines pass it, so that a text with only one kind
// (or none) is still searched once, not once per line.
class TLineBreaks {
public:
    explicit TLineBreaks(std::string_view text) : text_(text) {}

    // The first CR or LF at or after `start`; npos when there is none.
    std::size_t Next(std::size_t start) {
        return std::min(cr_.Next(text_, '\r', start), lf_.Next(text_, '\n', start));
    }

private:
    struct TNext {
        bool known = false;
        std::size_t at = std::string_view::npos;  // npos: none left

        std::size_t Next(std::string_view text, char c, std::size_t start) {
            if (known && (at == std::string_view::npos || at >= start)) return at;
            known = true;
            const void* found = start < text.size()
                                    ? std::memchr(text.data() + start, c, text.size() - start)
                                    : nullptr;
            at = found == nullptr ? std::string_view::npos
                                  : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
            return at;
        }
    };

    std::string_view text_;
    TNext cr_;
    TNext lf_;
};

// The lines, each followed by CR LF.
[[nodiscard]] std::string TextOfLines(const std::vector<std::string>& lines);
// The text split at CR LF, CR or LF; a terminator at the very end adds no empty line.
[[nodiscard]] std::vector<std::string> SplitLines(std::string_view text);

// --- The byte-level codecs ---

// One Base64 line, read in groups of four characters; every character of the line takes
// a place in a group, and one outside the alphabet counts as the value 0. A group gives
// three bytes, one when its third character is '=', two when its fourth is, none when
// its first is. Characters after the last complete group are ignored, so a group never
// spans two lines: a line of 77 characters loses its last one.
[[nodiscard]] std::string Base64DecodeLine(std::string_view line);
// Standard Base64 with '=' padding and no line breaks.
[[nodiscard]] std::string Base64Encode(std::string_view bytes);
// Base64Encode cut into lines of `lineLength` (> 0) characters, the last one shorter.
[[nodiscard]] std::vector<std::string> Base64EncodeLines(
    std::string_view bytes, std::size_t lineLength = BASE64_ENCODED_LINE_LENGTH);

// Quoted-printable decoding of a whole text (its lines joined by CR LF): spaces and tabs
// among the final line breaks go; '=' and one or two hex digits (either case) give one
// byte, and an encoded space before a line break gives a space and CR LF (taking up to
// two CR/LF characters); an '=' without digits goes with up to two following CR/LF
// characters (a soft line break); a final '=' goes.
[[nodiscard]] std::string QuotedPrintableDecode(std::string_view text);
// Quoted-printable encoding of one text. The text is split at its first CR LF and both
// halves encoded (CR LF stays between them). Otherwise '=', bytes below the space and
// bytes above '~' become "=XX" (upper-case hex); once more than `softBreakAfter`
// characters stand on the output line, "=" CR LF follows; a final space is escaped.
[[nodiscard]] std::string QuotedPrintableEncodeLine(
    std::string_view text, std::size_t softBreakAfter = QP_SOFT_BREAK_AFTER);

}  // namespace gatemoor
