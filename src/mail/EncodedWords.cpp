#include "mail/EncodedWords.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <vector>

#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kEscape = 27;
constexpr char kGrave = '`';

[[nodiscard]] bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Value of a hex digit, or -1.
[[nodiscard]] int HexValue(char c, bool lowerCaseToo) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (lowerCaseToo && c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Index in the Base64 alphabet; 0 for every other character.
[[nodiscard]] unsigned Base64Value(char c) {
    std::size_t index = kBase64Alphabet.find(c);
    return index == std::string_view::npos ? 0u : static_cast<unsigned>(index);
}

// ---- DecodeHeaderText -------------------------------------------------------------

// The encoded-word prefixes in order of preference.
constexpr std::array<std::string_view, 6> kWordPrefixes = {
    "=?ISO", "=?WINDOWS", "=?US-ASCII", "=?UTF-", "=?CP-", "=?",
};

// Finds, for offsets that only grow, the first occurrence at or after the offset of the
// most preferred prefix that still occurs. Remembering each prefix's next occurrence
// keeps a value with many words linear.
class TPrefixFinder {
public:
    explicit TPrefixFinder(std::string_view text) : upper_(AsciiUpper(text)) {
        next_.fill(kUnknown);
    }

    [[nodiscard]] std::size_t Find(std::size_t from) {
        for (std::size_t k = 0; k < kWordPrefixes.size(); ++k) {
            if (next_[k] == kUnknown || (next_[k] != std::string::npos && next_[k] < from))
                next_[k] = upper_.find(kWordPrefixes[k], from);
            if (next_[k] != std::string::npos) return next_[k];
        }
        return std::string::npos;
    }

private:
    static constexpr std::size_t kUnknown = std::string::npos - 1;
    std::string upper_;
    std::array<std::size_t, kWordPrefixes.size()> next_{};
};

// Q: '_' is a blank, "=XY" a byte; an '=' too near the end, or followed by characters
// that are not hex digits, stays as it is (other readers show it the same way).
[[nodiscard]] std::string DecodeQWord(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < encoded.size() && HexValue(encoded[i + 1], true) >= 0 &&
                   HexValue(encoded[i + 2], true) >= 0) {
            out += static_cast<char>(HexValue(encoded[i + 1], true) * 16 +
                                     HexValue(encoded[i + 2], true));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// B, the header reader's way: whole groups of four only, every character outside the
// alphabet worth 0, all three bytes kept (padding gives NULs, removed later).
[[nodiscard]] std::string DecodeBWord(std::string_view encodedWithCloser) {
    std::string out;
    out.reserve(encodedWithCloser.size() / 4 * 3);
    for (std::size_t i = 0; i + 4 <= encodedWithCloser.size(); i += 4) {
        const unsigned w = Base64Value(encodedWithCloser[i]);
        const unsigned x = Base64Value(encodedWithCloser[i + 1]);
        const unsigned y = Base64Value(encodedWithCloser[i + 2]);
        const unsigned z = Base64Value(encodedWithCloser[i + 3]);
        out += static_cast<char>((w * 4 + x / 16) & 0xFF);
        out += static_cast<char>((x * 16 + y / 4) & 0xFF);
        out += static_cast<char>((y * 64 + z) & 0xFF);
    }
    return out;
}

[[nodiscard]] bool IsIso2022Jp(std::string_view charset) {
    return AsciiUpper(charset) == "ISO-2022-JP";
}

// One word found by the header reader: where it starts and ends, and its decoding.
struct THeaderWord {
    std::size_t start = 0;  // 0-based index of "=?"
    std::size_t end = 0;    // 0-based index just past the closing "?="
    std::string decoded;
};

// The preferred word at or after `from`; none when it is incomplete or there is none.
[[nodiscard]] std::optional<THeaderWord> NextHeaderWord(std::string_view text,
                                                        TPrefixFinder& finder, std::size_t from) {
    const std::size_t a = finder.Find(from);
    if (a == std::string::npos) return std::nullopt;
    const std::size_t b1 = text.find('?', a + 2);
    if (b1 == std::string::npos) return std::nullopt;
    const std::size_t b2 = text.find('?', b1 + 1);
    if (b2 == std::string::npos) return std::nullopt;
    const std::size_t e = text.find("?=", b2 + 1);
    if (e == std::string::npos) return std::nullopt;

    const std::string_view charset = text.substr(a + 2, b1 - a - 2);
    const char letter = text[b1 + 1];
    const std::string_view encoded = text.substr(b2 + 1, e - b2 - 1);
    THeaderWord word{a, e + 2, {}};
    if (!encoded.empty()) {
        word.decoded = AsciiUpper(letter) == 'Q' ? DecodeQWord(encoded)
                                                 : DecodeBWord(text.substr(b2 + 1, e + 2 - b2 - 1));
        if (IsIso2022Jp(charset)) word.decoded = Iso2022JpToShiftJis(word.decoded);
    }
    return word;
}

// A text built from its end towards its front, with blanks trimmed at both ends: it
// is held reversed, so prepending appends and trimming the far end moves a start index.
class TReversedText {
public:
    explicit TReversedText(std::string_view tail) : reversed_(tail.rbegin(), tail.rend()) {}

    void Prepend(std::string_view text) { reversed_.append(text.rbegin(), text.rend()); }
    void Trim() {
        while (reversed_.size() > start_ && IsBlank(reversed_.back()))
            reversed_.pop_back();
        while (start_ < reversed_.size() && IsBlank(reversed_[start_]))
            ++start_;
    }
    [[nodiscard]] std::string Take() const {
        return std::string(reversed_.rbegin(), reversed_.rend() - static_cast<long>(start_));
    }

private:
    std::string reversed_;
    std::size_t start_ = 0;
};

// ---- Iso2022JpToShiftJis ----------------------------------------------------------

// glibc's converter; none when it refuses any part of the text.
[[nodiscard]] std::optional<std::string> IconvIso2022JpToShiftJis(std::string_view bytes) {
    iconv_t cd = ::iconv_open("SHIFT_JIS", "ISO-2022-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    // Shift_JIS never needs more bytes than the JIS text it comes from.
    std::string out(bytes.size() + 16, '\0');
    std::string in(bytes);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    bool ok = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    if (ok) ok = ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!ok || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// The JIS X 0208 to Shift_JIS arithmetic with ESC "$B" / "(B" switching two-byte mode;
// other escapes are dropped, and so are a cut-off escape and a last unpaired byte.
[[nodiscard]] std::string ArithmeticIso2022JpToShiftJis(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    bool twoByte = false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c == kEscape) {
            if (i + 2 < bytes.size()) {
                const std::string_view pair = bytes.substr(i + 1, 2);
                if (pair == "$B") twoByte = true;
                if (pair == "(B") twoByte = false;
                i += 3;
            } else {
                i += 1;
            }
        } else if (!twoByte) {
            out += c;
            i += 1;
        } else if (i + 1 < bytes.size()) {
            const int j1 = static_cast<unsigned char>(c);
            const int j2 = static_cast<unsigned char>(bytes[i + 1]);
            const int s1 = (j1 - 1) / 2 + (j1 < 95 ? 113 : 177);
            const int s2 = (j1 % 2 == 0) ? j2 + 126 : (j2 < 96 ? j2 + 31 : j2 + 32);
            out += static_cast<char>(s1 & 0xFF);
            out += static_cast<char>(s2 & 0xFF);
            i += 2;
        } else {
            i += 1;
        }
    }
    return out;
}

// ---- DecodeEncodedWords -----------------------------------------------------------

// B, the file-name reader's way: '=' ends a group early (third position: one byte,
// fourth: two, earlier: none); a cut-off last group gives what it holds; the result
// ends at its first NUL.
[[nodiscard]] std::string DecodeBase64Text(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size() / 4 * 3 + 2);
    for (std::size_t i = 0; i < encoded.size(); i += 4) {
        const std::string_view group = encoded.substr(i, 4);
        std::size_t chars = group.size();
        if (std::size_t pad = group.find('='); pad != std::string_view::npos) chars = pad;
        std::array<unsigned, 4> v{};
        for (std::size_t k = 0; k < chars; ++k)
            v[k] = Base64Value(group[k]);
        if (chars >= 2) out += static_cast<char>((v[0] * 4 + v[1] / 16) & 0xFF);
        if (chars >= 3) out += static_cast<char>((v[1] * 16 + v[2] / 4) & 0xFF);
        if (chars >= 4) out += static_cast<char>((v[2] * 64 + v[3]) & 0xFF);
    }
    if (std::size_t nul = out.find('\0'); nul != std::string::npos) out.erase(nul);
    return out;
}

// Quoted-printable for file names: "=XY" with upper-case hex digits is a byte, "="
// with a line break after it goes with the break, a final "=" goes; any other "="
// stays. Decoded bytes are not looked at again.
[[nodiscard]] std::string DecodeQuotedPrintableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '=') {
            out += text[i++];
            continue;
        }
        if (i + 1 == text.size()) break;  // a final '=' is a soft break with nothing after
        if (i + 2 < text.size()) {
            const char a = text[i + 1];
            const char b = text[i + 2];
            if (HexValue(a, false) >= 0 && HexValue(b, false) >= 0) {
                out += static_cast<char>(HexValue(a, false) * 16 + HexValue(b, false));
                i += 3;
                continue;
            }
            if ((a == '\r' && b == '\n') || (a == '\n' && b == '\r')) {
                i += 3;
                continue;
            }
            if (a == '\r' || a == '\n') {
                i += 2;
                continue;
            }
        }
        out += '=';
        i += 1;
    }
    return out;
}

