#include "mail/EmailDecoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "foundation/VornCriticalSections.h"
#include "mail/EmailHeader.h"
#include "mail/EncodedWords.h"
#include "screening/VornUtilProgress.h"

namespace gatemoor {

static_assert(UU_BYTES_PER_LINE == kUULineBytes);

namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view BASE64_ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view UPPER_HEX = "0123456789ABCDEF";
// Decoded bytes are gathered and written to the stream in pieces of this size.
constexpr std::size_t SINK_BUFFER_BYTES = 64 * 1024;

// Base64 value of every byte; characters outside the alphabet count as 0.
constexpr std::array<unsigned char, 256> MakeBase64Values() {
    std::array<unsigned char, 256> values{};
    for (std::size_t i = 0; i < BASE64_ALPHABET.size(); ++i)
        values[static_cast<unsigned char>(BASE64_ALPHABET[i])] = static_cast<unsigned char>(i);
    return values;
}
constexpr std::array<unsigned char, 256> BASE64_VALUES = MakeBase64Values();

constexpr unsigned Base64Value(char c) {
    return BASE64_VALUES[static_cast<unsigned char>(c)];
}

constexpr bool IsLineBreakChar(char c) {
    return c == '\r' || c == '\n';
}

// The first CR or LF at or after `start`; npos when there is none. (A plain loop: the
// library's find_first_of searches the set once per character.)
std::size_t FindLineBreak(std::string_view text, std::size_t start) {
    for (std::size_t i = start; i < text.size(); ++i)
        if (IsLineBreakChar(text[i])) return i;
    return std::string_view::npos;
}

// Calls `visit` with every line of the text, split as SplitLines splits it.
template <class Visit>
void ForEachLine(std::string_view text, Visit&& visit) {
    TLineBreaks breaks(text);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t stop = breaks.Next(start);
        if (stop == std::string_view::npos) {
            visit(text.substr(start));
            return;
        }
        visit(text.substr(start, stop - start));
        start = stop + 1;
        if (text[stop] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
}

constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Runs the work of a Decode or Encode under the cooperative stop: a worker that must
// stop gets true at once; errors become false; the hook hears once more at the end.
template <class Work>
bool Cooperatively(Work&& work) {
    if (ReportProgress()) return true;
    bool result = false;
    try {
        result = work();
    } catch (...) {
        result = false;
    }
    (void)ReportProgress();
    return result;
}

void WriteBytes(std::ostream& stream, std::string_view bytes) {
    if (bytes.empty()) return;
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream) throw std::runtime_error("stream write failed");
}

// Gathers decoded bytes and writes them in large pieces; what was gathered reaches the
// stream even when the decoding stops with an error, since those bytes were decoded.
class TByteSink {
public:
    explicit TByteSink(std::ostream& stream) : stream_(stream) {}
    TByteSink(const TByteSink&) = delete;
    TByteSink& operator=(const TByteSink&) = delete;
    ~TByteSink() {
        if (!buffer_.empty()) stream_.write(buffer_.data(), std::streamsize(buffer_.size()));
    }
    void Append(std::string_view bytes) {
        buffer_.append(bytes);
        if (buffer_.size() >= SINK_BUFFER_BYTES) Flush();
    }
    // Writes what is gathered; true when the stream took everything so far.
    bool Flush() {
        WriteBytes(stream_, buffer_);
        buffer_.clear();
        return bool(stream_);
    }

private:
    std::ostream& stream_;
    std::string buffer_;
};

// Everything in the stream, read from its beginning; the stream stays usable.
std::string ReadWholeStream(std::iostream& stream) {
    stream.clear();
    std::string bytes;
    if (stream.seekg(0, std::ios::end)) {
        const std::streamoff size = stream.tellg();
        stream.seekg(0);
        if (size > 0) {
            bytes.resize(static_cast<std::size_t>(size));
            stream.read(bytes.data(), size);
            bytes.resize(static_cast<std::size_t>(stream.gcount()));
        }
    } else {
        // A stream that cannot seek is read from where it stands.
        stream.clear();
        bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    }
    if (stream.bad()) throw std::runtime_error("stream read failed");
    stream.clear();
    return bytes;
}

// Splits entries that hold line breaks into the lines they stand for, as the text of
// the list would be read back: "a=" CR LF becomes "a=" and an empty line.
void ResplitLines(std::vector<std::string>& lines) {
    const auto holdsBreak = [](const std::string& line) {
        return FindLineBreak(line, 0) != std::string_view::npos;
    };
    std::size_t first = 0;
    while (first < lines.size() && !holdsBreak(lines[first]))
        ++first;
    if (first == lines.size()) return;
    std::vector<std::string> result(std::make_move_iterator(lines.begin()),
                                    std::make_move_iterator(lines.begin() + first));
    result.reserve(lines.size() + 8);
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (!holdsBreak(lines[i])) {
            result.push_back(std::move(lines[i]));
            continue;
        }
        lines[i].append(CRLF);
        for (std::string& piece : SplitLines(lines[i]))
            result.push_back(std::move(piece));
    }
    lines = std::move(result);
}

