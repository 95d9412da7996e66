#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailMsg.h"
#include "screening/EmailInfo.h"
#include "screening/SecurityReport.h"
#include "screening/VornUtilFolders.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines SplitLines(std::string_view text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string CrLfJoined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

constexpr std::string_view kPlainMessage =
    "From: Alice <alice@example.com>\n"
    "To: bob@example.com\n"
    "Subject: Hello\n"
    "Date: Tue, 5 Mar 2002 10:11:12 +0100\n"
    "Content-Type: text/plain\n"
    "\n"
    "Hi Bob\n";

std::string MessageWith(std::string_view headers, std::string_view body = "Hello there.\n") {
    return std::string(headers) + "\n" + std::string(body);
}

// One message as the pipeline holds it: backed up first, then loaded from literal text,
// with its own context.
class Screened {
public:
    explicit Screened(std::string_view text, bool withBackup = true) : original_(SplitLines(text)) {
        message_.SetSaveOnDestroy(false);
        message_.SetEnsureTextBodyFlag(false);
        if (withBackup) {
            backupFile_ = SaveBackup(original_);
            EXPECT_FALSE(backupFile_.empty());
            message_.Info().SetBackupFile(backupFile_);
        }
        Lines lines = original_;
        EXPECT_TRUE(message_.SetRawMail(lines));
        (void)message_.Parts();
        ctx.message = &message_;
    }

    TEmailMsg& Message() { return message_; }
    [[nodiscard]] const Lines& Original() const { return original_; }
    [[nodiscard]] const std::string& BackupFile() const { return backupFile_; }
    [[nodiscard]] std::string BackupPath() const { return BackupsFolder() + "/" + backupFile_; }
    [[nodiscard]] std::string ReportPath() const {
        return ReportsFolder() + "/" + message_.Info().ReportFile();
    }
    [[nodiscard]] std::string Report() const { return test::ReadFile(ReportPath()); }

    TScreeningContext ctx;

private:
    Lines original_;
    std::string backupFile_;
    TEmailMsg message_;
};

struct Line {
    std::string text;
    TSimpleHtmlMode mode;
    friend bool operator==(const Line&, const Line&) = default;
};

std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << "{\"" << line.text << "\", mode " << static_cast<int>(line.mode) << "}";
}

std::vector<Line> LinesOf(const TSimpleHtml& html) {
    std::vector<Line> lines;
    for (std::size_t i = 0; i < html.Count(); ++i)
        lines.push_back({html.Line(i), html.ModeOf(i)});
    return lines;
}

constexpr auto kBoth = TSimpleHtmlMode::Both;
constexpr auto kHtml = TSimpleHtmlMode::HtmlOnly;
constexpr auto kText = TSimpleHtmlMode::TextOnly;

// A file name as the links carry it: the suffix's parentheses are not URL characters.
std::string InLink(std::string name) {
    std::string out;
    for (const char c : name) {
        if (c == '(')
            out += "%28";
        else if (c == ')')
            out += "%29";
        else
            out.push_back(c);
    }
    return out;
}

const std::string kReportLinkStart = "http://LocalHost:6173/GetReport?UserId=SingleUser&File=";
const std::string kBackupLinkStart = "http://LocalHost:6173/GetBackup?UserId=SingleUser&File=";
const std::string kBounceAddress(kBounceExplanationAddress);

class SecurityReport : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(ReportsFolder());
        fs::remove_all(BackupsFolder());
        if (const char* tz = std::getenv("TZ")) savedZone_ = tz;
        // The report shows local time: one fixed zone, one hour west of the sender below.
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedZone_)
            ::setenv("TZ", savedZone_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> savedZone_;
};

// --- backup -------------------------------------------------------------------------

