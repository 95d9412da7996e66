#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mail/Html.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

// ---- TVornUrl ----

TEST(VornUrl, ParsesAndRebuildsAReportLink) {
    const std::string link = "http://LocalHost:8080/GetReport?UserId=SingleUser&File=a%20b.htm";
    TVornUrl url;
    url.Parse(link);
    EXPECT_EQ(url.Scheme(), "http");
    EXPECT_EQ(url.Host(), "LocalHost");
    EXPECT_EQ(url.Port(), 8080);
    EXPECT_EQ(url.Path(), "");
    EXPECT_EQ(url.Document(), "GetReport");
    EXPECT_EQ(url.Command(), "GetReport");
    EXPECT_EQ(url.Params(), (Lines{"UserId=SingleUser", "File=a b.htm"}));
    EXPECT_EQ(url.Value("file"), "a b.htm");
    EXPECT_TRUE(url.IsValid());
    EXPECT_EQ(url.ToString(), link);
}

TEST(VornUrl, StartsAsALinkToTheReportService) {
    TVornUrl url;
    EXPECT_EQ(url.Scheme(), "http");
    EXPECT_EQ(url.Host(), "LocalHost");
    EXPECT_EQ(url.Port(), ReportServicePort());
    EXPECT_EQ(ReportServicePort(), kDefaultReportServicePort);
    url.SetCommand("GetBackup");
    url.SetValue("UserId", "SingleUser");
    url.SetValue("FileExt", "eml");
    EXPECT_EQ(url.ToString(), "http://LocalHost:6173/GetBackup?UserId=SingleUser&FileExt=eml");
}

