#include "screening/VornUtil.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <random>
#include <unordered_set>

#include "foundation/CommaText.h"
#include "platform/SystemServices.h"

namespace gatemoor {

namespace {

std::mt19937& RandomEngine() {
    thread_local std::mt19937 engine = [] {
        std::uint32_t seed[8];
        platform::RandomBytes(seed, sizeof seed);
        std::seed_seq sequence(std::begin(seed), std::end(seed));
        return std::mt19937(sequence);
    }();
    return engine;
}

std::string RandomFrom(std::string_view alphabet, int count) {
    std::string result;
    if (count <= 0) return result;
    result.reserve(static_cast<std::size_t>(count));
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (int i = 0; i < count; ++i)
        result.push_back(alphabet[pick(RandomEngine())]);
    return result;
}

bool MatchesAt(std::string_view pattern, std::string_view text, std::size_t at) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '?' && AsciiLower(pattern[i]) != AsciiLower(text[at + i])) return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string AsciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = AsciiUpper(c);
    return upper;
}

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = AsciiLower(c);
    return lower;
}

bool IsOfClass(char c, TCharClass charClass) {
    switch (charClass) {
        case TCharClass::BlankOrTab:
            return IsBlankOrTab(c);
        case TCharClass::Letter:
            return IsLetter(c);
        case TCharClass::Digit:
            return IsDigit(c);
        case TCharClass::Printable:
            return IsPrintable(c);
        case TCharClass::FileNameChar:
            return IsFileNameChar(c);
        case TCharClass::UrlChar:
            return IsUrlChar(c);
    }
    return false;
}

bool DeleteChars(std::string& text, TCharClass charClass) {
    const auto size = text.size();
    std::erase_if(text, [charClass](char c) { return IsOfClass(c, charClass); });
    return text.size() != size;
}

bool KeepOnlyChars(std::string& text, TCharClass charClass) {
    const auto size = text.size();
    std::erase_if(text, [charClass](char c) { return !IsOfClass(c, charClass); });
    return text.size() != size;
}

std::string TrimLeadingBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

std::string PadLeft(std::string_view numberText, int width, std::string_view pad) {
    std::string result = TrimLeadingBlanks(numberText);
    const std::size_t target = width > 0 ? static_cast<std::size_t>(width) : 0;
    if (result.size() > target) return result.substr(result.size() - target);
    if (pad.empty()) return result;
    std::string front;
    while (front.size() + result.size() < target)
        front += pad;
    return front + result;
}

bool ReplaceAll(std::string_view oldText, std::string_view newText, std::string& text) {
    if (oldText == newText || newText.find(oldText) != std::string_view::npos) return false;
    // Same result as searching from the start after every replacement, without the
    // quadratic cost: `done` never holds an occurrence, `pending` is read back to front
    // and receives each replacement, so text the replacement forms is found again.
    std::string done;
    std::string pending(text.rbegin(), text.rend());
    done.reserve(text.size());
    bool replaced = false;
    while (!pending.empty()) {
        done.push_back(pending.back());
        pending.pop_back();
        if (done.size() >= oldText.size() &&
            std::string_view(done).substr(done.size() - oldText.size()) == oldText) {
            done.resize(done.size() - oldText.size());
            pending.append(newText.rbegin(), newText.rend());
            replaced = true;
        }
    }
    if (replaced) text = std::move(done);
    return replaced;
}

bool ReplaceEvery(std::string_view oldText, std::string_view newText, std::string& text) {
    if (oldText.empty() || oldText == newText) return false;
    std::size_t at = text.find(oldText);
    if (at == std::string::npos) return false;
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    while (at != std::string::npos) {
        result.append(text, from, at - from);
        result.append(newText);
        from = at + oldText.size();
        at = text.find(oldText, from);
    }
    result.append(text, from);
    text = std::move(result);
    return true;
}

std::size_t PosText(std::string_view pattern, std::string_view text) {
    return PosTextFrom(text, pattern, 0);
}

std::size_t PosTextFrom(std::string_view text, std::string_view pattern, std::size_t start) {
    if (pattern.empty() || start >= text.size() || pattern.size() > text.size() - start) {
        return std::string_view::npos;
    }
    for (std::size_t at = start; at + pattern.size() <= text.size(); ++at) {
        if (MatchesAt(pattern, text, at)) return at;
    }
    return std::string_view::npos;
}

void SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list) {
    if (separator.empty()) {
        if (!text.empty()) list.emplace_back(text);
        return;
    }
    std::size_t from = 0;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, from)) {
        list.emplace_back(text.substr(from, at - from));
        from = at + separator.size();
    }
    if (from < text.size()) list.emplace_back(text.substr(from));
}

void RemoveDuplicateLines(std::vector<std::string>& list) {
    std::unordered_set<std::string> seen;
    std::erase_if(list, [&seen](const std::string& line) { return !seen.insert(line).second; });
}

std::string MergeCommaTexts(std::string_view a, std::string_view b, bool keepDuplicates) {
    if (a.empty() || a == "\"\"") return std::string(b);
    if (b.empty() || b == "\"\"") return std::string(a);
    std::vector<std::string> items = FromCommaText(a);
    std::vector<std::string> more = FromCommaText(b);
    items.insert(items.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
    if (!keepDuplicates) RemoveDuplicateLines(items);
    return ToCommaText(items);
}

std::string BoolText(bool flag) {
    return flag ? "True" : "False";
}

std::string RandomPrintable(int count) {
    static const std::string alphabet = [] {
        std::string all;
        for (int code = 33; code <= 126; ++code)
            all.push_back(static_cast<char>(code));
        return all;
    }();
    return RandomFrom(alphabet, count);
}

std::string RandomAlphanumeric(int count) {
    return RandomFrom("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", count);
}

std::string LocalHostName() {
    return "LocalHost";
}

std::string MachineName() {
    static const std::string name = [] {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') {
            return LocalHostName();
        }
        return std::string(buffer);
    }();
    return name;
}

std::string UrlEncode(std::string_view text) {
    return UrlEncode(text, {});
}

std::string UrlEncode(std::string_view text, std::string_view alsoEncoded) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (IsUrlChar(c) && c != '%' && c != '+' && alsoEncoded.find(c) == std::string_view::npos) {
            result.push_back(c);
        } else {
            const auto code = static_cast<unsigned char>(c);
            result.push_back('%');
            result.push_back(kHex[code >> 4]);
            result.push_back(kHex[code & 15]);
        }
    }
    return result;
}

std::string UrlDecode(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            result.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            result.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            result.push_back(c);
        }
    }
    return result;
}

}  // namespace gatemoor
