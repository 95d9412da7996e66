#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/HTMLPars.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

// One token written as "T:<decoded text>" or "G:<NAME>|<raw>".
std::string Describe(const THTMLToken& token) {
    if (const THTMLTag* tag = token.AsTag()) return "G:" + tag->Name() + "|" + tag->Raw();
    return "T:" + token.AsText()->Text();
}

Lines Tokens(const Lines& input) {
    THTMLParser parser(input);
    parser.Parse();
    Lines described;
    for (const auto& token : parser.Tokens())
        described.push_back(Describe(*token));
    return described;
}

Lines ToText(Lines lines) {
    HtmlToText(lines);
    return lines;
}

Lines TagsOf(Lines lines) {
    ExtractTags(lines);
    return lines;
}

TEST(HTMLParser, TokenisesTrickyHtml) {
    struct Case {
        const char* name;
        Lines input;
        Lines expected;
    };
    const Case cases[] = {
        {"text and tags", {"a<b>c</B>"}, {"T:a", "G:B|b", "T:c", "G:/B|/B"}},
        {"unclosed tag at the end", {"x<img src=a"}, {"T:x", "G:IMG|img src=a"}},
        {"pending text at the end", {"<p>tail"}, {"G:P|p", "T:tail"}},
        {"tag across lines gets a space", {"<a", "href=x>t"}, {"G:A|a href=x", "T:t"}},
        {"each line end in a tag is a space", {"<a", "", "b>"}, {"G:A|a  b"}},
        {"text across lines is joined", {"Hello", "World"}, {"T:HelloWorld"}},
        {"comment ends at its first '>'", {"<!-- a > b -->x"}, {"G:!--|!-- a ", "T: b -->x"}},
        {"'<' inside a tag is collected", {"<a <b>"}, {"G:A|a <b"}},
        {"empty tag", {"<>"}, {"G:|"}},
        {"no input", {}, {}},
        {"empty lines", {"", ""}, {}},
        {"tab is not a name end", {"<br\t/>"}, {"G:BR\t/|br\t/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Tokens(c.input), c.expected);
    }
}

TEST(HTMLParser, ParsesParametersWithAndWithoutQuotes) {
    THTMLParser parser({R"(<IMG  src="a b.gif" Width=10 alt='x y' border noshade="" q=" x="a)"});
    parser.Parse();
    ASSERT_EQ(parser.Tokens().size(), 1u);
    const THTMLTag* tag = parser.Tokens()[0]->AsTag();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->Name(), "IMG");
    struct Expected {
        const char* raw;
        const char* name;
        const char* value;
    };
    // Single quotes do not group; the double quotes in q group its blank.
    const Expected expected[] = {
        {R"(src="a b.gif")", "SRC", "a b.gif"},
        {"Width=10", "WIDTH", "10"},
        {"alt='x", "ALT", "'x"},
        {"y'", "Y'", ""},
        {"border", "BORDER", ""},
        {R"(noshade="")", "NOSHADE", ""},
        {R"(q=" x="a)", "Q", R"(" x="a)"},
    };
    ASSERT_EQ(tag->Params().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].raw);
        EXPECT_EQ(tag->Params()[i].Raw(), expected[i].raw);
        EXPECT_EQ(tag->Params()[i].Name(), expected[i].name);
        EXPECT_EQ(tag->Params()[i].Value(), expected[i].value);
    }
    EXPECT_EQ(tag->Param("WIDTH")->Value(), "10");
    EXPECT_EQ(tag->Param("HEIGHT"), nullptr);
    EXPECT_FALSE(tag->ParamsCut());

    THTMLTag lone("a x=\"");
    ASSERT_EQ(lone.Params().size(), 1u);
    EXPECT_EQ(lone.Params()[0].Value(), "\"");  // one quote is no pair
}