struct TFileNameWord {
    std::size_t start = 0;  // 0-based index of "=?"
    std::size_t end = 0;    // 0-based index just past the closing "?="
    char encoding = 'Q';
    std::string_view encoded;
};

// The first word at or after `from`, or none.
[[nodiscard]] std::optional<TFileNameWord> NextFileNameWord(std::string_view text,
                                                            std::size_t from) {
    const std::size_t p = text.find("=?", from);
    if (p == std::string_view::npos) return std::nullopt;
    const std::size_t q = text.find('?', p + 2);
    if (q == std::string_view::npos) return std::nullopt;
    std::size_t e = text.find("?=", q);
    if (e == std::string_view::npos || e <= q) return std::nullopt;
    // An encoded text may begin with '=': then the "?=" found first is not the closer.
    if (std::size_t later = text.find('?', e + 1);
        later != std::string_view::npos && later + 1 < text.size() && text[later + 1] == '=')
        e = later;

    const std::string_view piece = text.substr(q + 1, e - q - 1);
    TFileNameWord word{p, e + 2, 'Q', {}};
    if (piece.size() >= 2 && piece[1] == '?') {
        const char letter = AsciiUpper(piece[0]);
        if (letter == 'B' || letter == 'Q' || letter == 'U') word.encoding = letter;
    }
    if (piece.size() > 2) word.encoded = piece.substr(2);
    return word;
}

