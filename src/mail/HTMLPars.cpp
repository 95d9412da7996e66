#include "mail/HTMLPars.h"

#include <array>
#include <optional>
#include <utility>

#include "screening/VornUtil.h"

namespace gatemoor {

namespace {

// The HTML 4 Latin-1 entity names, for the codes 160 to 255 in order.
constexpr int kFirstLatin1Code = 160;
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
    "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
    "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
    "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
    "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
    "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
    "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
    "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
    "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

struct TMarkupEntity {
    std::string_view name;
    int code;
};
constexpr TMarkupEntity kMarkupEntities[] = {
    {"quot", 34},
    {"amp", 38},
    {"lt", 60},
    {"gt", 62},
};

// A numeric reference may hold at most this many characters after "&#" ("x" included).
constexpr std::size_t kMaxNumericReferenceLength = 3;
constexpr int kMaxByteCode = 255;

std::string UpperCased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = AsciiUpper(c);
    return result;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiUpper(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Control codes and the no-break space read as a plain space; the other byte codes
// stand for themselves.
char ByteForCode(int code) {
    if (code < 32 || code == kFirstLatin1Code) return ' ';
    return static_cast<char>(code);
}

std::optional<int> NamedEntityCode(std::string_view name) {
    for (std::size_t i = 0; i < kLatin1Names.size(); ++i) {
        if (kLatin1Names[i] == name) return kFirstLatin1Code + static_cast<int>(i);
    }
    for (const auto& entity : kMarkupEntities) {
        if (entity.name == name) return entity.code;
    }
    return std::nullopt;
}

// `digits` is what follows "&#": decimal digits, or 'x' and hexadecimal digits.
std::optional<int> NumericReferenceCode(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxNumericReferenceLength) return std::nullopt;
    int base = 10;
    if (digits[0] == 'x' || digits[0] == 'X') {
        base = 16;
        digits.remove_prefix(1);
        if (digits.empty()) return std::nullopt;
    }
    int value = 0;
    for (char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

// The byte that the reference `body` (between '&' and its terminator) stands for.
std::optional<char> DecodeReference(std::string_view body, char terminator) {
    std::optional<int> code;
    if (!body.empty() && body[0] == '#') {
        code = NumericReferenceCode(body.substr(1));
    } else if (terminator == ';') {
        code = NamedEntityCode(body);
    }
    // Three decimal digits reach up to 999; those above one byte have no character
    // here and stay as written rather than becoming some other byte.
    if (!code || *code > kMaxByteCode) return std::nullopt;
    return ByteForCode(*code);
}

// A reference runs from '&' to the next ';' or space; a later '&' starts a new one.
std::string DecodeCharacterReferences(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            result.push_back(text[i++]);
            continue;
        }
        std::size_t end = i + 1;
        while (end < text.size() && text[end] != ';' && text[end] != ' ' && text[end] != '&')
            ++end;
        if (end < text.size() && text[end] != '&') {
            if (auto c = DecodeReference(text.substr(i + 1, end - i - 1), text[end])) {
                result.push_back(*c);
                i = end + 1;
                continue;
            }
        }
        // Not a reference: the bytes stay, and the scan goes on at what stopped it.
        result.append(text.substr(i, end - i));
        i = end;
    }
    return result;
}

std::string WithoutLineFeeds(std::string text) {
    std::erase(text, '\n');
    return text;
}

bool IsTagNamed(const THTMLToken& token, std::string_view name) {
    const THTMLTag* tag = token.AsTag();
    return tag != nullptr && tag->Name() == name;
}

bool RawHolds(const THTMLToken& token, std::string_view text) {
    return PosText(text, token.Raw()) != std::string::npos;
}

// The tags after which a plain-text line ends. A trailing '/' of the XHTML form
// ("<br/>") does not make another tag of it.
bool EndsTextLine(const THTMLTag& tag) {
    std::string_view name = tag.Name();
    if (!name.empty() && name.back() == '/') name.remove_suffix(1);
    return name == "BR" || name == "P" || name == "BLOCKQUOTE" || name == "DD" ||
           name == "/TITLE" || name == "LI";
}

// Drops a block from an opening tag up to, not including, the next tag named
// `closeName`; without one, everything after the opening tag.
class TBlockFilter {
public:
    using TOpens = bool (*)(const THTMLToken&);
    TBlockFilter(TOpens opens, std::string_view closeName) : opens_(opens), closeName_(closeName) {}