TEST(HTMLParser, DecodesCharacterReferencesInText) {
    struct Case {
        const char* name;
        const char* raw;
        const char* text;
    };
    const Case cases[] = {
        {"decimal", "&#65;", "A"},
        {"hex", "&#x41;", "A"},
        {"upper-case hex marker", "&#X41;", "A"},
        {"four digits stay", "&#1234;", "&#1234;"},
        {"above one byte stays", "&#256;", "&#256;"},
        {"control code is a space", "a&#0;b&#9;c", "a b c"},
        {"no-break space is a space", "a&#160;b&nbsp;c", "a b c"},
        {"space ends and is consumed", "&#65 B", "AB"},
        {"named", "caf&eacute; &Eacute;&yuml;&times;", "caf\xE9 \xC9\xFF\xD7"},
        {"markup names", "&quot;&amp;&lt;&gt;", "\"&<>"},
        {"named needs ';'", "&amp x", "&amp x"},
        {"names are case-sensitive", "&AMP;", "&AMP;"},
        {"unknown name stays", "&bogus; AT&T", "&bogus; AT&T"},
        {"a new '&' restarts", "&&amp;&#&#66;", "&&&#B"},
        {"unterminated at the end", "x&#65", "x&#65"},
        {"empty number", "&#;&#x;", "&#;&#x;"},
        {"decoded once only", "&amp;lt;", "&lt;"},
        {"line feeds removed", "a\nb\r\n", "ab\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(THTMLText(c.raw).Text(), c.text);
        EXPECT_EQ(THTMLText(c.raw).Raw(), c.raw);
    }
}

TEST(HTMLParser, ATagKeepsAtMostItsLimitOfParameters) {
    std::string raw = "a";
    for (std::size_t i = 0; i < THTMLTag::kMaxParams + 5; ++i)
        raw += " p" + std::to_string(i);
    const THTMLTag tag(raw);
    EXPECT_EQ(tag.Params().size(), THTMLTag::kMaxParams);
    EXPECT_TRUE(tag.ParamsCut());
    EXPECT_EQ(tag.Params().back().Name(), "P" + std::to_string(THTMLTag::kMaxParams - 1));
    EXPECT_EQ(tag.Raw(), raw);

    std::string full = "a";
    for (std::size_t i = 0; i < THTMLTag::kMaxParams; ++i)
        full += " p";
    EXPECT_FALSE(THTMLTag(full).ParamsCut());
}

TEST(HTMLParser, TheTokenListKeepsItsLimitAndTheRestAsText) {
    const Lines input = {"a<b>c<i x=1>d", "e</i>"};
    THTMLParser exact(input, 6);
    exact.Parse();
    EXPECT_FALSE(exact.Truncated());
    EXPECT_EQ(exact.Tokens().size(), 6u);

    THTMLParser cut(input, 3);
    cut.Parse();
    EXPECT_TRUE(cut.Truncated());
    ASSERT_EQ(cut.Tokens().size(), 3u);
    EXPECT_EQ(Describe(*cut.Tokens()[1]), "G:B|b");
    ASSERT_NE(cut.Tokens()[2]->AsText(), nullptr);
    EXPECT_EQ(cut.Tokens()[2]->Raw(), "c<i x=1>de</i>");
}

TEST(HtmlToText, ConvertsTheDocumentedExamples) {
    struct Case {
        const char* name;
        Lines input;
        Lines expected;
    };
    const Case cases[] = {
        {"references and breaks", {"<p>Caf&eacute;<br>au&nbsp;lait"}, {"Caf\xE9", "au lait"}},
        {"javascript link without a closing script tag",
         {"before<a href=\"javascript:x()\">link</a>", "after"},
         {"before"}},
        {"lines run together", {"Hello", "World"}, {"HelloWorld"}},
        {"numeric references", {"&#65;&#x41;&#1234;"}, {"AA&#1234;"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToText(c.input), c.expected);
    }
}

TEST(HtmlToText, DropsScriptAndStyleBlocks) {
    struct Case {
        const char* name;
        Lines input;
        Lines expected;
    };
    const Case cases[] = {
        {"script block", {"a<script>var x=1;</script>b"}, {"ab"}},
        {"two script blocks", {"a<SCRIPT>x</SCRIPT>b<script>y</script>c"}, {"abc"}},
        {"script over lines", {"a<script", "type=x>var x;", "y=2</script>b"}, {"ab"}},
        {"'<' in script text hides its end", {"a<script>if (a<b) x()</script>b"}, {"a"}},
        {"stray closing tag opens nothing", {"a</script>b"}, {"ab"}},
        {"unclosed script drops the rest", {"a<script>x<br>y"}, {"a"}},
        {"style block", {"a<style type=\"text/css\">p {x}</style>b"}, {"ab"}},
        {"only STYLE opens a style block", {"a<styles>b</styles>c"}, {"abc"}},
        {"unclosed style drops the rest", {"a<style>b<p>c"}, {"a"}},
        {"script inside style", {"<style>s<script>t</style>u</script>v"}, {}},
        {"style inside script", {"<script>s<style>t</script>u</style>v"}, {"uv"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToText(c.input), c.expected);
    }
}

TEST(HtmlToText, LineEndingTags) {
    struct Case {
        const char* name;
        Lines input;
        Lines expected;
    };
    const Case cases[] = {
        {"each ending tag",
         {"a<p>b<blockquote>c<dd>d<li>e<title>f</title>g<br>h"},
         {"a", "b", "c", "d", "ef", "g", "h"}},
        {"other tags do nothing", {"a<b>b</b><div>c</p>d"}, {"abcd"}},
        {"XHTML breaks", {"a<br/>b<br />c<BR/>d"}, {"a", "b", "c", "d"}},
        {"breaks in a row give empty lines", {"a<br><br>b"}, {"a", "", "b"}},
        {"breaks before any text give none", {"<p><br>a<br>"}, {"a"}},
        {"ended lines are decoded once more", {"&amp;lt;x<br>&amp;lt;y"}, {"<x", "&lt;y"}},
        {"no text at all", {"<html><body></body></html>"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToText(c.input), c.expected);
    }
}

TEST(HtmlToText, StreamLinesEndInCrLf) {
    std::string stream = "<p>one\r\ntwo\nthree\rfour<br>five";
    HtmlStreamToText(stream);
    EXPECT_EQ(stream, "onetwothreefour\r\nfive\r\n");
    std::string empty;
    HtmlStreamToText(empty);
    EXPECT_EQ(empty, "");
}

TEST(ExtractTags, KeepsTagsAndScriptBlocks) {
    struct Case {
        const char* name;
        Lines input;
        Lines expected;
    };
    const Case cases[] = {
        {"text dropped",
         {"a<b>c</b>", "<img src=\"x.gif\">d"},
         {"<b>", "</b>", "<img src=\"x.gif\">"}},
        {"script block kept with its text",
         {"x<script language=\"JavaScript\">go(1)</script>y<i>"},
         {"<script language=\"JavaScript\">", "go(1)", "</script>", "<i>"}},
        {"script without language is a plain tag",
         {"<script>t</script>"},
         {"<script>", "</script>"}},
        {"unclosed script keeps the rest",
         {"<SCRIPT LANGUAGE=vb>a", "b<p>c"},
         {"<SCRIPT LANGUAGE=vb>", "ab", "<p>", "c"}},
        {"unclosed tag at the end", {"a<img src=x"}, {"<img src=x>"}},
        {"tag across lines", {"<a", "href=y>"}, {"<a href=y>"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TagsOf(c.input), c.expected);
    }
}

}  // namespace
}  // namespace gatemoor