void AppendLines(std::vector<std::string>& lines, std::vector<std::string>&& more) {
    if (lines.empty()) {
        lines = std::move(more);
        return;
    }
    lines.reserve(lines.size() + more.size());
    for (std::string& line : more)
        lines.push_back(std::move(line));
}

// Decode of a text taken as it stands: the text of the list, read position at 0.
bool WriteTextOfLines(const std::vector<std::string>& lines, std::iostream& stream) {
    WriteBytes(stream, TextOfLines(lines));
    stream.seekg(0);
    return bool(stream);
}

}  // namespace

// --- Text of line lists ---

std::string TextOfLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const std::string& line : lines)
        size += line.size() + CRLF.size();
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text.append(line);
        text.append(CRLF);
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

// --- Base64 ---

std::string Base64DecodeLine(std::string_view line) {
    std::string bytes;
    bytes.reserve(line.size() / 4 * 3);
    for (std::size_t i = 0; i + 4 <= line.size(); i += 4) {
        const char* group = line.data() + i;
        if (group[0] == '=') continue;
        const unsigned bits = Base64Value(group[0]) << 18 | Base64Value(group[1]) << 12 |
                              Base64Value(group[2]) << 6 | Base64Value(group[3]);
        bytes.push_back(static_cast<char>(bits >> 16));
        if (group[2] == '=') continue;
        bytes.push_back(static_cast<char>(bits >> 8));
        if (group[3] == '=') continue;
        bytes.push_back(static_cast<char>(bits));
    }
    return bytes;
}

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned bits = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
        text.push_back(BASE64_ALPHABET[bits >> 18 & 63]);
        text.push_back(BASE64_ALPHABET[bits >> 12 & 63]);
        text.push_back(BASE64_ALPHABET[bits >> 6 & 63]);
        text.push_back(BASE64_ALPHABET[bits & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned bits = unsigned(data[i]) << 16;
        if (rest == 2) bits |= unsigned(data[i + 1]) << 8;
        text.push_back(BASE64_ALPHABET[bits >> 18 & 63]);
        text.push_back(BASE64_ALPHABET[bits >> 12 & 63]);
        text.push_back(rest == 2 ? BASE64_ALPHABET[bits >> 6 & 63] : '=');
        text.push_back('=');
    }
    return text;
}

std::vector<std::string> Base64EncodeLines(std::string_view bytes, std::size_t lineLength) {
    if (lineLength == 0) throw std::invalid_argument("Base64EncodeLines: line length 0");
    const std::string text = Base64Encode(bytes);
    std::vector<std::string> lines;
    lines.reserve(text.size() / lineLength + 1);
    for (std::size_t start = 0; start < text.size(); start += lineLength)
        lines.push_back(text.substr(start, lineLength));
    return lines;
}

// --- Quoted-printable ---

