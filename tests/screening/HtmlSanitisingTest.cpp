#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "mail/EmailMsg.h"
#include "screening/EmailInfo.h"
#include "screening/HtmlSanitising.h"
#include "screening/VornUtilRegex.h"

namespace gatemoor {

void PrintTo(const TDangerReason& reason, std::ostream* out) {
    *out << "{\"" << reason.text << "\", " << reason.points << "}";
}

namespace {

using Lines = std::vector<std::string>;

Lines SplitLines(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return lines;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string Joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

constexpr std::string_view kHeader =
    "From: sender@example.com\n"
    "To: user@example.com\n"
    "Subject: Test\n"
    "MIME-Version: 1.0\n";

std::string HtmlMessage(std::string_view html) {
    return std::string(kHeader) + "Content-Type: text/html; charset=\"us-ascii\"\n\n" +
           std::string(html);
}

std::string PlainMessage(std::string_view body, std::string_view encoding = {}) {
    std::string text = std::string(kHeader) + "Content-Type: text/plain; charset=\"us-ascii\"\n";
    if (!encoding.empty()) text += "Content-Transfer-Encoding: " + std::string(encoding) + "\n";
    return text + "\n" + std::string(body);
}

std::string AlternativeMessage(std::string_view plain, std::string_view html) {
    return std::string(kHeader) +
           "Content-Type: multipart/alternative; boundary=\"sep\"\n"
           "\n"
           "--sep\n"
           "Content-Type: text/plain; charset=\"us-ascii\"\n"
           "Content-Transfer-Encoding: 7bit\n"
           "\n" +
           std::string(plain) +
           "\n"
           "--sep\n"
           "Content-Type: text/html; charset=\"us-ascii\"\n"
           "\n" +
           std::string(html) +
           "\n"
           "--sep--\n";
}

struct InfoLine {
    std::string text;
    TSimpleHtmlMode mode;
    friend bool operator==(const InfoLine&, const InfoLine&) = default;
};

std::ostream& operator<<(std::ostream& out, const InfoLine& line) {
    return out << "{\"" << line.text << "\", mode " << static_cast<int>(line.mode) << "}";
}

// How a finding shows in the report's general information.
std::vector<InfoLine> FindingLines(std::string_view pointsLine, std::string_view notice) {
    std::vector<InfoLine> lines{{"<br>" + std::string(pointsLine), TSimpleHtmlMode::HtmlOnly}};
    if (!notice.empty()) lines.push_back({"<br>" + std::string(notice), TSimpleHtmlMode::Both});
    return lines;
}

// One message loaded from literal text with the parts the pipeline would hold.
class Screening {
public:
    explicit Screening(std::string_view text) : original_(SplitLines(text)) {
        message_.SetSaveOnDestroy(false);
        Lines lines = original_;
        EXPECT_TRUE(message_.SetRawMail(lines));
        const TBodyParts parts = message_.FindBodyParts();
        ctx.message = &message_;
        ctx.textPart = parts.plain;
        ctx.htmlPart = parts.html;
    }

    TEmailMsg& Message() { return message_; }
    [[nodiscard]] const Lines& Original() const { return original_; }

    Lines Written() {
        Lines lines;
        EXPECT_TRUE(message_.SaveToLines(lines, true));
        return lines;
    }

    // The written message loaded afresh, as the mail program will see it.
    std::unique_ptr<TEmailMsg> Reloaded() {
        auto copy = std::make_unique<TEmailMsg>();
        copy->SetSaveOnDestroy(false);
        Lines lines = Written();
        EXPECT_TRUE(copy->SetRawMail(lines));
        return copy;
    }

    [[nodiscard]] std::vector<TDangerReason> Reasons() const {
        return message_.Info().DangerReasons();
    }

    std::vector<InfoLine> Info() {
        std::vector<InfoLine> lines;
        const TSimpleHtml& info = ctx.GeneralInfo();
        for (std::size_t i = 0; i < info.Count(); ++i)
            lines.push_back({info.Line(i), info.ModeOf(i)});
        return lines;
    }

    TScreeningContext ctx;

private:
    Lines original_;
    TEmailMsg message_;
};

// The message was converted: it has a plain body only, and the stage holds the new
// text part and no HTML part.
void ExpectConverted(Screening& s) {
    EXPECT_EQ(s.ctx.htmlPart, nullptr);
    EXPECT_TRUE(s.ctx.noticeFlag);
    EXPECT_TRUE(s.ctx.modifiedFlag);
    EXPECT_TRUE(s.Message().ConvertedToPlainText());
    EXPECT_EQ(s.ctx.textPart, s.Message().FindBodyParts().plain);
    const auto reloaded = s.Reloaded();
    const TBodyParts parts = reloaded->FindBodyParts();
    EXPECT_EQ(parts.html, nullptr);
    EXPECT_NE(parts.plain, nullptr);
}

// Nothing found: no reason, no report line, no flag, and the message unchanged.
void ExpectUntouched(Screening& s) {
    EXPECT_TRUE(s.Reasons().empty());
    EXPECT_TRUE(s.Info().empty());
    EXPECT_FALSE(s.ctx.noticeFlag);
    EXPECT_FALSE(s.ctx.modifiedFlag);
    EXPECT_NE(s.ctx.htmlPart, nullptr);
    EXPECT_EQ(Joined(s.Written()), Joined(s.Original()));
}

void Settings(int webContent, bool scripts = true, bool frames = true, bool objects = true) {
    WriteSetting(settings::kWebContent, webContent);
    WriteSetting(settings::kBlockScripts, scripts ? 1 : 0);
    WriteSetting(settings::kBlockFrames, frames ? 1 : 0);
    WriteSetting(settings::kBlockObjects, objects ? 1 : 0);
}

class HtmlSanitising : public ::testing::Test {
protected:
    void SetUp() override { Settings(1); }
};

constexpr std::string_view kJavaPoints = "40 danger points added to e-mail due to HTML Java script";
constexpr std::string_view kJavaNotice =
    "Gatemoor converted this email to plain text because it contained javascript.";
constexpr std::string_view kScriptPoints = "40 danger points added to e-mail due to HTML script";
constexpr std::string_view kScriptNotice =
    "Gatemoor converted this email to plain text because it contained scripts.";
constexpr std::string_view kEventNotice =
    "Gatemoor converted this email to plain text because it contained scripts set to execute "
    "when certian actions were detected.";
constexpr std::string_view kRefreshPoints =
    "100 danger points added to e-mail due to HTML Meta refresh. (Email contents to be "
    "automatically downloaded from another server)";
constexpr std::string_view kRefreshNotice =
    "Gatemoor converted this email to plain text because it contained a command to download "
    "it's contents from a unknown server.";
constexpr std::string_view kLinkPoints =
    "10 danger points added to e-mail due to external \"link\" reference. (Email content to be "
    "automatically downloaded from another server)";
constexpr std::string_view kLinkNotice =
    "Gatemoor converted this email to plain text because it contained a command to download "
    "content from a unknown server.";
constexpr std::string_view kFramePoints =
    "90 danger points added to e-mail due to HTML embedded frame";
constexpr std::string_view kFrameNotice =
    "Gatemoor converted this email to plain text because it contained inline HTML frames.";
constexpr std::string_view kObjectPoints =
    "90 danger points added to e-mail due to HTML embedded Objects";
constexpr std::string_view kObjectNotice =
    "Gatemoor converted this email to plain text because it contained inline HTML Objects.";
constexpr std::string_view kPlainScriptNotice =
    "Suspicious script in plain text.  Possible Outlook Express exploit";

struct FindingCase {
    const char* name;
    std::string html;
    std::string_view reason;
    int points;
    std::string_view pointsLine;
    std::string_view notice;
};

// Each case is one single-part HTML message with exactly one finding.
void RunFindingCases(const std::vector<FindingCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(HtmlMessage(c.html));
        ASSERT_NE(s.ctx.htmlPart, nullptr);
        CheckHtmlBody(s.ctx);
        EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{std::string(c.reason), c.points}}));
        EXPECT_EQ(s.Info(), FindingLines(c.pointsLine, c.notice));
        EXPECT_EQ(s.Message().TotalDangerPoints(), c.points);
        ExpectConverted(s);
    }
}