TEST_F(SecurityReport, BackupHoldsTheLinesAsReceivedUnderAFreshName) {
    struct Case {
        const char* name;
        Lines lines;
    };
    const Case cases[] = {
        {"message", SplitLines(kPlainMessage)},
        {"blank lines and trailing blanks kept", {"Subject: x ", "", "", "  body  ", ""}},
        {"bytes above 127 kept", {"Subject: caf\xe9", "", "\xff\xfe"}},
        {"nothing", {}},
    };
    std::vector<std::string> names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = SaveBackup(c.lines);
        EXPECT_TRUE(std::regex_match(name, std::regex(R"(Backup\([A-Za-z0-9]{5}\)\.eml)"))) << name;
        EXPECT_EQ(test::ReadFile(BackupPath(name)), CrLfJoined(c.lines));
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
}

// A received first line that the message file format would read as stored properties
// must not pick the information record (or any property) of the message loaded back.
TEST_F(SecurityReport, ReceivedPropertyLineCannotChooseTheLoadedMessagesRecord) {
    const Lines received{"X-SMTP: ContentId=17,FailureNotice=yes", "Subject: hostile", "", "body"};
    const std::string name = SaveBackup(received);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(test::ReadFile(BackupPath(name)), "X-SMTP: \r\n" + CrLfJoined(received));

    {
        TEmailMsg loaded;
        loaded.SetSaveOnDestroy(false);
        loaded.SetEnsureTextBodyFlag(false);
        ASSERT_TRUE(loaded.ReadFromFile(BackupPath(name)));
        EXPECT_NE(loaded.Info().Id(), 17);
        EXPECT_TRUE(loaded.Property("FailureNotice").empty());
        Lines lines;
        ASSERT_TRUE(loaded.SaveToLines(lines, true));
        EXPECT_EQ(lines, received);
    }
    // A message file with a failure notice deletes itself on release; this one stays.
    EXPECT_TRUE(fs::exists(BackupPath(name)));
}

// --- finishing a message without notice ---------------------------------------------

TEST_F(SecurityReport, UnchangedMessageLosesItsBackupAndGetsNoReport) {
    Screened s(kPlainMessage);
    ASSERT_TRUE(fs::exists(s.BackupPath()));
    s.ctx.notice.AddLine("left over");

    FinishScreening(s.ctx);

    EXPECT_FALSE(fs::exists(s.BackupPath()));
    EXPECT_TRUE(s.ctx.notice.Empty());
    EXPECT_FALSE(s.ctx.noticeFlag);
    EXPECT_FALSE(s.ctx.modifiedFlag);
    EXPECT_TRUE(FilesIn(ReportsFolder()).empty());
    Lines written;
    ASSERT_TRUE(s.Message().SaveToLines(written, true));
    EXPECT_EQ(written, s.Original());
}

TEST_F(SecurityReport, BounceWithNothingToReportGetsTheSmallNoticeOnly) {
    Screened s(
        MessageWith("From: MAILER-DAEMON@example.com\n"
                    "Subject: Undeliverable\n"
                    "Content-Type: multipart/report; report-type=delivery-status; "
                    "boundary=\"b1\"\n",
                    "--b1\n"
                    "Content-Type: text/plain\n"
                    "\n"
                    "Your message could not be delivered.\n"
                    "--b1--\n"));

    FinishScreening(s.ctx);

    EXPECT_FALSE(fs::exists(s.BackupPath()));
    EXPECT_TRUE(s.ctx.noticeFlag);
    EXPECT_TRUE(s.ctx.modifiedFlag);
    EXPECT_TRUE(FilesIn(ReportsFolder()).empty());
    const std::vector<Line> expected{
        {"<br><Table border=\"1\"><tr align=\"Center\"><td><font size=-1>Gatemoor</font></td></tr>"
         "<tr><td><tr><td>Didn't send this e-mail? Click <a href=\"" +
             kBounceAddress + "\">Here</a> for an explanation.",
         kHtml},
        {"<br></td></tr></Table>", kHtml},
        {"<br>", kBoth},
    };
    EXPECT_EQ(LinesOf(s.ctx.notice), expected);
}