namespace {

// Skips up to two CR/LF characters at `i`.
std::size_t SkipLineBreakChars(std::string_view text, std::size_t i) {
    for (int n = 0; n < 2 && i < text.size() && IsLineBreakChar(text[i]); ++n)
        ++i;
    return i;
}

void DecodeQuotedPrintableInto(std::string_view text, std::string& out) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t eq = text.find('=', i);
        if (eq == std::string_view::npos) {
            out.append(text.substr(i));
            return;
        }
        out.append(text.substr(i, eq - i));
        i = eq + 1;
        int digits = 0;
        int value = 0;
        for (; digits < 2 && i < text.size() && HexValue(text[i]) >= 0; ++digits, ++i)
            value = value * 16 + HexValue(text[i]);
        if (digits == 0) {
            // A soft line break, or an '=' before anything else: the '=' goes.
            i = SkipLineBreakChars(text, i);
        } else if (value == ' ' && i < text.size() && IsLineBreakChar(text[i])) {
            // An encoded space that ends a line keeps the line break after it.
            out.append(" \r\n");
            i = SkipLineBreakChars(text, i);
        } else {
            out.push_back(static_cast<char>(value));
        }
    }
}

void EncodeQuotedPrintablePiece(std::string_view piece, std::size_t softBreakAfter,
                                std::string& out) {
    const std::size_t pieceStart = out.size();
    std::size_t count = 0;
    for (const char c : piece) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '=' || code < ' ' || code > '~') {
            out.push_back('=');
            out.push_back(UPPER_HEX[code >> 4]);
            out.push_back(UPPER_HEX[code & 15]);
            count += 3;
        } else {
            out.push_back(c);
            ++count;
        }
        if (count > softBreakAfter) {
            out.append("=\r\n");
            count = 0;
        }
    }
    // A blank at the end of a line would be taken for padding and lost.
    if (out.size() > pieceStart && (out.back() == ' ' || out.back() == '\t')) {
        const auto code = static_cast<unsigned char>(out.back());
        out.back() = '=';
        out.push_back(UPPER_HEX[code >> 4]);
        out.push_back(UPPER_HEX[code & 15]);
    }
}

}  // namespace

std::string QuotedPrintableDecode(std::string_view text) {
    // Spaces and tabs among the final line breaks are padding, not content.
    std::size_t tail = text.size();
    while (tail > 0 &&
           (IsLineBreakChar(text[tail - 1]) || text[tail - 1] == ' ' || text[tail - 1] == '\t'))
        --tail;
    std::string out;
    out.reserve(text.size());
    if (text.find_first_of(" \t", tail) == std::string_view::npos) {
        DecodeQuotedPrintableInto(text, out);
        return out;
    }
    std::string trimmed(text.substr(0, tail));
    for (const char c : text.substr(tail))
        if (IsLineBreakChar(c)) trimmed.push_back(c);
    DecodeQuotedPrintableInto(trimmed, out);
    return out;
}

namespace {

// QuotedPrintableEncodeLine, appended to `out`. Each piece between CR LFs is encoded on
// its own and the CR LFs stay; a loop, not recursion, so that a text of many lines
// cannot exhaust the stack.
void AppendQuotedPrintableLine(std::string_view text, std::size_t softBreakAfter,
                               std::string& out) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t stop = text.find(CRLF, start);
        EncodeQuotedPrintablePiece(text.substr(start, stop - start), softBreakAfter, out);
        if (stop == std::string_view::npos) return;
        out.append(CRLF);
        start = stop + CRLF.size();
    }
}

// Appends the physical lines of an encoded text whose only breaks are CR LFs, as the
// text of the list would be read back: a final soft break leaves an empty line.
void AppendPhysicalLines(std::string_view encoded, std::vector<std::string>& lines) {
    std::size_t start = 0;
    for (std::size_t stop; (stop = encoded.find(CRLF, start)) != std::string_view::npos;
         start = stop + CRLF.size())
        lines.emplace_back(encoded.substr(start, stop - start));
    lines.emplace_back(encoded.substr(start));
}

}  // namespace

std::string QuotedPrintableEncodeLine(std::string_view text, std::size_t softBreakAfter) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    AppendQuotedPrintableLine(text, softBreakAfter, out);
    return out;
}

// --- Sniffing ---

TMIMEDecoderClass SniffDecoderClass(std::string_view text) {
    const std::size_t softBreak = text.find("=\r\n");
    if (softBreak != std::string_view::npos && softBreak > 0 && text[softBreak - 1] != '=')
        return TQuotedPrintableDecoder::Class();
    if (text.find("egin 6") != std::string_view::npos &&
        text.find("\r\nend\r\n") != std::string_view::npos)
        return TUUDecoder::Class();
    return T7BitDecoder::Class();
}