TEST_F(HtmlSanitising, TheFirstScriptRowThatAppliesIsRecordedAlone) {
    const std::string_view vbPoints =
        "60 danger points added to e-mail due to HTML visual basic script";
    const std::string_view vbNotice =
        "Vornsmithy converted this email to plain text because it contained Visual Basic script.";
    const std::string_view perlPoints = "20 danger points added to e-mail due to HTML Perl script";
    const std::string_view perlNotice =
        "Gatemoor converted this email to plain text because it contained Perl script.";
    const std::string_view wmlPoints = "20 danger points added to e-mail due to HTML WML script";
    const std::string_view wmlNotice =
        "Gatemoor converted this email to plain text because it contained WML script.";
    const std::string_view eventPoints = "40 danger points added to email due to HTML event script";
    const std::string_view typePoints = "30 danger points added to email due to HTML event script";
    RunFindingCases({
        {"javascript language", "<SCRIPT Language=\"JavaScript\">go()</SCRIPT>", "HTML Java script",
         40, kJavaPoints, kJavaNotice},
        {"jscript language", "<html><script language = JScript>go()</script></html>",
         "HTML Java script", 40, kJavaPoints, kJavaNotice},
        {"javascript link", "<a href=\"javascript:go()\">go</a>", "HTML Java script", 40,
         kJavaPoints, kJavaNotice},
        {"jscript link", "<p>x</p><img src='JScript:go()'>", "HTML Java script", 40, kJavaPoints,
         kJavaNotice},
        {"javascript before an event", "<body onload=\"a()\"><a href=\"javascript:b()\">b</a>",
         "HTML Java script", 40, kJavaPoints, kJavaNotice},
        {"vbscript through the script tag", "<script type=\"text/vbscript\">MsgBox 1</script>",
         "HTML script", 40, kScriptPoints, kScriptNotice},
        {"blanks inside the tag name", "< SCRIPT >go()</script>", "HTML script", 40, kScriptPoints,
         kScriptNotice},
        {"script tag split over lines", "<p>x</p><scr\nipt>go()</script>", "HTML script", 40,
         kScriptPoints, kScriptNotice},
        {"a tab keeps the language apart", "<SCRIPT\tLanguage=\"JavaScript\">go()</SCRIPT>",
         "HTML script", 40, kScriptPoints, kScriptNotice},
        {"vbscript language", "<xscript language=\"VBScript\">MsgBox 1</xscript>",
         "HTML Visual Basic script", 60, vbPoints, vbNotice},
        {"vbs language", "<xscript language=vbs>MsgBox 1</xscript>", "HTML Visual Basic script", 60,
         vbPoints, vbNotice},
        {"perlscript language", "<xscript language=\"PerlScript\">print</xscript>",
         "HTML Perl script", 20, perlPoints, perlNotice},
        {"wmlscript language", "<xscript language=WMLScript>x</xscript>", "HTML WML script", 20,
         wmlPoints, wmlNotice},
        {"other language", "<xscript language=\"tcl\">x</xscript>", "HTML script", 40,
         kScriptPoints, kScriptNotice},
        {"vbscript link", "<a href=\"VBScript:MsgBox(1)\">x</a>", "HTML script", 40, kScriptPoints,
         kScriptNotice},
        {"perlscript link over lines", "<a\nhref = perlscript:x>y</a>", "HTML script", 40,
         kScriptPoints, kScriptNotice},
        {"meta refresh", "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://example.com/\">",
         "Refresh redirection of input", 100, kRefreshPoints, kRefreshNotice},
        {"refresh before an event", "<body onclick=x()><meta http-equiv=refresh content=5>",
         "Refresh redirection of input", 100, kRefreshPoints, kRefreshNotice},
        {"onload", "<body onLoad=\"x()\">hi</body>", "event attribute", 40, eventPoints,
         kEventNotice},
        {"mouse over with blanks", "<a href=\"x\" onMouseOver = \"y()\">x</a>", "event attribute",
         40, eventPoints, kEventNotice},
        {"event on the next line", "<body\nonunload=bye()>x</body>", "event attribute", 40,
         eventPoints, kEventNotice},
        {"content script type",
         "<meta http-equiv=\"Content-Script-Type\" content=\"text/tcl\"><p>x</p>",
         "event attribute", 30, typePoints, kEventNotice},
        {"script after a run of '<'", std::string(20000, '<') + "><script>go()</script>",
         "HTML script", 40, kScriptPoints, kScriptNotice},
    });
}