// Only the exact type counts as a bounce.
TEST_F(SecurityReport, OnlyTheExactReportTypeIsABounce) {
    struct Case {
        const char* contentType;
        bool bounce;
    };
    const Case cases[] = {
        {"multipart/report; boundary=\"b\"", true},   {"multipart/report", true},
        {"multipart/mixed; boundary=\"b\"", false},   {"text/plain", false},
        {"multipart/reports; boundary=\"b\"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType);
        Screened s(MessageWith("Subject: x\nContent-Type: " + std::string(c.contentType) + "\n"),
                   false);
        EXPECT_EQ(IsBounce(s.Message()), c.bounce);
        FinishScreening(s.ctx);
        EXPECT_EQ(s.ctx.noticeFlag, c.bounce);
        EXPECT_EQ(s.ctx.notice.Empty(), !c.bounce);
    }
}

// --- danger level and points lines ---------------------------------------------------

TEST(DangerLevel, LineIsColouredByLevel) {
    struct Case {
        int level;
        const char* open;
        const char* close;
    };
    const Case cases[] = {
        {0, "<font color=green>", "</font>"},
        {1, "<font color=orange>", "</font>"},
        {9, "<font color=orange>", "</font>"},
        {10, "<font color=orange><b>", "</b></font>"},
        {19, "<font color=orange><b>", "</b></font>"},
        {20, "<font color=red><b>", "</b></font>"},
        {100, "<font color=red><b>", "</b></font>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_EQ(DangerLevelLine(c.level),
                  std::string(c.open) +
                      "  The danger level associated with the original e-mail as a whole is " +
                      std::to_string(c.level) + "%." + c.close);
    }
}

TEST_F(SecurityReport, ReasonsFollowTheLevelInDescendingOrderOfTheirTexts) {
    struct Case {
        const char* name;
        std::vector<std::string> earlierLines;  // what other stages wrote first
        std::vector<Line> expected;
    };
    const std::string level80 =
        "<font color=red><b>  The danger level associated with the original e-mail as a whole is "
        "80%.</b></font>";
    const Case cases[] = {
        {"empty section",
         {},
         {{level80, kBoth},
          {"<br>40 danger points added due to HTML script.", kBoth},
          {"<br>40 danger points added due to Attachment.", kBoth}}},
        {"after other findings",
         {"Found one.", "Found two."},
         {{"<br>" + level80, kBoth},
          {"<br>40 danger points added due to HTML script.", kBoth},
          {"<br>40 danger points added due to Attachment.", kBoth},
          {"<br>Found one.", kBoth},
          {"<br>Found two.", kBoth}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screened s(kPlainMessage);
        for (const auto& line : c.earlierLines)
            s.ctx.GeneralInfo().AddLine(line);
        s.Message().AddDangerReason("Attachment", 40);
        s.Message().AddDangerReason("HTML script", 40);
        s.ctx.SetBothFlags();

        FinishScreening(s.ctx);

        EXPECT_EQ(LinesOf(s.ctx.GeneralInfo()), c.expected);
    }
}

TEST_F(SecurityReport, LevelIsTheClampedSumOfTheReasons) {
    struct Case {
        const char* name;
        std::vector<TDangerReason> reasons;
        int level;
    };
    const Case cases[] = {
        {"none", {}, 0},
        {"negative alone", {{"Signed", -20}}, 0},
        {"over a hundred", {{"A", 60}, {"B", 70}}, 100},
        {"mixed", {{"A", 15}, {"B", -5}}, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screened s(kPlainMessage);
        for (const auto& reason : c.reasons)
            s.Message().AddDangerReason(reason.text, reason.points);
        s.ctx.SetBothFlags();
        FinishScreening(s.ctx);
        ASSERT_GE(s.ctx.GeneralInfo().Count(), 1u + c.reasons.size());
        EXPECT_EQ(s.ctx.GeneralInfo().Line(0), DangerLevelLine(c.level));
        EXPECT_NE(s.Report().find(DangerLevelLine(c.level)), std::string::npos);
    }
}

// --- notice, backup information and links --------------------------------------------

TEST_F(SecurityReport, NoticedMessageKeepsItsBackupAndLinksReportAndBackup) {
    Screened s(kPlainMessage);
    s.ctx.SetBothFlags();

    FinishScreening(s.ctx);

    EXPECT_TRUE(fs::exists(s.BackupPath()));
    EXPECT_EQ(test::ReadFile(s.BackupPath()), CrLfJoined(s.Original()));
    ASSERT_FALSE(s.Message().Info().ReportFile().empty());
    EXPECT_TRUE(fs::exists(s.ReportPath()));

    const std::string backupLink = kBackupLinkStart + InLink(s.BackupFile());
    const std::vector<Line> backupInfo{
        {"<br>A backup of the original unmodified message can be viewed <a href=" + backupLink +
             ">here</a>.",
         kHtml},
        {"<br> A backup of the original unmodified message can be viewed here: " + backupLink,
         kText},
        {"<br>  The message is stored locally at: " + s.BackupPath(), kBoth},
    };
    EXPECT_EQ(LinesOf(s.Message().Section(TReportSection::BackupInfo)), backupInfo);

    const std::string reportLink = kReportLinkStart + InLink(s.Message().Info().ReportFile());
    const std::vector<Line> notice{
        {"<br><Table border=\"1\"><tr><td>This e-mail was modified by Gatemoor for security "
         "reasons.",
         kBoth},
        {"<br>See <a href=\"" + reportLink + "\">Report</a> for details.", kHtml},
        {"<br>See Report for details: " + reportLink, kText},
        {"<br></td></tr></Table>", kHtml},
    };
    EXPECT_EQ(LinesOf(s.ctx.notice), notice);
}

TEST_F(SecurityReport, WithoutBackupTheReportHasNoBackupInformation) {
    Screened s(kPlainMessage, false);
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);
    EXPECT_TRUE(s.Message().Section(TReportSection::BackupInfo).Empty());
    EXPECT_EQ(s.Message().GetBackupUrl({}), "");
    EXPECT_TRUE(fs::exists(s.ReportPath()));
}

TEST_F(SecurityReport, NoticedBounceAlsoCarriesTheExplanation) {
    Screened s(
        MessageWith("Subject: Returned mail\n"
                    "Content-Type: multipart/report; boundary=\"b1\"\n",
                    "--b1\nContent-Type: text/plain\n\nReturned.\n--b1--\n"));
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);

    EXPECT_TRUE(fs::exists(s.BackupPath()));
    const std::string reportLink = kReportLinkStart + InLink(s.Message().Info().ReportFile());
    const std::vector<Line> notice{
        {"<br><Table border=\"1\"><tr><td>This e-mail was modified by Gatemoor for security "
         "reasons.",
         kBoth},
        {"<br>See <a href=\"" + reportLink + "\">Report</a> for details.", kHtml},
        {"<br>See Report for details: " + reportLink, kText},
        {"<br> ", kText},
        {"<br>Didn't send this e-mail? Click <a href=\"" + kBounceAddress +
             "\">Here</a> for an explanation.",
         kHtml},
        {"<br>Didn't send this e-mail?", kText},
        {"<br>See " + kBounceAddress + " for an explanation.", kText},
        {"<br> ", kText},
        {"<br></td></tr></Table>", kHtml},
    };
    EXPECT_EQ(LinesOf(s.ctx.notice), notice);
}

// A message with neither a text nor an HTML body gets one for the notice to go into.
TEST_F(SecurityReport, NoticedMessageWithoutBodyGetsATextBody) {
    Screened s(
        MessageWith("Subject: Only a file\n"
                    "Content-Type: application/octet-stream; name=\"a.bin\"\n"
                    "Content-Disposition: attachment; filename=\"a.bin\"\n"
                    "Content-Transfer-Encoding: base64\n",
                    "AAECAw==\n"));
    ASSERT_EQ(s.Message().FindBodyParts().plain, nullptr);
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);
    EXPECT_NE(s.Message().FindBodyParts().plain, nullptr);
}

// --- the report file ----------------------------------------------------------------

TEST_F(SecurityReport, ReportIsNamedFromTheStartOfTheSubject) {
    struct Case {
        const char* name;
        const char* headers;
        const char* pattern;
    };
    const Case cases[] = {
        {"first 25 characters, blanks as underscores",
         "Subject: Your order has shipped to you today\n",
         R"(Full_Report_Your_order_has_shipped_to\([A-Za-z0-9]{5}\)\.htm)"},
        {"short subject", "Subject: Hi\n", R"(Full_Report_Hi\([A-Za-z0-9]{5}\)\.htm)"},
        {"no subject", "From: a@example.com\n", R"(Full_Report_\([A-Za-z0-9]{5}\)\.htm)"},
        {"characters a file name cannot hold dropped", "Subject: a/b\\c:d*e?f\"g<h>i|j\n",
         R"(Full_Report_abcdefghij\([A-Za-z0-9]{5}\)\.htm)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screened s(MessageWith(c.headers));
        s.ctx.SetBothFlags();
        FinishScreening(s.ctx);
        const std::string& name = s.Message().Info().ReportFile();
        EXPECT_TRUE(std::regex_match(name, std::regex(c.pattern))) << name;
        EXPECT_TRUE(fs::exists(ReportsFolder() + "/" + name));
    }
}

TEST_F(SecurityReport, ExistingReportIsNeverRewritten) {
    Screened first(kPlainMessage);
    first.ctx.SetBothFlags();
    FinishScreening(first.ctx);
    const std::string path = first.ReportPath();
    ASSERT_TRUE(fs::exists(path));
    test::WriteFile(path, "kept as it is");

    EXPECT_FALSE(WriteReport(first.Message()));
    EXPECT_EQ(test::ReadFile(path), "kept as it is");

    // The same message screened again, its record naming the same report.
    Screened again(kPlainMessage);
    again.Message().Info().SetReportFile(first.Message().Info().ReportFile());
    again.Message().AddDangerReason("HTML script", 40);
    again.ctx.SetBothFlags();
    FinishScreening(again.ctx);
    EXPECT_EQ(again.ReportPath(), path);
    EXPECT_EQ(test::ReadFile(path), "kept as it is");
    EXPECT_EQ(FilesIn(ReportsFolder()).size(), 1u);
}

// The template and every section, word for word.
TEST_F(SecurityReport, ReportHoldsTheTemplateWithEverySection) {
    Screened s(kPlainMessage);
    s.ctx.GeneralInfo().AddLine("Found one.");
    s.ctx.AttachmentInfo().AddLine("  No attachments found.");
    s.ctx.AttachmentInfo().AddLine("text only line", -1, true, kText);
    s.Message().AddDangerReason("HTML script", 40);
    s.ctx.SetBothFlags();

    FinishScreening(s.ctx);

    const std::string backupLink = kBackupLinkStart + InLink(s.BackupFile());
    std::string expected =
        R"html(<!doctype html public "-//w3c//dtd html 4.0 transitional//en"><html><head>   <meta http-equiv="Content-Type" content="text/html; charset=iso-8859-1">   <meta name="GENERATOR" content="Vornsmithy">   <title>!title</title></head><body><center><img SRC="VornLogoSm.jpg"> </center><b>Information for message:</b><br><br><!MessageInfo><p><hr WIDTH="100%"><br><!GeneralInfo></p><p><hr WIDTH="100%"><!Backup></p><p><hr WIDTH="100%"><b>Full information on attatchments is as follows:</b><!attatch></p><p><hr WIDTH="100%"><br><b>Raw text of message:</b><p><pre><tt><blockquote><!RawText></blockquote></tt></pre><hr WIDTH="100%"></p></body></html>)html";
    expected = Replaced(expected, "!title", "Vornsmithy Email Report - Hello");
    expected = Replaced(expected, "VornLogoSm.jpg", "http://LocalHost:6173/Image?Name=Vorn.jpg");
    expected = Replaced(expected, "<!MessageInfo>",
                        "<br><b>Sent From:</b> Alice &lt;alice@example.com&gt;\r\n"
                        "<br><b>Sent To:</b> bob@example.com\r\n"
                        "<br><b>Carbon Copied to:</b> \r\n"
                        "<br><b>Subject:</b> Hello\r\n"
                        "<br><b>Date Sent:</b> Tue, 5 Mar 2002 09:11:12  local time zone (Tue, 5 "
                        "Mar 2002 10:11:12  sender's time zone.)\r\n");
    expected = Replaced(expected, "<!GeneralInfo>",
                        "<br>" + DangerLevelLine(40) +
                            "\r\n"
                            "<br>40 danger points added due to HTML script.\r\n"
                            "<br>Found one.\r\n");
    expected = Replaced(
        expected, "<!Backup>",
        "<br>A backup of the original unmodified message can be viewed <a href=" + backupLink +
            ">here</a>.\r\n"
            "<br>  The message is stored locally at: " +
            s.BackupPath() + "\r\n");
    expected = Replaced(expected, "<!attatch>", "<br>  No attachments found.\r\n");
    expected = Replaced(expected, "<!RawText>",
                        "From: Alice &lt;alice@example.com&gt;\r\n"
                        "To: bob@example.com\r\n"
                        "Subject: Hello\r\n"
                        "Date: Tue, 5 Mar 2002 10:11:12 +0100\r\n"
                        "Content-Type: text/plain\r\n"
                        "\r\n"
                        "Hi Bob\r\n");
    EXPECT_EQ(s.Report(), expected + "\r\n");
}

TEST_F(SecurityReport, DateSentIsShownOnlyForADateWithAKnownZone) {
    struct Case {
        const char* name;
        const char* dateHeader;  // empty: none
        const char* line;        // empty: no Date Sent line
    };
    const Case cases[] = {
        {"sender east of here", "Date: Tue, 5 Mar 2002 10:11:12 +0100\n",
         "<b>Date Sent:</b> Tue, 5 Mar 2002 09:11:12  local time zone (Tue, 5 Mar 2002 10:11:12  "
         "sender's time zone.)"},
        {"sender across midnight", "Date: Mon, 4 Mar 2002 23:30:00 -0500\n",
         "<b>Date Sent:</b> Tue, 5 Mar 2002 04:30:00  local time zone (Mon, 4 Mar 2002 23:30:00  "
         "sender's time zone.)"},
        {"same zone as here", "Date: Tue, 5 Mar 2002 10:11:12 GMT\n",
         "<b>Date Sent:</b> Tue, 5 Mar 2002 10:11:12  local time zone"},
        {"not a date", "Date: whenever it suits\n", ""},
        {"no time", "Date: Tue, 5 Mar 2002\n", ""},
        {"unknown zone", "Date: Tue, 5 Mar 2002 10:11:12 XYZ\n", ""},
        {"no Date header", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screened s(MessageWith(std::string("Subject: d\n") + c.dateHeader));
        s.ctx.SetBothFlags();
        FinishScreening(s.ctx);
        const std::string report = s.Report();
        if (*c.line == '\0') {
            EXPECT_EQ(report.find("Date Sent"), std::string::npos);
        } else {
            EXPECT_NE(report.find(std::string("<br>") + c.line + "\r\n"), std::string::npos);
        }
    }
}

// Nothing that came with the message reaches the page as markup.
TEST_F(SecurityReport, HostileHeadersAppearEscaped) {
    Screened s(
        MessageWith("From: \"<script>alert('x')</script>\" <evil@example.com>\n"
                    "To: <b onmouseover=\"steal()\">you</b>\n"
                    "CC: caf\xe9 & \xff <c@example.com>\n"
                    "Subject: <script>alert(\"pwned\")</script> \xe9t\xe9  <!RawText>\n",
                    "<script>document.write(1)</script>\n"));
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);
    const std::string report = s.Report();

    for (const char* expected : {
             "<title>Vornsmithy Email Report - &lt;script&gt;alert(&quot;pwned&quot;)&lt;/"
             "script&gt; &#233;t&#233; &nbsp;&lt;!RawText&gt;</title>",
             "<b>Sent From:</b> &quot;&lt;script&gt;alert('x')&lt;/script&gt;&quot; "
             "&lt;evil@example.com&gt;",
             "<b>Sent To:</b> &lt;b onmouseover=&quot;steal()&quot;&gt;you&lt;/b&gt;",
             "<b>Carbon Copied to:</b> caf&#233; &amp; &#255; &lt;c@example.com&gt;",
             "<b>Subject:</b> &lt;script&gt;alert(&quot;pwned&quot;)&lt;/script&gt; "
             "&#233;t&#233; &nbsp;&lt;!RawText&gt;",
             "&lt;script&gt;document.write(1)&lt;/script&gt;\r\n",
         }) {
        SCOPED_TRACE(expected);
        EXPECT_NE(report.find(expected), std::string::npos);
    }
    EXPECT_EQ(report.find("<script"), std::string::npos);
    EXPECT_EQ(report.find("onmouseover=\""), std::string::npos);
    for (const char c : report)
        EXPECT_LT(static_cast<unsigned char>(c), 128u);
    // The raw text went in once, where the template has it.
    EXPECT_EQ(report.find("&lt;script&gt;document.write"),
              report.rfind("&lt;script&gt;document.write"));
}

TEST_F(SecurityReport, RawTextComesFromTheBackupElseFromTheMessage) {
    Screened s(kPlainMessage);
    (void)s.Message().Header().SetField("Subject", "Changed by screening");
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);
    const std::string fromBackup = s.Report();
    EXPECT_NE(fromBackup.find("<blockquote>From: Alice"), std::string::npos);
    EXPECT_NE(fromBackup.find("\r\nSubject: Hello\r\n"), std::string::npos);
    EXPECT_EQ(fromBackup.find("\r\nSubject: Changed by screening\r\n"), std::string::npos);

    Screened lost(kPlainMessage);
    (void)lost.Message().Header().SetField("Subject", "Changed by screening");
    fs::remove(lost.BackupPath());
    lost.ctx.SetBothFlags();
    FinishScreening(lost.ctx);
    EXPECT_NE(lost.Report().find("\r\nSubject: Changed by screening\r\n"), std::string::npos);
}

TEST_F(SecurityReport, RawTextLeavesAttachmentBodiesOut) {
    Screened s(
        MessageWith("Subject: with file\n"
                    "Content-Type: multipart/mixed; boundary=\"b1\"\n",
                    "--b1\n"
                    "Content-Type: text/plain\n"
                    "\n"
                    "See the file.\n"
                    "--b1\n"
                    "Content-Type: application/octet-stream; name=\"a.bin\"\n"
                    "Content-Disposition: attachment; filename=\"a.bin\"\n"
                    "Content-Transfer-Encoding: base64\n"
                    "\n"
                    "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=\n"
                    "--b1--\n"));
    s.ctx.SetBothFlags();
    FinishScreening(s.ctx);
    const std::string report = s.Report();
    EXPECT_NE(report.find("See the file."), std::string::npos);
    EXPECT_NE(report.find("[[[ Snip --- Encoded attachment --- Snip ]]]"), std::string::npos);
    EXPECT_EQ(report.find("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo="), std::string::npos);
    // The backup itself keeps the attachment.
    EXPECT_NE(test::ReadFile(s.BackupPath()).find("QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo="),
              std::string::npos);
}

// A report that cannot be written costs the report only: the notice is built all the
// same, so the screened message still goes out with it.
TEST_F(SecurityReport, UnwritableReportLeavesTheNoticeInPlace) {
    Screened s(kPlainMessage);
    s.Message().Info().SetReportFile("no such folder/report.htm");
    s.ctx.SetBothFlags();

    EXPECT_NO_THROW(FinishScreening(s.ctx));

    EXPECT_FALSE(fs::exists(s.ReportPath()));
    ASSERT_FALSE(s.ctx.notice.Empty());
    EXPECT_NE(s.ctx.notice.Line(0).find("This e-mail was modified by Gatemoor"), std::string::npos);
    EXPECT_FALSE(WriteReport(s.Message()));
    EXPECT_TRUE(fs::exists(s.BackupPath()));
}

}  // namespace
}  // namespace gatemoor
