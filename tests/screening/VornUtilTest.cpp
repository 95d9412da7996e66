#include <gtest/gtest.h>

#include <random>

#include "screening/VornUtil.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

TEST(UtilCharClasses, Members) {
    struct Case {
        TCharClass charClass;
        std::string members;
        std::string others;
    } cases[] = {
        {TCharClass::BlankOrTab, " \t", "a\r\n\x0b_"},
        {TCharClass::Letter, "AZaz", "@[`{09\xC0\xE9"},
        {TCharClass::Digit, "0129", "/:aO"},
        {TCharClass::Printable, "!~aZ0", std::string(" \x7F\x80\xFF\t\0", 6)},
        {TCharClass::FileNameChar, " !~._-()a0", "\"*/:<>?\\|\t\x80"},
        {TCharClass::UrlChar, "%&'+-./:=?@\\^_`~aZ0", "!\"#$()*,;<>[]{|} \x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.charClass));
        for (char m : c.members)
            EXPECT_TRUE(IsOfClass(m, c.charClass)) << m;
        for (char o : c.others)
            EXPECT_FALSE(IsOfClass(o, c.charClass)) << static_cast<int>(o);
    }
    std::string text = "a1 b2\tc";
    EXPECT_TRUE(DeleteChars(text, TCharClass::Digit));
    EXPECT_EQ(text, "a b\tc");
    EXPECT_FALSE(DeleteChars(text, TCharClass::Digit));
    EXPECT_TRUE(KeepOnlyChars(text, TCharClass::Letter));
    EXPECT_EQ(text, "abc");
}

TEST(UtilReplace, AllAndEvery) {
    struct Case {
        const char* name;
        bool all;  // ReplaceAll, else ReplaceEvery
        std::string oldText, newText, text, result;
        bool changed;
    } cases[] = {
        {"all: new contains old", true, "a", "aa", "aba", "aba", false},
        {"all: equal texts", true, "a", "a", "aba", "aba", false},
        {"all: formed again", true, "  ", " ", "a     b", "a b", true},
        {"all: replacement forms an occurrence", true, "ab", "b", "aaab", "b", true},
        {"all: empty old", true, "", "x", "abc", "abc", false},
        {"all: delete", true, "xy", "", "axxyyb", "ab", true},
        {"every: searches on after the insert", false, "a", "aa", "aba", "aabaa", true},
        {"every: one pass", false, "  ", " ", "a     b", "a   b", true},
        {"every: delete", false, "ab", "", "aabb", "ab", true},
        {"every: equal texts", false, "a", "a", "aba", "aba", false},
        {"every: empty old", false, "", "x", "abc", "abc", false},
        {"every: absent", false, "q", "x", "abc", "abc", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        const bool changed = c.all ? ReplaceAll(c.oldText, c.newText, text)
                                   : ReplaceEvery(c.oldText, c.newText, text);
        EXPECT_EQ(text, c.result);
        EXPECT_EQ(changed, c.changed);
    }
}

// The plain reading of ReplaceAll: search from the start after every replacement.
bool NaiveReplaceAll(const std::string& oldText, const std::string& newText, std::string& text) {
    if (oldText == newText || newText.find(oldText) != std::string::npos) return false;
    bool changed = false;
    for (auto at = text.find(oldText); at != std::string::npos; at = text.find(oldText)) {
        text.replace(at, oldText.size(), newText);
        changed = true;
    }
    return changed;
}

TEST(UtilReplace, AllMatchesSearchingFromTheStartEachTime) {
    std::mt19937 engine(5);
    auto word = [&](int maxLength) {
        std::string w(std::uniform_int_distribution<int>(0, maxLength)(engine), 'a');
        for (auto& c : w)
            c = "ab"[engine() % 2];
        return w;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string oldText = word(3);
        std::string newText = word(2);  // not longer than old, so it always ends quickly
        if (newText.size() > oldText.size()) newText.resize(oldText.size());
        const std::string original = word(30);
        std::string fast = original;
        std::string naive = original;
        SCOPED_TRACE(oldText + " -> " + newText + " in " + original);
        EXPECT_EQ(ReplaceAll(oldText, newText, fast), NaiveReplaceAll(oldText, newText, naive));
        EXPECT_EQ(fast, naive);
    }
}

TEST(UtilSearch, PosText) {
    EXPECT_EQ(PosText("b?D", "ABCDE"), 1u);
    EXPECT_EQ(PosText("cde", "abCDe"), 2u);
    EXPECT_EQ(PosText("x", "abc"), std::string::npos);
    EXPECT_EQ(PosText("", "abc"), std::string::npos);
    EXPECT_EQ(PosText("abcd", "abc"), std::string::npos);
    EXPECT_EQ(PosTextFrom("abab", "AB", 1), 2u);
    EXPECT_EQ(PosTextFrom("abab", "ab", 3), std::string::npos);
    EXPECT_EQ(PosTextFrom("abab", "ab", 99), std::string::npos);
}

TEST(UtilLists, SplitDuplicatesAndCommaTexts) {
    Lines list{"before"};
    SplitText("a,b,,c,", ",", list);
    EXPECT_EQ(list, (Lines{"before", "a", "b", "", "c"}));
    list.clear();
    SplitText("a--b--", "--", list);
    EXPECT_EQ(list, (Lines{"a", "b"}));
    list.clear();
    SplitText("", ",", list);
    EXPECT_TRUE(list.empty());

    list = {"x", "y", "x", "X", "y"};
    RemoveDuplicateLines(list);
    EXPECT_EQ(list, (Lines{"x", "y", "X"}));

    struct Case {
        const char* a;
        const char* b;
        bool keep;
        const char* merged;
    } cases[] = {
        {"", "a,b", false, "a,b"},
        {"\"\"", "x", false, "x"},
        {"a,b", "", false, "a,b"},
        {"a", "\"\"", false, "a"},
        {"a,b", "b,c", false, "a,b,c"},
        {"a,b", "b,c", true, "a,b,b,c"},
        {"\"x y\"", "z", false, "\"x y\",z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " + " + c.b);
        EXPECT_EQ(MergeCommaTexts(c.a, c.b, c.keep), c.merged);
    }
}

TEST(UtilSmallTexts, PadBoolRandomHost) {
    EXPECT_EQ(PadLeft("  42", 5, "0"), "00042");
    EXPECT_EQ(PadLeft("123456", 3, "0"), "456");
    EXPECT_EQ(PadLeft("7", 4, "ab"), "abab7");
    EXPECT_EQ(PadLeft("7", 4, ""), "7");
    EXPECT_EQ(BoolText(true), "True");
    EXPECT_EQ(BoolText(false), "False");

    const std::string printable = RandomPrintable(200);
    ASSERT_EQ(printable.size(), 200u);
    for (char c : printable)
        EXPECT_TRUE(IsPrintable(c));
    const std::string alphanumeric = RandomAlphanumeric(200);
    ASSERT_EQ(alphanumeric.size(), 200u);
    for (char c : alphanumeric)
        EXPECT_TRUE(IsLetter(c) || IsDigit(c));
    EXPECT_NE(RandomAlphanumeric(20), RandomAlphanumeric(20));
    EXPECT_EQ(RandomAlphanumeric(0), "");

    EXPECT_EQ(LocalHostName(), "LocalHost");
    EXPECT_FALSE(MachineName().empty());
    EXPECT_EQ(MachineName(), MachineName());
}

TEST(UtilUrl, EncodeAndDecode) {
    EXPECT_EQ(UrlEncode("a b%+/~\"#\x80"), "a%20b%25%2B/~%22%23%80");
    EXPECT_EQ(UrlDecode(UrlEncode("x=1&y=\"<a>\"\r\n\xFF")), "x=1&y=\"<a>\"\r\n\xFF");
    struct Case {
        const char* name;
        const char* text;
        const char* decoded;
    } cases[] = {
        {"trailing percent", "100%", "100%"},
        {"one digit", "%4", "%4"},
        {"not hex", "%zz%4g", "%zz%4g"},
        {"plus and lower case", "a+%2b%2F", "a +/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UrlDecode(c.text), c.decoded);
    }
}

TEST(UtilHtml, Escape) {
    struct Case {
        std::string text;
        std::string escaped;
    } cases[] = {
        {"a  b<c>", "a &nbsp;b&lt;c&gt;"}, {"\xE9", "&#233;"},   {"   ", " &nbsp;&nbsp;"},
        {"\"&\"", "&quot;&amp;&quot;"},    {"~\x7F", "~&#127;"}, {"plain~\t", "plain~\t"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(EscapeHtml(text), c.text != c.escaped);
        EXPECT_EQ(text, c.escaped);
    }
    Lines lines{"<b>", "x"};
    TextToHtmlLines(lines);
    EXPECT_EQ(lines, (Lines{"&lt;b&gt;<br>", "x<br>"}));
}

TEST(UtilHtml, DecodeEntities) {
    struct Case {
        const char* name;
        std::string text;
        std::string decoded;
    } cases[] = {
        {"named, last character kept", "caf&eacute; &amp; more", "caf\xE9 & more"},
        {"unknown stays", "AT&T", "AT&T"},
        {"markup", "&lt;b&gt;&quot;&nbsp;", "<b>\" "},
        {"typographic code points", "&#8217;&#8220;&#8221;&#8364;", "'\"\"E"},
        {"decimal modulo 256", "&#65;&#321;", "AA"},
        {"NUL is not decoded", "&#0;&#256;", "&#0;&#256;"},
        {"a number is never cut short", "&#2560x;&#65abc", "&#2560x;Aabc"},
        {"without semicolon", "&amp more &lt", "& more <"},
        {"longest name that decodes", "&notin;", "\xACin;"},
        {"case-sensitive names", "&Eacute;&EACUTE;", "\xC9&EACUTE;"},
        {"semicolon too far", "&averyverylongname;", "&averyverylongname;"},
        {"character after an unknown & is copied", "&&amp;", "&&amp;"},
        {"lone & at the end", "a&", "a&"},
        {"numbers in a name", "&frac12;&sup2;", "\xBD\xB2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        EXPECT_EQ(DecodeHtmlEntities(text), c.text != c.decoded);
        EXPECT_EQ(text, c.decoded);
    }
}

TEST(UtilLines, Wrap) {
    struct Case {
        const char* name;
        Lines lines;
        int width;
        bool keepIndent;
        Lines wrapped;
    } cases[] = {
        {"last blank within the width", {"aaa bbb ccc"}, 8, false, {"aaa bbb", "ccc"}},
        {"blank after the width does not count", {"aa bb cc dd"}, 5, false, {"aa", "bb", "cc dd"}},
        {"short line stays", {"aa bb"}, 5, false, {"aa bb"}},
        {"no blank within: first one after", {"aaaaaaa bb"}, 4, false, {"aaaaaaa", "bb"}},
        {"no blank at all", {"aaaaaaaaaa"}, 4, false, {"aaaaaaaaaa"}},
        {"blank only at the end", {"aaaaaaa "}, 4, false, {"aaaaaaa "}},
        {"indentation kept", {"  aa bb cc"}, 6, true, {"  aa", "  bb", "  cc"}},
        {"indentation dropped", {"  aa bb cc"}, 6, false, {"  aa", "bb cc"}},
        {"blank inside the indentation", {"      aaaa bb"}, 4, true, {"      aaaa", "      bb"}},
        {"following lines untouched", {"aa bb", "c"}, 3, false, {"aa", "bb", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Lines lines = c.lines;
        WrapLines(lines, c.width, c.keepIndent);
        EXPECT_EQ(lines, c.wrapped);
    }
    Lines lines{"ab", "abcd", ""};
    PadLines(lines, 3, '.');
    EXPECT_EQ(lines, (Lines{"ab.", "abcd", "..."}));
}

TEST(UtilLines, ReflowLongLinesWithAbbreviations) {
    Lines lines{
        "Hi.  Dear  Mr. Smith, please answer a.s.a.p. about the P.O. box in the U.S.A. that "
        "we rented last year!! Call Dr. Jones at 5 p.m. or write to me .  Thanks for "
        "everything, and see you at the meeting on Friday morning in the U.K. office",
        "",
        " ",
        "",
        "A short  line  .",
        "-----original message-----From: the B.C.E. archive, e.g. scrolls, i.e. old texts, "
        "r.s.v.p. by Sen. Rep. Gen. Prof. Ms. Mrs. Jr. Sr. Ph.D. M.D. at 9 a.m.",
        "Is this the right address for the order that I placed on Monday morning? I hope "
        "so, because the parcel has not arrived yet and I need it for the party on Saturday "
        "evening. Please check the shipping records and let me know soon!",
    };
    ReflowText(lines);
    const Lines expected{
        "Hi. Dear mr Smith, please answer asap about the po box in the usa that we rented last "
        "year!",
        // no sentence end from the 50th character on: the rest stays whole
        "Call dr Jones at 5 pm or write to me. Thanks for everything, and see you at the "
        "meeting on Friday morning in the uk office",
        "",
        "A short line.",
        // "B.C." goes before "B.C.E." in the list
        "From: the bcE. archive, eg scrolls, ie old texts, rsvp by Sen Rep Gen prof ms mrs Jr "
        "Sr PhD MD at 9 am",
        "Is this the right address for the order that I placed on Monday morning?",
        "I hope so, because the parcel has not arrived yet and I need it for the party on "
        "Saturday evening.",
        "Please check the shipping records and let me know soon!",
    };
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace gatemoor