TEST_F(HtmlSanitising, HarmlessHtmlIsLeftAlone) {
    const struct {
        const char* name;
        const char* html;
    } cases[] = {
        {"plain markup", "<html><body><p>Hello <b>there</b></p></body></html>"},
        {"scheme in text", "<p>The word javascript: is only text</p>"},
        {"event name in text", "<p>call onload later</p>"},
        {"scheme without a closing bracket", "<p>x</p><a href=javascript:go()"},
        {"meta other than refresh", "<meta http-equiv=\"Content-Type\" content=\"text/html\">"},
        {"frame without frameset", "<frame src=\"a.htm\">"},
        {"words that resemble tags", "<p>linking, iframes, objects and embedding</p>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(HtmlMessage(c.html));
        CheckHtmlBody(s.ctx);
        ExpectUntouched(s);
    }
}

TEST_F(HtmlSanitising, LinksFramesAndObjectsAreFindings) {
    RunFindingCases({
        {"stylesheet link", "<link rel=stylesheet href=http://example.com/a.css><p>x</p>",
         "External \"Link\" reference.", 10, kLinkPoints, kLinkNotice},
        {"upper-case link", "<LINK REL=\"stylesheet\" HREF=\"a.css\">",
         "External \"Link\" reference.", 10, kLinkPoints, kLinkNotice},
        {"iframe", "<iframe src=\"http://example.com/\"></iframe>", "Inline HTML Frame", 90,
         kFramePoints, kFrameNotice},
        {"closing iframe alone", "<p>x</p></IFRAME>", "Inline HTML Frame", 90, kFramePoints,
         kFrameNotice},
        {"frameset with attributes", "<frameset cols=\"50%\"><frame src=a></frameset>",
         "Inline HTML Frame", 90, kFramePoints, kFrameNotice},
        {"bare frameset", "<frameset ><frame src=a>", "Inline HTML Frame", 90, kFramePoints,
         kFrameNotice},
        {"object", "<object data=\"x.swf\"></object>", "Inline HTML Objects", 90, kObjectPoints,
         kObjectNotice},
        {"applet", "<APPLET code=\"x.class\">", "Inline HTML Objects", 90, kObjectPoints,
         kObjectNotice},
        {"embed", "<embed src=\"x.mid\">", "Inline HTML Objects", 90, kObjectPoints, kObjectNotice},
        {"closing embed alone", "<p>x</p></embed>", "Inline HTML Objects", 90, kObjectPoints,
         kObjectNotice},
    });
}

TEST_F(HtmlSanitising, SafeHtmlChecksLinksAfterAConversionButNotFramesOrObjects) {
    Screening s(HtmlMessage("<script>go()</script><link rel=x><iframe src=a></iframe><embed>"));
    CheckHtmlBody(s.ctx);
    // Sorted by text.
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"External \"Link\" reference.", 10},
                                                       {"HTML script", 40}}));
    EXPECT_EQ(s.Message().TotalDangerPoints(), 50);
    // The link is recorded, but the message is plain text already: the second
    // conversion changes nothing, so no second notice.
    auto expected = FindingLines(kScriptPoints, kScriptNotice);
    expected.push_back(FindingLines(kLinkPoints, kLinkNotice).front());
    EXPECT_EQ(s.Info(), expected);
    ExpectConverted(s);
}

