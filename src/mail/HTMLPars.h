// A forgiving HTML tokeniser and the conversions built on it: HTML to plain text, and
// HTML reduced to its tags. Nothing here fails on malformed input: an unterminated tag
// becomes a tag token at the end, malformed character references stay literal.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

class THTMLTag;
class THTMLText;

// One piece of the input: text between tags, or a tag.
class THTMLToken {
public:
    virtual ~THTMLToken() = default;
    THTMLToken(const THTMLToken&) = delete;
    THTMLToken& operator=(const THTMLToken&) = delete;

    // Text: the bytes as they stood. Tag: the bytes between '<' and '>'.
    [[nodiscard]] const std::string& Raw() const { return raw_; }
    [[nodiscard]] virtual const THTMLTag* AsTag() const { return nullptr; }
    [[nodiscard]] virtual const THTMLText* AsText() const { return nullptr; }

protected:
    explicit THTMLToken(std::string raw) : raw_(std::move(raw)) {}

private:
    std::string raw_;
};

// Text between tags. Its decoded text has every LF removed and the character
// references decoded: the HTML 4 Latin-1 names and "quot", "amp", "lt", "gt" (each
// closed by ';'), and "&#" + decimal or "&#x" + hex digits with at most three
// characters after "&#", closed by ';' or a space, which is consumed. Codes 0 to 31
// and 160 become a space; codes above 255 and unknown names stay as they are.
class THTMLText final : public THTMLToken {
public:
    explicit THTMLText(std::string raw);
    [[nodiscard]] const std::string& Text() const { return text_; }
    [[nodiscard]] const THTMLText* AsText() const override { return this; }

private:
    std::string text_;
};

// One space-separated piece of a tag after its name: NAME=value or a bare NAME.
class THTMLParam {
public:
    // The name is the text before the first '=', upper-cased; the value is the text
    // after it, without one pair of enclosing double quotes.
    explicit THTMLParam(std::string raw);
    [[nodiscard]] const std::string& Raw() const { return raw_; }
    [[nodiscard]] const std::string& Name() const { return name_; }
    [[nodiscard]] const std::string& Value() const { return value_; }

private:
    std::string raw_;
    std::string name_;
    std::string value_;
};

class THTMLTag final : public THTMLToken {
public:
    // A tag holds at most this many parameters; the rest stays in its raw text only.
    static constexpr std::size_t kMaxParams = 1000;

    // The name is the raw text up to the first space, upper-cased ("/B" for a closing
    // tag). The rest is split at spaces outside double quotes (a '"' toggles quoting)
    // and every non-empty piece becomes a parameter.
    explicit THTMLTag(std::string raw);
    [[nodiscard]] const std::string& Name() const { return name_; }
    [[nodiscard]] const std::vector<THTMLParam>& Params() const { return params_; }
    // The first parameter named `name` (upper case); null when there is none.
    [[nodiscard]] const THTMLParam* Param(std::string_view name) const;
    // More pieces than kMaxParams stood in the tag.
    [[nodiscard]] bool ParamsCut() const { return paramsCut_; }
    [[nodiscard]] const THTMLTag* AsTag() const override { return this; }

private:
    std::string name_;
    std::vector<THTMLParam> params_;
    bool paramsCut_ = false;
};

using THTMLTokenList = std::vector<std::unique_ptr<THTMLToken>>;

// Tokenises lines of HTML. Text and tags may run over line ends: text is joined
// without a separator, a tag with a space in place of each line end. After the last
// line an unfinished tag or pending text becomes the last token.
class THTMLParser {
public:
    // The stored token list holds at most this many tokens; everything from the last
    // one on becomes one text token, so that hostile input cannot multiply memory.
    static constexpr std::size_t kMaxTokens = 1'000'000;

    using TTokenSink = std::function<void(std::unique_ptr<THTMLToken>)>;

    explicit THTMLParser(std::vector<std::string> lines = {}, std::size_t maxTokens = kMaxTokens);

    [[nodiscard]] std::vector<std::string>& Lines() { return lines_; }
    [[nodiscard]] const THTMLTokenList& Tokens() const { return tokens_; }
    // The token list reached its limit and its last token holds the rest.
    [[nodiscard]] bool Truncated() const { return truncated_; }

    // Replaces the token list by the tokens of the lines.
    void Parse();
    // Hands every token of the lines to `sink` in order, storing none.
    void Parse(const TTokenSink& sink);

private:
    void EndText(const TTokenSink& sink);
    void EndTag(const TTokenSink& sink);

    std::vector<std::string> lines_;
    std::size_t maxTokens_;
    THTMLTokenList tokens_;
    bool truncated_ = false;
    // What is being collected while the lines are scanned.
    std::string text_;
    std::string tag_;
    bool inTag_ = false;
};

// Converts HTML lines into plain-text lines in place. Script blocks (from any tag
// whose text holds "script" to the next "</script>", or to the end) and style blocks
// are dropped; text runs on across line ends; BR, P, BLOCKQUOTE, DD, /TITLE and LI end
// a line, whose character references are then decoded once more. Line-ending tags
// before any text give no empty lines.
void HtmlToText(std::vector<std::string>& lines);

// HtmlToText on the text of `stream` (lines ended by CR LF, LF or CR); the stream
// receives the result, every line ended by CR LF.
void HtmlStreamToText(std::string& stream);

// Replaces the lines by one line per tag ("<" + raw text + ">"); text is dropped,
// except inside a script block (from a tag holding "script language=" up to and
// including the next "</script>"), whose text tokens are kept as raw text lines.
void ExtractTags(std::vector<std::string>& lines);

}  // namespace gatemoor