    // True when `token` survives.
    bool Pass(const THTMLToken& token) {
        if (inBlock_) {
            if (!IsTagNamed(token, closeName_)) return false;
            inBlock_ = false;
            return true;
        }
        if (token.AsTag() != nullptr && opens_(token)) {
            inBlock_ = true;
            return false;
        }
        return true;
    }

private:
    TOpens opens_;
    std::string_view closeName_;
    bool inBlock_ = false;
};

// Any tag mentioning "script" opens a script block ("<a href="javascript:..."> too),
// except the closing tag itself: the search goes on after it, and a closing tag
// that opened a block would swallow the rest of the document.
bool OpensScript(const THTMLToken& token) {
    return !IsTagNamed(token, "/SCRIPT") && RawHolds(token, "script");
}

bool OpensStyle(const THTMLToken& token) {
    return IsTagNamed(token, "STYLE");
}

// Builds the plain-text lines from the tokens that survive the block filters.
class TTextWriter {
public:
    explicit TTextWriter(std::vector<std::string>& out) : out_(out) {}

    void Add(const THTMLToken& token) {
        if (const THTMLText* text = token.AsText()) {
            line_ += text->Text();
            written_ = true;
        } else if (EndsTextLine(*token.AsTag()) && written_) {
            DecodeHtmlEntities(line_);
            out_.push_back(std::move(line_));
            line_.clear();
        }
    }