TEST_F(HtmlSanitising, ScriptAndFrameDependOnTheWebContentChoice) {
    const struct {
        const char* name;
        int webContent;
        std::vector<TDangerReason> reasons;
        int level;
    } cases[] = {
        {"safe html", 1, {{"HTML script", 40}}, 40},
        {"advanced", 3, {{"HTML script", 40}, {"Inline HTML Frame", 90}}, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings(c.webContent);
        Screening s(HtmlMessage("<p>x</p><script>go()</script><p>y</p></iframe>"));
        CheckHtmlBody(s.ctx);
        EXPECT_EQ(s.Reasons(), c.reasons);
        EXPECT_EQ(s.Message().TotalDangerPoints(), c.level);
        ExpectConverted(s);
    }
}

TEST_F(HtmlSanitising, AdvancedFollowsItsSwitches) {
    const std::string html = "<script>go()</script><iframe src=a></iframe><object data=b>";
    const struct {
        const char* name;
        bool scripts, frames, objects;
        std::vector<TDangerReason> reasons;
    } cases[] = {
        {"all on",
         true,
         true,
         true,
         {{"HTML script", 40}, {"Inline HTML Frame", 90}, {"Inline HTML Objects", 90}}},
        {"scripts only", true, false, false, {{"HTML script", 40}}},
        {"frames only", false, true, false, {{"Inline HTML Frame", 90}}},
        {"objects only", false, false, true, {{"Inline HTML Objects", 90}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings(3, c.scripts, c.frames, c.objects);
        Screening s(HtmlMessage(html));
        CheckHtmlBody(s.ctx);
        EXPECT_EQ(s.Reasons(), c.reasons);
        ExpectConverted(s);
    }
}

TEST_F(HtmlSanitising, AdvancedWithEverySwitchOffStillChecksLinks) {
    Settings(3, false, false, false);
    {
        Screening s(HtmlMessage("<script>go()</script><iframe src=a></iframe><embed src=b>"));
        CheckHtmlBody(s.ctx);
        ExpectUntouched(s);
    }
    Screening s(HtmlMessage("<link rel=stylesheet href=a.css><script>go()</script>"));
    CheckHtmlBody(s.ctx);
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"External \"Link\" reference.", 10}}));
    EXPECT_EQ(s.Info(), FindingLines(kLinkPoints, kLinkNotice));
    ExpectConverted(s);
}

