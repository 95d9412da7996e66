// The small codecs of header text: RFC 2047 encoded words (two decoders with different
// rules, both part of the screening policy) and one-line uuencoding. No character set
// is converted except ISO-2022-JP, which becomes Shift_JIS; everything else stays the
// decoded bytes. All functions are pure.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gatemoor {

// Raised by UUEncode and UUDecode with the texts "UUEncode: String too long" and
// "UUDecode: Incorrect string format".
class EUUCodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most bytes one uuencoded line holds.
inline constexpr std::size_t kUULineBytes = 45;

// DecodeEncodedWords decodes again from the start after every word (a decoded text may
// hold a word of its own); it gives up after this many words and leaves the rest as it
// is, because uudecoded words can grow the text.
inline constexpr int kMaxEncodedWordPasses = 1000;

// The decoder of every decoded header read. It picks one word by charset preference
// ("=?ISO", "=?WINDOWS", "=?US-ASCII", "=?UTF-", "=?CP-", then any "=?"; the first
// prefix found anywhere wins), decodes it (Q, else B), then the rest of the text the
// same way; text before the chosen word stays as it is. The decoded rest is trimmed
// when it began with "=?", so adjacent words lose the blanks between them only when
// they are written without any. A word whose delimiters are incomplete ends decoding.
// NUL bytes are removed from the result, which is never longer than `text`.
// Lenient: a Q "=" followed by two non-hex characters stays as it is.
[[nodiscard]] std::string DecodeHeaderText(std::string_view text);

// JIS (ISO-2022-JP) bytes to Shift_JIS bytes. Text the converter refuses (unassigned
// codes, stray 8-bit bytes, a cut-off pair) is mapped by the arithmetic JIS X 0208 rule
// instead, so that no input is lost.
[[nodiscard]] std::string Iso2022JpToShiftJis(std::string_view bytes);

// The second decoder, applied to attachment file names: spaces trimmed, then the first
// "=?charset?X?text?=" replaced by its decoding (X = B, Q or U, anything else counting
// as Q; the charset is ignored), again and again from the start until no word is left
// (at most kMaxEncodedWordPasses words). A U word that UUDecode rejects ends decoding
// and stays in the text.
[[nodiscard]] std::string DecodeEncodedWords(std::string_view text);

// One uuencoded line: a length character, then four characters per three bytes, with
// the grave accent for the value 0. Empty input gives "`". Throws EUUCodeError for more
// than kUULineBytes bytes.
[[nodiscard]] std::string UUEncode(std::string_view bytes);

// The bytes of one uuencoded line. The first character announces the byte count (the
// result is cut or zero-filled to it), except a grave accent, which keeps every decoded
// byte. Throws EUUCodeError when the line is empty or its first character is below '!'
// or above 'a'. Missing characters of the last group count as 0.
[[nodiscard]] std::string UUDecode(std::string_view line);

}  // namespace gatemoor
