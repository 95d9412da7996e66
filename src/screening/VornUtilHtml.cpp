#include "screening/VornUtilHtml.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace gatemoor {

namespace {

struct TNamedEntity {
    std::string_view name;
    unsigned char code;
};

constexpr TNamedEntity kNamedEntities[] = {
    {"nbsp", ' '},   {"quot", '"'},   {"amp", '&'},    {"lt", '<'},     {"gt", '>'},
    {"laquo", 171},  {"raquo", 187},  {"not", 172},    {"plusmn", 177}, {"divide", 247},
    {"micro", 181},  {"frac14", 188}, {"frac12", 189}, {"frac34", 190}, {"hibar", 175},
    {"cent", 162},   {"pound", 163},  {"yen", 165},    {"curren", 164}, {"copy", 169},
    {"reg", 174},    {"iexcl", 161},  {"iquest", 191}, {"brkbar", 166}, {"middot", 183},
    {"deg", 176},    {"sect", 167},   {"para", 182},   {"ordm", 186},   {"ordf", 170},
    {"sup1", 185},   {"sup2", 178},   {"sup3", 179},   {"shy", 173},    {"agrave", 224},
    {"aacute", 225}, {"acirc", 226},  {"atilde", 227}, {"auml", 228},   {"aring", 229},
    {"aelig", 230},  {"egrave", 232}, {"eacute", 233}, {"ecirc", 234},  {"euml", 235},
    {"igrave", 236}, {"iacute", 237}, {"icirc", 238},  {"iuml", 239},   {"ograve", 242},
    {"oacute", 243}, {"ocirc", 244},  {"otilde", 245}, {"ouml", 246},   {"oslash", 248},
    {"ugrave", 249}, {"uacute", 250}, {"ucirc", 251},  {"uuml", 252},   {"yuml", 255},
    {"ccedil", 231}, {"szlig", 223},  {"ntilde", 241}, {"Agrave", 192}, {"Aacute", 193},
    {"Acirc", 194},  {"Atilde", 195}, {"Auml", 196},   {"Aring", 197},  {"AElig", 198},
    {"Egrave", 200}, {"Eacute", 201}, {"Ecirc", 202},  {"Euml", 203},   {"Igrave", 204},
    {"Iacute", 205}, {"Icirc", 206},  {"Iuml", 207},   {"Ograve", 210}, {"Oacute", 211},
    {"Ocirc", 212},  {"Otilde", 213}, {"Ouml", 214},   {"Oslash", 216}, {"Ugrave", 217},
    {"Uacute", 218}, {"Ucirc", 219},  {"Uuml", 220},   {"Ccedil", 199}, {"Ntilde", 209},
};

bool IsDecimal(char c) {
    return c >= '0' && c <= '9';
}

// How far past the `&` an entity may reach.
constexpr std::size_t kEntityReach = 10;

// The character that `name` (the text between `&` and `;`) stands for.
std::optional<char> DecodeEntity(std::string_view name) {
    if (name.size() >= 2 && name[0] == '#') {
        std::uint64_t value = 0;
        for (char c : name.substr(1)) {
            if (!IsDecimal(c)) return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');  // at most 9 digits
        }
        if (value == 8217) return '\'';
        if (value == 8220 || value == 8221) return '"';
        if (value == 8364) return 'E';
        // A NUL byte would cut the text short for whoever reads it next.
        if (value % 256 == 0) return std::nullopt;
        return static_cast<char>(value % 256);
    }
    for (const auto& entity : kNamedEntities) {
        if (entity.name == name) return static_cast<char>(entity.code);
    }
    return std::nullopt;
}

}  // namespace

bool EscapeHtml(std::string& text) {
    std::string result;
    result.reserve(text.size() + text.size() / 4);
    char previous = '\0';
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '<') {
            result += "&lt;";
        } else if (c == '>') {
            result += "&gt;";
        } else if (c == '"') {
            result += "&quot;";
        } else if (c == '&') {
            result += "&amp;";
        } else if (c == ' ' && previous == ' ') {
            result += "&nbsp;";
        } else if (code > 126) {
            result += "&#" + std::to_string(code) + ";";
        } else {
            result.push_back(c);
        }
        previous = c;
    }
    if (result == text) return false;
    text = std::move(result);
    return true;
}

void EscapeHtmlLines(std::vector<std::string>& list) {
    for (auto& line : list)
        EscapeHtml(line);
}

void TextToHtmlLines(std::vector<std::string>& list) {
    for (auto& line : list) {
        EscapeHtml(line);
        line += "<br>";
    }
}

bool DecodeHtmlEntities(std::string& text) {
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            result.push_back(text[i++]);
            continue;
        }
        const std::string_view reach = std::string_view(text).substr(i + 1, kEntityReach);
        const std::size_t semicolon = reach.find(';');
        const std::string_view candidate =
            semicolon == std::string_view::npos ? reach : reach.substr(0, semicolon);
        bool decoded = false;
        for (std::size_t length = candidate.size(); length > 0 && !decoded; --length) {
            // Shorter names are tried for a missing ";", but a shorter number would be
            // another character altogether ("&#256;" is not "&#25" + "6;").
            if (length < candidate.size() && candidate[0] == '#' && IsDecimal(candidate[length])) {
                continue;
            }
            if (auto c = DecodeEntity(candidate.substr(0, length))) {
                result.push_back(*c);
                const bool closed =
                    length == candidate.size() && semicolon != std::string_view::npos;
                i += 1 + length + (closed ? 1 : 0);
                decoded = true;
            }
        }
        if (!decoded) {
            result.append(text, i, 2);
            i += 2;
        }
    }
    if (result.size() == text.size()) return false;
    text = std::move(result);
    return true;
}

}  // namespace gatemoor