TEST_F(HtmlSanitising, IgnoreAndPlainTextOnlySkipTheChecks) {
    const std::string html = "<script>go()</script><link rel=x><iframe></iframe><embed>";
    for (int webContent : {0, 2}) {
        SCOPED_TRACE(webContent);
        Settings(webContent);
        Screening s(AlternativeMessage("plain", html));
        ASSERT_NE(s.ctx.htmlPart, nullptr);
        CheckHtmlBody(s.ctx);
        ExpectUntouched(s);
        EXPECT_NE(Joined(s.Written()).find("<script>go()</script>"), std::string::npos);
    }
}

TEST_F(HtmlSanitising, AForgottenHtmlPartIsNotChecked) {
    Screening s(HtmlMessage("<script>go()</script>"));
    s.ctx.htmlPart = nullptr;
    CheckHtmlBody(s.ctx);
    EXPECT_TRUE(s.Reasons().empty());
    EXPECT_TRUE(s.Info().empty());
    EXPECT_FALSE(s.ctx.modifiedFlag);
    EXPECT_EQ(Joined(s.Written()), Joined(s.Original()));
}

// The stage held a part as the HTML body in a message that cannot be converted further:
// the finding stays, and nothing is flagged or forgotten.
TEST_F(HtmlSanitising, AConversionWithoutChangeKeepsTheFindingOnly) {
    Screening s(PlainMessage("<html><script>go()</script><iframe></iframe></html>"));
    s.ctx.htmlPart = s.ctx.textPart;
    ASSERT_NE(s.ctx.htmlPart, nullptr);
    CheckHtmlBody(s.ctx);
    EXPECT_EQ(s.Reasons(),
              (std::vector<TDangerReason>{{"HTML script", 40}, {"Inline HTML Frame", 90}}));
    auto expected = FindingLines(kScriptPoints, {});
    expected.push_back(FindingLines(kFramePoints, {}).front());
    EXPECT_EQ(s.Info(), expected);
    EXPECT_FALSE(s.ctx.noticeFlag);
    EXPECT_FALSE(s.ctx.modifiedFlag);
    EXPECT_EQ(s.ctx.htmlPart, s.ctx.textPart);
    EXPECT_EQ(Joined(s.Written()), Joined(s.Original()));
}