// --- TMIMEDecoder ---

bool TMIMEDecoder::Decode(const std::vector<std::string>& lines, std::iostream& stream) const {
    return Cooperatively([&] {
        TByteSink sink(stream);
        for (const std::string& line : lines)
            sink.Append(DecodeLine(line));
        return sink.Flush();
    });
}

std::string TMIMEDecoder::EncodeLine(std::string_view bytes) const {
    return std::string(bytes);
}

TMIMEDecoderClass TMIMEDecoder::ClassParent() const {
    return nullptr;
}

bool TMIMEDecoder::InheritsFrom(TMIMEDecoderClass ancestor) const {
    for (TMIMEDecoderClass c = this; c != nullptr; c = c->ClassParent())
        if (c == ancestor) return true;
    return false;
}

// --- TBase64Decoder ---

TMIMEDecoderClass TBase64Decoder::Class() {
    static const TBase64Decoder descriptor;
    return &descriptor;
}

std::string TBase64Decoder::DecodeLine(std::string_view line) const {
    return Base64DecodeLine(line);
}

std::string TBase64Decoder::EncodeLine(std::string_view bytes) const {
    return Base64Encode(bytes);
}

bool TBase64Decoder::Encode(std::iostream& stream, std::vector<std::string>& lines) const {
    return Cooperatively([&] {
        AppendLines(lines, Base64EncodeLines(ReadWholeStream(stream)));
        ResplitLines(lines);
        return true;
    });
}

std::string_view TBase64Decoder::TransferEncodingName() const {
    return "base64";
}
std::string_view TBase64Decoder::ClassName() const {
    return "TBase64Decoder";
}

// --- TUUDecoder, TXUUDecoder ---

TMIMEDecoderClass TUUDecoder::Class() {
    static const TUUDecoder descriptor;
    return &descriptor;
}

std::string TUUDecoder::DecodeLine(std::string_view line) const {
    return UUDecode(line);
}

bool TUUDecoder::Decode(const std::vector<std::string>& lines, std::iostream& stream) const {
    return Cooperatively([&] {
        // The first line UUDecode rejects throws out of here: the result is false and
        // the bytes of the lines before it reach the stream.
        TByteSink sink(stream);
        for (const std::string& line : lines)
            sink.Append(UUDecode(line));
        return sink.Flush();
    });
}

std::string TUUDecoder::EncodeLine(std::string_view bytes) const {
    return UUEncode(bytes);
}

bool TUUDecoder::Encode(std::iostream& stream, std::vector<std::string>& lines) const {
    return Cooperatively([&] {
        const std::string bytes = ReadWholeStream(stream);
        std::vector<std::string> encoded;
        encoded.reserve(bytes.size() / UU_BYTES_PER_LINE + 1);
        const std::string_view all(bytes);
        for (std::size_t start = 0; start < all.size(); start += UU_BYTES_PER_LINE)
            encoded.push_back(UUEncode(all.substr(start, UU_BYTES_PER_LINE)));
        AppendLines(lines, std::move(encoded));
        ResplitLines(lines);
        return true;
    });
}

std::string_view TUUDecoder::TransferEncodingName() const {
    return "uuencode";
}
std::string_view TUUDecoder::ClassName() const {
    return "TUUDecoder";
}

TMIMEDecoderClass TXUUDecoder::Class() {
    static const TXUUDecoder descriptor;
    return &descriptor;
}
std::string_view TXUUDecoder::TransferEncodingName() const {
    return "x-uuencode";
}
std::string_view TXUUDecoder::ClassName() const {
    return "TXUUDecoder";
}
TMIMEDecoderClass TXUUDecoder::ClassParent() const {
    return TUUDecoder::Class();
}

// --- TQuotedPrintableDecoder ---

TMIMEDecoderClass TQuotedPrintableDecoder::Class() {
    static const TQuotedPrintableDecoder descriptor;
    return &descriptor;
}