    void Finish() {
        if (!line_.empty()) out_.push_back(std::move(line_));
    }

private:
    std::vector<std::string>& out_;
    std::string line_;
    // Line-ending tags before the first text have no line to end.
    bool written_ = false;
};

std::string TagLine(const THTMLToken& token) {
    return "<" + token.Raw() + ">";
}

// The token written back as HTML.
std::string AsSource(const THTMLToken& token) {
    return token.AsTag() != nullptr ? TagLine(token) : token.Raw();
}

std::vector<std::string> SplitStreamLines(std::string_view stream) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < stream.size()) {
        const std::size_t end = stream.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(stream.substr(start));
            break;
        }
        lines.emplace_back(stream.substr(start, end - start));
        start = end +
                (stream[end] == '\r' && end + 1 < stream.size() && stream[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

}  // namespace

THTMLText::THTMLText(std::string raw)
    : THTMLToken(std::move(raw)), text_(DecodeCharacterReferences(WithoutLineFeeds(Raw()))) {}

THTMLParam::THTMLParam(std::string raw) : raw_(std::move(raw)) {
    const std::size_t equals = raw_.find('=');
    if (equals == std::string::npos) {
        name_ = UpperCased(raw_);
        return;
    }
    name_ = UpperCased(std::string_view(raw_).substr(0, equals));
    value_ = raw_.substr(equals + 1);
    if (value_.size() > 1 && value_.front() == '"' && value_.back() == '"') {
        value_ = value_.substr(1, value_.size() - 2);
    }
}

THTMLTag::THTMLTag(std::string raw) : THTMLToken(std::move(raw)) {
    const std::string_view text = Raw();
    const std::size_t space = text.find(' ');
    name_ = UpperCased(text.substr(0, space));
    if (space == std::string_view::npos) return;

    bool quoted = false;
    std::size_t pieceStart = space + 1;
    for (std::size_t i = space + 1; i <= text.size(); ++i) {
        if (i < text.size() && text[i] == '"') quoted = !quoted;
        if (i < text.size() && (text[i] != ' ' || quoted)) continue;
        if (i > pieceStart) {
            if (params_.size() == kMaxParams) {
                paramsCut_ = true;
                return;
            }
            params_.emplace_back(std::string(text.substr(pieceStart, i - pieceStart)));
        }
        pieceStart = i + 1;
    }
}

const THTMLParam* THTMLTag::Param(std::string_view name) const {
    for (const auto& param : params_) {
        if (param.Name() == name) return &param;
    }
    return nullptr;
}

THTMLParser::THTMLParser(std::vector<std::string> lines, std::size_t maxTokens)
    : lines_(std::move(lines)), maxTokens_(maxTokens < 1 ? 1 : maxTokens) {}

void THTMLParser::Parse() {
    tokens_.clear();
    truncated_ = false;
    std::string rest;
    Parse([this, &rest](std::unique_ptr<THTMLToken> token) {
        if (!truncated_) {
            if (tokens_.size() < maxTokens_) {
                tokens_.push_back(std::move(token));
                return;
            }
            // The last stored token opens the rest, so the list keeps its limit.
            truncated_ = true;
            rest = AsSource(*tokens_.back());
            tokens_.pop_back();
        }
        rest += AsSource(*token);
    });
    if (truncated_) tokens_.push_back(std::make_unique<THTMLText>(std::move(rest)));
}

void THTMLParser::EndText(const TTokenSink& sink) {
    if (!text_.empty()) sink(std::make_unique<THTMLText>(std::exchange(text_, {})));
}

void THTMLParser::EndTag(const TTokenSink& sink) {
    sink(std::make_unique<THTMLTag>(std::exchange(tag_, {})));
    inTag_ = false;
}

void THTMLParser::Parse(const TTokenSink& sink) {
    text_.clear();
    tag_.clear();
    inTag_ = false;
    bool firstLine = true;
    for (const std::string& line : lines_) {
        if (inTag_ && !firstLine) tag_.push_back(' ');
        firstLine = false;
        std::size_t pos = 0;
        while (pos < line.size()) {
            const char stop = inTag_ ? '>' : '<';
            std::size_t end = line.find(stop, pos);
            if (end == std::string::npos) end = line.size();
            (inTag_ ? tag_ : text_).append(line, pos, end - pos);
            if (end == line.size()) break;
            if (inTag_) {
                EndTag(sink);
            } else {
                EndText(sink);
                inTag_ = true;
            }
            pos = end + 1;
        }
    }
    if (inTag_) {
        EndTag(sink);
    } else {
        EndText(sink);
    }
}

void HtmlToText(std::vector<std::string>& lines) {
    THTMLParser parser(std::move(lines));
    lines.clear();
    TBlockFilter scripts(OpensScript, "/SCRIPT");
    TBlockFilter styles(OpensStyle, "/STYLE");
    TTextWriter writer(lines);
    // The filters run in a chain, one token at a time, which drops exactly what
    // removing all script blocks first and all style blocks after would drop.
    parser.Parse([&](std::unique_ptr<THTMLToken> token) {
        if (scripts.Pass(*token) && styles.Pass(*token)) writer.Add(*token);
    });
    writer.Finish();
}

void HtmlStreamToText(std::string& stream) {
    std::vector<std::string> lines = SplitStreamLines(stream);
    HtmlToText(lines);
    stream.clear();
    for (const auto& line : lines) {
        stream += line;
        stream += "\r\n";
    }
}

void ExtractTags(std::vector<std::string>& lines) {
    THTMLParser parser(std::move(lines));
    lines.clear();
    bool inScript = false;
    parser.Parse([&](std::unique_ptr<THTMLToken> token) {
        if (inScript) {
            lines.push_back(AsSource(*token));
            if (IsTagNamed(*token, "/SCRIPT")) inScript = false;
            return;
        }
        if (token->AsTag() == nullptr) return;
        lines.push_back(TagLine(*token));
        if (RawHolds(*token, "script language=")) inScript = true;
    });
}

}  // namespace gatemoor