// Text that looks uuencoded but names no encoding stays as it stands when decoded; the
// mail program shows it so, and that is what is checked.
TEST_F(HtmlSanitising, BodiesThatDoNotDecodeAreCheckedAsTheyStand) {
    const std::string body = "begin 644 x\n<script>go()</script>\nend\n";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"html", HtmlMessage(body)},
        {"alternative", AlternativeMessage("x", body)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(c.text);
        ASSERT_NE(s.ctx.htmlPart, nullptr);
        Lines decoded;
        (void)s.ctx.htmlPart->DecodeToStringList(decoded, false);
        ASSERT_GE(decoded.size(), 2u);
        EXPECT_EQ(decoded[1], "<script>go()</script>");
        CheckHtmlBody(s.ctx);
        EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"HTML script", 40}}));
        ExpectConverted(s);
    }
    Screening s(PlainMessage("<script>go()</script>\nbegin 644 x\nend\n"));
    Lines decoded;
    (void)s.ctx.textPart->DecodeToStringList(decoded, false);
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ(decoded[0], "<script>go()</script>");
    CheckPlainTextMessage(s.ctx);
    EXPECT_TRUE(s.ctx.noticeFlag);
}

TEST_F(HtmlSanitising, EncodedHtmlIsCheckedDecoded) {
    // "<body onload=x()>hi</body>" in Base64.
    Screening s(std::string(kHeader) +
                "Content-Type: text/html\nContent-Transfer-Encoding: base64\n\n"
                "PGJvZHkgb25sb2FkPXgoKT5oaTwvYm9keT4=\n");
    CheckHtmlBody(s.ctx);
    EXPECT_EQ(s.Reasons(), (std::vector<TDangerReason>{{"event attribute", 40}}));
    ExpectConverted(s);
}

TEST_F(HtmlSanitising, PlainTextOnlyConvertsEveryFormattedMessage) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"alternative with a script",
         AlternativeMessage("Hello", "<p>Hello</p><script>go()</script>")},
        {"harmless html", HtmlMessage("<p>Hello <b>there</b></p>")},
    };
    Settings(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(c.text);
        ApplyWebContentChoice(s.ctx);
        EXPECT_TRUE(s.Reasons().empty());
        EXPECT_EQ(s.Info(),
                  (std::vector<InfoLine>{{"<br>Gatemoor converted this email to plain text.",
                                          TSimpleHtmlMode::Both}}));
        ExpectConverted(s);
        EXPECT_EQ(Joined(s.Written()).find("<script"), std::string::npos);
        // Later checks find no HTML part to work on.
        CheckHtmlBody(s.ctx);
        EXPECT_TRUE(s.Reasons().empty());
        EXPECT_EQ(s.Info().size(), 1u);
    }
}

TEST_F(HtmlSanitising, OtherWebContentChoicesKeepTheHtmlPart) {
    for (int webContent : {1, 2, 3}) {
        SCOPED_TRACE(webContent);
        Settings(webContent);
        Screening s(AlternativeMessage("Hello", "<p>Hello</p><script>go()</script>"));
        ApplyWebContentChoice(s.ctx);
        ExpectUntouched(s);
    }
}