std::string TQuotedPrintableDecoder::DecodeLine(std::string_view line) const {
    return QuotedPrintableDecode(line);
}

bool TQuotedPrintableDecoder::Decode(const std::vector<std::string>& lines,
                                     std::iostream& stream) const {
    return Cooperatively([&] {
        WriteBytes(stream, QuotedPrintableDecode(TextOfLines(lines)));
        return bool(stream);
    });
}

std::string TQuotedPrintableDecoder::EncodeLine(std::string_view bytes) const {
    return QuotedPrintableEncodeLine(bytes);
}

bool TQuotedPrintableDecoder::Encode(std::iostream& stream, std::vector<std::string>& lines) const {
    return Cooperatively([&] {
        const std::string bytes = ReadWholeStream(stream);
        // The lines already there are split as the whole list would be; the new ones
        // go in split at their soft line breaks, one physical line per entry.
        ResplitLines(lines);
        lines.reserve(lines.size() + bytes.size() / 64 + 1);
        std::string encoded;
        ForEachLine(bytes, [&](std::string_view line) {
            encoded.clear();
            AppendQuotedPrintableLine(line, QP_SOFT_BREAK_AFTER, encoded);
            AppendPhysicalLines(encoded, lines);
        });
        return true;
    });
}

std::string_view TQuotedPrintableDecoder::TransferEncodingName() const {
    return "quoted-printable";
}
std::string_view TQuotedPrintableDecoder::ClassName() const {
    return "TQuotedPrintableDecoder";
}

// --- TDefaultDecoder ---

TMIMEDecoderClass TDefaultDecoder::Class() {
    static const TDefaultDecoder descriptor;
    return &descriptor;
}

std::string TDefaultDecoder::DecodeLine(std::string_view line) const {
    return SniffDecoderClass(line)->DecodeLine(line);
}

bool TDefaultDecoder::Decode(const std::vector<std::string>& lines, std::iostream& stream) const {
    return Cooperatively([&] {
        TMIMEDecoderClass chosen = SniffDecoderClass(TextOfLines(lines));
        // The uuencode look comes from a "begin" ... "end" block inside the text, and
        // the uuencode codec rejects those framing lines: it would keep nothing of the
        // text but garbage from the lines before them. The text stays as it is, so the
        // block reaches the code that extracts uuencoded attachments.
        if (chosen->InheritsFrom(TUUDecoder::Class())) chosen = T7BitDecoder::Class();
        return chosen->Decode(lines, stream);
    });
}

std::string TDefaultDecoder::EncodeLine(std::string_view bytes) const {
    return SniffDecoderClass(bytes)->EncodeLine(bytes);
}

bool TDefaultDecoder::Encode(std::iostream& stream, std::vector<std::string>& lines) const {
    return Cooperatively([&] {
        const bool result = SniffDecoderClass(TextOfLines(lines))->Encode(stream, lines);
        ResplitLines(lines);
        return result;
    });
}

std::string_view TDefaultDecoder::TransferEncodingName() const {
    return "default";
}
std::string_view TDefaultDecoder::ClassName() const {
    return "TDefaultDecoder";
}

// --- The binary family ---

TMIMEDecoderClass TBinaryDecoder::Class() {
    static const TBinaryDecoder descriptor;
    return &descriptor;
}

std::string TBinaryDecoder::DecodeLine(std::string_view line) const {
    std::string bytes(line);
    bytes.append(CRLF);
    return bytes;
}

bool TBinaryDecoder::Decode(const std::vector<std::string>& lines, std::iostream& stream) const {
    return Cooperatively([&] { return WriteTextOfLines(lines, stream); });
}

std::string TBinaryDecoder::EncodeLine(std::string_view bytes) const {
    return DecodeLine(bytes);
}

bool TBinaryDecoder::Encode(std::iostream& stream, std::vector<std::string>& lines) const {
    return Cooperatively([&] {
        lines = SplitLines(ReadWholeStream(stream));
        return true;
    });
}

std::string_view TBinaryDecoder::TransferEncodingName() const {
    return "binary";
}
std::string_view TBinaryDecoder::ClassName() const {
    return "TBinaryDecoder";
}