// The decoding of one word; none when a U word is not a uuencoded line.
[[nodiscard]] std::optional<std::string> DecodeFileNameWord(const TFileNameWord& word) {
    switch (word.encoding) {
        case 'B':
            return DecodeBase64Text(word.encoded);
        case 'U':
            try {
                return UUDecode(word.encoded);
            } catch (const EUUCodeError&) {
                // A throw here would end the screening of the whole message.
                return std::nullopt;
            }
        default: {
            std::string text(word.encoded);
            std::replace(text.begin(), text.end(), '_', ' ');
            return DecodeQuotedPrintableText(text);
        }
    }
}

// 6-bit uuencode value of a character; the grave accent stands for 0.
[[nodiscard]] unsigned UUValue(char c) {
    if (c == kGrave) return 0;
    return static_cast<unsigned>(static_cast<unsigned char>(c) - 32) & 0x3F;
}

[[nodiscard]] char UUChar(unsigned value) {
    value &= 0x3F;
    return value == 0 ? kGrave : static_cast<char>(value + 32);
}

}  // namespace

std::string DecodeHeaderText(std::string_view text) {
    // The decoding is defined from the back: each word's rest is decoded first and then
    // trimmed when it began with "=?" and changed. The words are found front to back
    // (each search starts past the last word, so this ends) and the text is put
    // together from the back.
    TPrefixFinder finder(text);
    std::vector<THeaderWord> words;
    std::size_t from = 0;
    while (auto word = NextHeaderWord(text, finder, from)) {
        from = word->end;
        words.push_back(std::move(*word));
    }

    const std::size_t tailStart = words.empty() ? 0 : words.back().end;
    TReversedText result(text.substr(tailStart));
    for (std::size_t k = words.size(); k-- > 0;) {
        const THeaderWord& word = words[k];
        const std::string_view rest = text.substr(word.end);
        // The rest reads differently exactly when it held a word or a NUL: a decoded
        // word is always shorter than its encoding.
        const bool restChanged = k + 1 < words.size() || rest.find('\0') != std::string_view::npos;
        if (restChanged && rest.starts_with("=?")) result.Trim();
        result.Prepend(word.decoded);
        const std::size_t before = k == 0 ? 0 : words[k - 1].end;
        result.Prepend(text.substr(before, word.start - before));
    }
    std::string decoded = result.Take();
    // Trimming counts NUL as a blank, so removing NULs only now gives the same text.
    decoded.erase(std::remove(decoded.begin(), decoded.end(), '\0'), decoded.end());
    return decoded;
}

