#include "foundation/CommaText.h"

#include <algorithm>
#include <cctype>

namespace gatemoor {
namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 32; }

bool NeedsQuotes(std::string_view item) {
    return std::any_of(item.begin(), item.end(), [](char ch) {
        auto c = static_cast<unsigned char>(ch);
        return IsBlankOrControl(c) || c == '"' || c == ',';
    });
}

// Skips the blanks and controls (codes 1 to 32) that may stand between items. NUL is
// not skipped: outside quotes it ends the text.
void SkipSeparators(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && text[pos] != '\0' &&
           IsBlankOrControl(static_cast<unsigned char>(text[pos])))
        ++pos;
}

std::string ReadQuoted(std::string_view text, std::size_t& pos) {
    std::string item;
    ++pos;  // opening quote
    while (pos < text.size()) {
        char c = text[pos++];
        if (c != '"') {
            item += c;
        } else if (pos < text.size() && text[pos] == '"') {
            item += '"';
            ++pos;
        } else {
            break;
        }
    }
    return item;
}

std::string ReadBare(std::string_view text, std::size_t& pos) {
    std::size_t start = pos;
    while (pos < text.size() && text[pos] != ',' &&
           !IsBlankOrControl(static_cast<unsigned char>(text[pos])))
        ++pos;
    return std::string(text.substr(start, pos - start));
}

}  // namespace

std::string QuoteCommaItem(std::string_view item) {
    if (!NeedsQuotes(item)) return std::string(item);
    std::string quoted = "\"";
    for (char c : item) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string ToCommaText(const std::vector<std::string>& items) {
    if (items.size() == 1 && items[0].empty()) return "\"\"";
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += ',';
        text += QuoteCommaItem(items[i]);
    }
    return text;
}

std::vector<std::string> FromCommaText(std::string_view text) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    SkipSeparators(text, pos);
    // A NUL outside quotes ends the text, as it ends a C string.
    while (pos < text.size() && text[pos] != '\0') {
        items.push_back(text[pos] == '"' ? ReadQuoted(text, pos) : ReadBare(text, pos));
        SkipSeparators(text, pos);
        if (pos < text.size() && text[pos] == ',') {
            ++pos;
            if (pos == text.size()) {
                items.emplace_back();
                break;
            }
            SkipSeparators(text, pos);
        }
    }
    return items;
}

std::optional<std::string> ValueOfName(const std::vector<std::string>& items,
                                       std::string_view name) {
    for (const auto& item : items) {
        auto eq = item.find('=');
        if (eq == std::string::npos || eq != name.size()) continue;
        bool same = std::equal(name.begin(), name.end(), item.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        });
        if (same) return item.substr(eq + 1);
    }
    return std::nullopt;
}

}  // namespace gatemoor