TEST(VornUrl, ParsesEachAddressForm) {
    struct Case {
        const char* name;
        const char* text;
        const char* scheme;
        const char* user;
        const char* password;
        const char* host;
        int port;
        const char* path;
        const char* document;
    };
    const Case cases[] = {
        {"host only", "http://example.org", "http", "", "", "example.org", 80, "", ""},
        {"no scheme", "example.org/a/b.htm", "http", "", "", "example.org", 80, "a", "b.htm"},
        {"deep path", "ftp://h/a/b/c/d.txt", "ftp", "", "", "h", 80, "a/b/c", "d.txt"},
        {"user and password", "http://joe:secret@h:81/x", "http", "joe", "secret", "h", 81, "",
         "x"},
        {"user, no slash", "http://joe@h", "http", "joe", "", "h", 80, "", ""},
        {"'@' after the first slash is path", "http://h/a@b", "http", "", "", "h", 80, "", "a@b"},
        {"port without path", "http://h:8080", "http", "", "", "h", 8080, "", ""},
        {"port not a number, no slash", "http://h:abc", "http", "", "", "h", 80, "", "abc"},
        {"port not a number, slash", "http://h:x1/doc", "http", "", "", "h", 80, "", "doc"},
        {"port beyond range", "http://h:99999999999999999999/d", "http", "", "", "h", 80, "", "d"},
        {"empty port", "http://h:/d", "http", "", "", "h", 80, "", "d"},
        {"colon in the path", "http://h/dir/a:b", "http", "", "", "h", 80, "dir", "a:b"},
        {"decoded before splitting", "http://h/a%2Fb", "http", "", "", "h", 80, "a", "b"},
        {"plus is a blank", "http://h/a+b", "http", "", "", "h", 80, "", "a b"},
        {"empty", "", "http", "", "", "", 80, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TVornUrl url;
        url.Parse(c.text);
        EXPECT_EQ(url.Scheme(), c.scheme);
        EXPECT_EQ(url.User(), c.user);
        EXPECT_EQ(url.Password(), c.password);
        EXPECT_EQ(url.Host(), c.host);
        EXPECT_EQ(url.Port(), c.port);
        EXPECT_EQ(url.Path(), c.path);
        EXPECT_EQ(url.Document(), c.document);
    }
}

TEST(VornUrl, BuildsEachAddressForm) {
    struct Case {
        const char* name;
        const char* user;
        const char* password;
        int port;
        const char* path;
        const char* document;
        const char* expected;
    };
    const Case cases[] = {
        {"port 80 left out", "", "", 80, "", "GetReport", "http://LocalHost/GetReport"},
        {"other port kept", "", "", 6173, "", "", "http://LocalHost:6173"},
        {"user and password", "u", "p", 80, "a/b", "c", "http://u:p@LocalHost/a/b/c"},
        {"user alone", "u", "", 80, "", "", "http://u@LocalHost"},
        {"password alone keeps its colon", "", "p", 80, "", "", "http://:p@LocalHost"},
        {"encoded", "", "", 80, "my dir", "50%+(x).htm",
         "http://LocalHost/my%20dir/50%25%2B%28x%29.htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TVornUrl url;
        url.SetUser(c.user);
        url.SetPassword(c.password);
        url.SetPort(c.port);
        url.SetPath(c.path);
        url.SetDocument(c.document);
        EXPECT_EQ(url.ToString(), c.expected);

        TVornUrl again;
        again.Parse(url.ToString());
        EXPECT_EQ(again.User(), c.user);
        EXPECT_EQ(again.Password(), c.password);
        EXPECT_EQ(again.ToString(), c.expected);
    }
}

TEST(VornUrl, QueryValuesSurviveTheRoundTrip) {
    // '+' must not come back as a blank: the file would be another file.
    const Lines params = {"File=C++ notes(1).htm", "Q=a&b=c", "Hash=#x", "Pct=100%", "Hi=\xE9\t"};
    TVornUrl url;
    for (const auto& line : params)
        url.AddParam(line);
    EXPECT_EQ(url.QueryString(),
              "File=C%2B%2B%20notes%281%29.htm&Q=a%26b=c&Hash=%23x&Pct=100%25&Hi=%E9%09");
    TVornUrl parsed;
    parsed.Parse(url.ToString());
    EXPECT_EQ(parsed.Params(), params);
}

TEST(VornUrl, QueryPiecesAreDecodedAndEmptyOnesDropped) {
    TVornUrl url;
    url.SetQueryString("a=1&&b=x+y&c=%zz&&");
    EXPECT_EQ(url.Params(), (Lines{"a=1", "b=x y", "c=%zz"}));
    url.SetQueryString("");
    EXPECT_EQ(url.ParamCount(), 0u);
    EXPECT_EQ(url.QueryString(), "");
}

TEST(VornUrl, ParseLimitsWhatItReads) {
    const std::string longQuery(TVornUrl::kMaxQueryLength + 50, 'q');
    const std::string longDocument(TVornUrl::kMaxDocumentLength + 50, 'd');
    TVornUrl url;
    url.Parse("http://h/p/" + longDocument + "?" + longQuery);
    ASSERT_EQ(url.ParamCount(), 1u);
    EXPECT_EQ(url.Params()[0].size(), TVornUrl::kMaxQueryLength);
    EXPECT_EQ(url.Document().size(), TVornUrl::kMaxDocumentLength);
    EXPECT_EQ(url.Path(), "p");
}

TEST(VornUrl, ParametersAreReadByNameWithoutRegardToCase) {
    TVornUrl url;
    url.Parse("/GetReport?Hint=1&file=first&FILE=second&Flag&hint=2");
    EXPECT_EQ(url.Value("File"), "first");
    EXPECT_TRUE(url.HasParam("flag"));
    EXPECT_EQ(url.Value("Flag"), "");
    EXPECT_FALSE(url.HasParam("Missing"));
    EXPECT_EQ(url.Value("Missing"), "");

    EXPECT_TRUE(url.RemoveParam("HINT"));
    EXPECT_FALSE(url.HasParam("Hint"));
    EXPECT_FALSE(url.RemoveParam("Hint"));

    url.SetValue("File", "third");
    EXPECT_EQ(url.Value("file"), "third");
    EXPECT_EQ(url.Params(), (Lines{"File=third", "FILE=second", "Flag"}));
    url.SetValue("New", "v");
    EXPECT_EQ(url.Params().back(), "New=v");
    url.SetValue("file", "");
    EXPECT_EQ(url.Value("File"), "second");
}

TEST(VornUrl, ValidityNeedsSchemeAndHost) {
    TVornUrl url;
    url.Parse("HTTP://Localhost:6173/GetReport?File=x");
    EXPECT_TRUE(url.IsValid());
    url.Parse("/GetReport");
    EXPECT_FALSE(url.IsValid());
    url.Parse("://h/x");
    EXPECT_FALSE(url.IsValid());
}

TEST(VornUrl, LastPathSegment) {
    EXPECT_EQ(LastPathSegment("a/b/c.htm"), "c.htm");
    EXPECT_EQ(LastPathSegment("c.htm"), "c.htm");
    EXPECT_EQ(LastPathSegment("a/"), "");
    EXPECT_EQ(LastPathSegment(""), "");
}

// ---- TSimpleHtml ----

TEST(SimpleHtml, AddLineTakesTheLastLevelAndAlwaysBreaksForLevelMinusOne) {
    TSimpleHtml html;
    html.AddLine("first");
    html.AddLine("second", 7, false, TSimpleHtmlMode::HtmlOnly);
    html.AddLine("third", -1, false);
    html.AddLine("fourth", 300, true, TSimpleHtmlMode::TextOnly);
    EXPECT_EQ(html.Lines(), (Lines{"<br>first", "second", "<br>third", "<br>fourth"}));
    EXPECT_EQ(html.LevelOf(0), TSimpleHtml::kDefaultLevel);
    EXPECT_EQ(html.LevelOf(1), 7);
    EXPECT_EQ(html.LevelOf(2), 7);
    EXPECT_EQ(html.LevelOf(3), 255);
    EXPECT_EQ(html.ModeOf(1), TSimpleHtmlMode::HtmlOnly);
    EXPECT_EQ(html.ModeOf(2), TSimpleHtmlMode::Both);
    EXPECT_EQ(html.ModeOf(3), TSimpleHtmlMode::TextOnly);
}

TEST(SimpleHtml, InsertLineBreaksOnlyAfterExistingLines) {
    TSimpleHtml html;
    html.InsertLine(0, "b", true);
    html.InsertLine(0, "a", true, TSimpleHtmlMode::TextOnly, 2);
    html.InsertLine(99, "c", false);
    EXPECT_EQ(html.Lines(), (Lines{"<br>a", "b", "c"}));
    EXPECT_EQ(html.LevelOf(0), 2);
    EXPECT_EQ(html.ModeOf(0), TSimpleHtmlMode::TextOnly);
}

TEST(SimpleHtml, AppendToLastAddBreakAndLevelLimits) {
    TSimpleHtml html;
    html.AppendToLast("x");
    html.AppendToLast("y");
    html.AddBreak();
    EXPECT_EQ(html.Lines(), (Lines{"xy", "<br>"}));
    EXPECT_EQ(html.LevelOf(0), TSimpleHtml::kDefaultLevel);
    html.SetLevel(0, 1000);
    EXPECT_EQ(html.LevelOf(0), 255);
    html.SetLevel(0, -4);
    EXPECT_EQ(html.LevelOf(0), 0);
    html.SetMode(1, TSimpleHtmlMode::HtmlOnly);
    EXPECT_EQ(html.ModeOf(1), TSimpleHtmlMode::HtmlOnly);
    html.SetLevel(9, 3);  // beyond the lines: nothing happens
    EXPECT_EQ(html.LevelOf(9), 0);
}

TSimpleHtml MixedModes() {
    TSimpleHtml html;
    html.AddLine("both", 1, false, TSimpleHtmlMode::Both);
    html.AddLine("html", 2, false, TSimpleHtmlMode::HtmlOnly);
    html.AddLine("text", 3, false, TSimpleHtmlMode::TextOnly);
    html.AddLine("detail", 9, false, TSimpleHtmlMode::Both);
    return html;
}

TEST(SimpleHtml, KeepModeDropsTheOtherOutput) {
    struct Case {
        const char* name;
        TSimpleHtmlMode mode;
        Lines expected;
    };
    const Case cases[] = {
        {"html", TSimpleHtmlMode::HtmlOnly, {"both", "html", "detail"}},
        {"text", TSimpleHtmlMode::TextOnly, {"both", "text", "detail"}},
        {"both keeps all", TSimpleHtmlMode::Both, {"both", "html", "text", "detail"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSimpleHtml html = MixedModes();
        html.KeepMode(c.mode);
        EXPECT_EQ(html.Lines(), c.expected);
    }
}

TEST(SimpleHtml, CopyLinesFiltersByModeAndLevel) {
    struct Case {
        const char* name;
        TSimpleHtmlMode filter;
        int maxLevel;
        Lines expected;
    };
    const Case cases[] = {
        {"all", TSimpleHtmlMode::Both, 255, {"both", "html", "text", "detail"}},
        {"text output", TSimpleHtmlMode::TextOnly, 255, {"both", "text", "detail"}},
        {"html output", TSimpleHtmlMode::HtmlOnly, 255, {"both", "html", "detail"}},
        {"summary", TSimpleHtmlMode::Both, 2, {"both", "html"}},
        {"nothing", TSimpleHtmlMode::Both, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSimpleHtml target;
        target.AddLine("kept", 4, false);
        target.CopyLines(MixedModes(), c.filter, c.maxLevel);
        Lines expected = {"kept"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(target.Lines(), expected);
    }
    TSimpleHtml target;
    target.CopyLines(MixedModes(), TSimpleHtmlMode::Both, 255);
    EXPECT_EQ(target.LevelOf(2), 3);
    EXPECT_EQ(target.ModeOf(2), TSimpleHtmlMode::TextOnly);

    TSimpleHtml self = MixedModes();
    self.CopyLines(self, TSimpleHtmlMode::Both, 255);
    EXPECT_EQ(self.Count(), 8u);
}

TEST(SimpleHtml, ReplaceAllInEveryLineAndRefusesEndlessReplacements) {
    TSimpleHtml html;
    html.AddLine("a %N% b %N%", 1, false);
    html.AddLine("none", 1, false);
    EXPECT_TRUE(html.ReplaceAll("%N%", "3"));
    EXPECT_EQ(html.Lines(), (Lines{"a 3 b 3", "none"}));
    EXPECT_FALSE(html.ReplaceAll("3", "33"));
    EXPECT_FALSE(html.ReplaceAll("3", "3"));
    EXPECT_FALSE(html.ReplaceAll("absent", "x"));
    EXPECT_EQ(html.Lines(), (Lines{"a 3 b 3", "none"}));
}

TEST(SimpleHtml, WrapInBoxFramesBothOutputs) {
    TSimpleHtml html;
    html.AddLine("content", 4, true, TSimpleHtmlMode::Both);
    html.WrapInBox("R&D <Notice>", "http://h/help.htm", 80);
    const std::string rule = "<br>" + std::string(69, '-');
    const Lines expected = {
        "<br>R&D <Notice>",
        rule,
        " <HR width=\"80%\" align=\"left\">",
        " <table width=\"100%\" border=\"0\" cols=2 rows=2 bgcolor=\"white\">",
        "  <tr>",
        "   <td width=\"50%\"><font size=\"-1\"><b>R&amp;D &lt;Notice&gt;</b></font></td>",
        "   <td width=\"50%\"><font size=\"-1\"><A HREF=http://h/help.htm>Help</a></font></td>",
        "  </tr>",
        "  <tr><td colspan=\"2\"><font size=\"-1\"><BlockQuote>",
        "<br>content",
        "  </BlockQuote></font></td></tr>",
        " </table>",
        rule,
    };
    ASSERT_EQ(html.Lines(), expected);
    for (std::size_t i = 0; i < html.Count(); ++i) {
        SCOPED_TRACE(expected[i]);
        const bool textOnly = i == 0 || i == 1 || i + 1 == html.Count();
        if (expected[i] == "<br>content") {
            EXPECT_EQ(html.LevelOf(i), 4);
            EXPECT_EQ(html.ModeOf(i), TSimpleHtmlMode::Both);
        } else {
            EXPECT_EQ(html.LevelOf(i), 1);
            EXPECT_EQ(html.ModeOf(i),
                      textOnly ? TSimpleHtmlMode::TextOnly : TSimpleHtmlMode::HtmlOnly);
        }
    }
}

TEST(SimpleHtml, WrapInBoxRulePlacementAndOptionalCells) {
    const std::string rule = " <HR width=\"30%\" align=\"left\">";
    TSimpleHtml below;
    below.AddLine("x", 1, false);
    below.WrapInBox("", "", -30);
    const Lines lines = below.Lines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "<br>" + std::string(69, '-'));  // no title line
    EXPECT_EQ(lines[1], " <table width=\"100%\" border=\"0\" cols=2 rows=2 bgcolor=\"white\">");
    EXPECT_EQ(lines[2], "  <tr>");
    EXPECT_EQ(lines[3], "  </tr>");
    EXPECT_EQ(lines[8], rule);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), rule), 1);

    TSimpleHtml none;
    none.WrapInBox("T", "", 0);
    for (const auto& line : none.Lines())
        EXPECT_EQ(line.find("<HR"), std::string::npos) << line;
}

TEST(SimpleHtml, BoxInPlainTextIsTitleAndRulesAroundTheContent) {
    TSimpleHtml html;
    html.AddLine("An attachment was removed", 1);
    html.AddLine("Caf&eacute; menu.exe", 1);
    html.WrapInBox("Gatemoor Notice", "http://h/help.htm", 100);
    html.KeepMode(TSimpleHtmlMode::TextOnly);
    Lines text;
    html.ToText(text);
    const std::string dashes(69, '-');
    EXPECT_EQ(text, (Lines{"Gatemoor Notice", dashes, "An attachment was removed",
                           "Caf\xE9 menu.exe", dashes}));
}

TEST(SimpleHtmlList, OwnsItsBuilders) {
    TSimpleHtmlList list;
    list.Add().AddLine("one");
    list.Add().AddLine("two");
    list.Add();
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[1].Line(0), "<br>two");
    list.Delete(0);
    EXPECT_EQ(list[0].Line(0), "<br>two");
    list.Delete(7);
    EXPECT_EQ(list.Count(), 2u);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace gatemoor