std::string Iso2022JpToShiftJis(std::string_view bytes) {
    if (auto converted = IconvIso2022JpToShiftJis(bytes)) return *converted;
    return ArithmeticIso2022JpToShiftJis(bytes);
}

std::string DecodeEncodedWords(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    std::string result(text.substr(first, text.find_last_not_of(' ') - first + 1));

    std::size_t from = 0;
    for (int pass = 0; pass < kMaxEncodedWordPasses; ++pass) {
        const auto word = NextFileNameWord(result, from);
        if (!word) break;
        const auto decoded = DecodeFileNameWord(*word);
        if (!decoded) break;
        result.replace(word->start, word->end - word->start, *decoded);
        // Nothing before the word held "=?"; only its last character can begin one with
        // the decoded text.
        from = word->start == 0 ? 0 : word->start - 1;
    }
    return result;
}

std::string UUEncode(std::string_view bytes) {
    if (bytes.size() > kUULineBytes) throw EUUCodeError("UUEncode: String too long");
    if (bytes.empty()) return std::string(1, kGrave);
    std::string line;
    line.reserve((bytes.size() + 2) / 3 * 4 + 1);
    line += static_cast<char>(bytes.size() + 32);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned b0 = static_cast<unsigned char>(bytes[i]);
        const unsigned b1 = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0u;
        const unsigned b2 = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0u;
        line += UUChar(b0 >> 2);
        line += UUChar((b0 << 4) | (b1 >> 4));
        line += UUChar((b1 << 2) | (b2 >> 6));
        line += UUChar(b2);
    }
    return line;
}

std::string UUDecode(std::string_view line) {
    if (line.empty() || line.front() < '!' || line.front() > 'a')
        throw EUUCodeError("UUDecode: Incorrect string format");
    const std::string_view data = line.substr(1);
    const std::size_t groups = (data.size() + 2) / 4;
    std::string bytes;
    bytes.reserve(groups * 3);
    for (std::size_t g = 0; g < groups; ++g) {
        std::array<unsigned, 4> v{};
        for (std::size_t k = 0; k < 4 && g * 4 + k < data.size(); ++k)
            v[k] = UUValue(data[g * 4 + k]);
        bytes += static_cast<char>(((v[0] << 2) | (v[1] >> 4)) & 0xFF);
        bytes += static_cast<char>(((v[1] << 4) | (v[2] >> 2)) & 0xFF);
        bytes += static_cast<char>(((v[2] << 6) | v[3]) & 0xFF);
    }
    if (line.front() != kGrave) bytes.resize(static_cast<std::size_t>(line.front() - 32), '\0');
    return bytes;
}

}  // namespace gatemoor