TEST_F(HtmlSanitising, AShortPlainTextScriptIsSuspicious) {
    const std::string script = "<script>alert(1)</script>";  // 25 characters
    const struct {
        const char* name;
        std::string text;
        bool suspicious;
    } cases[] = {
        {"bare script", PlainMessage(script), true},
        {"upper case with blanks around", PlainMessage(" \t<SCRIPT>alert(1)</SCRIPT>  \n\n"), true},
        {"trailing empty lines", PlainMessage(script + std::string(100, '\n')), true},
        {"over two lines", PlainMessage("<script>\nalert(1)</script>"), true},
        {"99 characters", PlainMessage(script + std::string(74, 'x')), true},
        {"padded to 100 characters", PlainMessage(script + std::string(75, 'x')), false},
        {"11 characters", PlainMessage("<script>abc"), true},
        {"10 characters", PlainMessage("<script>ab"), false},
        {"not starting with '<'", PlainMessage("x" + script), false},
        {"other markup", PlainMessage("<b>nothing to run here</b>"), false},
        {"script later in the text", PlainMessage("<b>look</b> <script>x</script>"), true},
        {"base64 body", PlainMessage("PHNjcmlwdD5hbGVydCgxKTwvc2NyaXB0Pg==", "base64"), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screening s(c.text);
        CheckPlainTextMessage(s.ctx);
        EXPECT_TRUE(s.Reasons().empty());
        EXPECT_EQ(s.ctx.noticeFlag, c.suspicious);
        EXPECT_EQ(s.ctx.modifiedFlag, c.suspicious);
        if (c.suspicious) {
            EXPECT_EQ(s.Info(), (std::vector<InfoLine>{{"<br>" + std::string(kPlainScriptNotice),
                                                        TSimpleHtmlMode::Both}}));
        } else {
            EXPECT_TRUE(s.Info().empty());
        }
        EXPECT_EQ(Joined(s.Written()), Joined(s.Original()));
    }
}

TEST_F(HtmlSanitising, APlainTextCheckFindsTheTextPartItself) {
    Screening s(PlainMessage("<script>alert(1)</script>"));
    s.ctx.textPart = nullptr;  // the pipeline checks plain messages before it finds parts
    CheckPlainTextMessage(s.ctx);
    EXPECT_TRUE(s.ctx.noticeFlag);
}

// Every text over a small alphabet up to a length, against the expression as written.
TEST(HtmlTagSearch, AgreesWithTheTagExpression) {
    const std::string alphabet = "<>ab\n";
    const char* inners[] = {"ab", "(b|aa)", "a*"};
    std::vector<std::string> texts{""};
    for (std::size_t from = 0, length = 0; length < 7; ++length) {
        const std::size_t to = texts.size();
        for (std::size_t i = from; i < to; ++i) {
            for (char c : alphabet)
                texts.push_back(texts[i] + c);
        }
        from = to;
    }
    for (const char* inner : inners) {
        const std::string expression = std::string("<[^>]*") + inner + ".*?>";
        int mismatches = 0;
        for (const auto& text : texts) {
            const bool expected =
                RegexContains(expression, text, regex_flags::kDotAll | regex_flags::kGreedy);
            if (ContainsInTag(text, inner) != expected && ++mismatches <= 5) {
                ADD_FAILURE() << "inner " << inner << ", text \"" << text << "\": expected "
                              << expected;
            }
        }
        EXPECT_EQ(mismatches, 0) << inner;
    }
}

TEST(HtmlTagSearch, FindsTagsInLongRunsOfBrackets) {
    const std::string run(50000, '<');
    const struct {
        const char* name;
        std::string text;
        bool found;
    } cases[] = {
        {"run then a closing bracket", run + ">", false},
        {"run then the tag", run + "<a href=javascript:x>", true},
        {"tag then the run", "<a href=javascript:x>" + run, true},
        {"run then the scheme without a closing bracket", ">" + run + "javascript:", false},
        {"closing brackets only", std::string(50000, '>') + "javascript:>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContainsInTag(c.text, "javascript:"), c.found);
    }
}

}  // namespace
}  // namespace gatemoor