TMIMEDecoderClass T7BitDecoder::Class() {
    static const T7BitDecoder descriptor;
    return &descriptor;
}
std::string_view T7BitDecoder::TransferEncodingName() const {
    return "7bit";
}
std::string_view T7BitDecoder::ClassName() const {
    return "T7BitDecoder";
}
TMIMEDecoderClass T7BitDecoder::ClassParent() const {
    return TBinaryDecoder::Class();
}

TMIMEDecoderClass T8BitDecoder::Class() {
    static const T8BitDecoder descriptor;
    return &descriptor;
}
std::string_view T8BitDecoder::TransferEncodingName() const {
    return "8bit";
}
std::string_view T8BitDecoder::ClassName() const {
    return "T8BitDecoder";
}
TMIMEDecoderClass T8BitDecoder::ClassParent() const {
    return TBinaryDecoder::Class();
}

// --- Class lookup and the list functions ---

TMIMEDecoderClass FindDecoderClass(std::string_view name) {
    const TMIMEDecoderClass classes[] = {
        TBase64Decoder::Class(),  TUUDecoder::Class(),
        TXUUDecoder::Class(),     TQuotedPrintableDecoder::Class(),
        TDefaultDecoder::Class(), TBinaryDecoder::Class(),
        T7BitDecoder::Class(),    T8BitDecoder::Class(),
    };
    for (TMIMEDecoderClass c : classes)
        if (EqualsIgnoringCase(name, c->TransferEncodingName())) return c;
    return nullptr;
}

bool IsBinaryFamily(TMIMEDecoderClass decoderClass) {
    return decoderClass != nullptr && decoderClass->InheritsFrom(TBinaryDecoder::Class());
}

namespace {

TMIMEDecoderClass OrDefault(TMIMEDecoderClass decoderClass) {
    return decoderClass != nullptr ? decoderClass : TDefaultDecoder::Class();
}

}  // namespace

bool DecodeLines(TMIMEDecoderClass decoderClass, const std::vector<std::string>& source,
                 std::vector<std::string>& target) {
    decoderClass = OrDefault(decoderClass);
    if (IsBinaryFamily(decoderClass)) {
        target = source;
        return true;
    }
    std::stringstream stream;
    const bool result = decoderClass->Decode(source, stream);
    target = SplitLines(stream.view());
    return result;
}

bool EncodeLinesInPlace(TMIMEDecoderClass decoderClass, std::vector<std::string>& lines) {
    decoderClass = OrDefault(decoderClass);
    if (IsBinaryFamily(decoderClass)) return true;
    std::stringstream stream(TextOfLines(lines));
    lines.clear();
    return decoderClass->Encode(stream, lines);
}

bool DecodeLinesInPlace(TMIMEDecoderClass decoderClass, std::vector<std::string>& lines) {
    decoderClass = OrDefault(decoderClass);
    if (IsBinaryFamily(decoderClass)) return true;
    std::stringstream stream;
    const bool result = decoderClass->Decode(lines, stream);
    lines = SplitLines(stream.view());
    return result;
}

// --- The decoder of a header (operations of TEmailHeader) ---

bool TEmailHeader::GetDecoderClass(TMIMEDecoderClass& decoderClass) const {
    CriticalSectionGuard guard(lock_);
    decoderClass = nullptr;
    bool found = false;
    std::string name;
    if (GetTransferEncoding(name)) {
        decoderClass = FindDecoderClass(name);
        found = decoderClass != nullptr;
    } else if (!IsPlainText() && !IsHtml() && owner_ != nullptr && !IsMessageHeader() &&
               (IsAttachment() || IsInlineAttachment()) && !IsMessagePart()) {
        // An attachment that names no encoding is taken to be Base64.
        decoderClass = TBase64Decoder::Class();
    }
    if (decoderClass == nullptr) decoderClass = TDefaultDecoder::Class();
    return found;
}

bool TEmailHeader::IsEncoded() const {
    CriticalSectionGuard guard(lock_);
    TMIMEDecoderClass decoderClass = nullptr;
    return GetDecoderClass(decoderClass) && !IsBinaryFamily(decoderClass);
}

}  // namespace gatemoor
