// The message: its file format, lazy loading and parsing, the boundary search, saving
// and the destruction rules, UIDLs, links and danger points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Time.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "screening/EmailInfo.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kPlain =
    "From: a@example.org\r\nSubject: Hello there\r\n\r\nfirst line\r\n\r\nlast line\r\n";

Lines FilesIn(const std::string& folder) {
    Lines names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(EmailMsgFile, PropertyLineGivesTheRecordItsId) {
    const test::TempFolder folder;
    const std::string path = folder.File("m.eml");
    test::WriteFile(path, "X-SMTP: ContentId=17\r\n" + kPlain);
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    ASSERT_TRUE(message.ReadFromFile(path));
    EXPECT_EQ(message.ContentId(), 17);
    EXPECT_EQ(message.Property("ContentId"), "17");
    EXPECT_EQ(message.RawLines(), SplitLines(kPlain));
    EXPECT_FALSE(message.IsModified());

    test::WriteFile(path, kPlain);
    TEmailMsg plain;
    plain.SetSaveOnDestroy(false);
    const int id = plain.ContentId();
    ASSERT_TRUE(plain.ReadFromFile(path));
    EXPECT_EQ(plain.ContentId(), id);
}

TEST(EmailMsgFile, UnparsedMessageIsWrittenBackByteForByte) {
    const test::TempFolder folder;
    const std::string text = "X-SMTP: ContentId=5\r\n" + kPlain + "trailing  \r\n";
    test::WriteFile(folder.File("in.eml"), text);
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    ASSERT_TRUE(message.ReadFromFile(folder.File("in.eml")));
    ASSERT_TRUE(message.SaveToFile(folder.File("out.eml")));
    EXPECT_EQ(test::ReadFile(folder.File("out.eml")), text);
    EXPECT_EQ(FilesIn(folder.Path()), (Lines{"in.eml", "out.eml"})) << "no temporary left";
}

TEST(EmailMsgFile, PropertyWithACommaIsQuotedAndReadBack) {
    const test::TempFolder folder;
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    Lines lines = SplitLines(kPlain);
    message.SetRawMail(lines);
    message.SendTime(Now());
    const std::string sent = message.Property("SendTime");
    ASSERT_NE(sent.find(','), std::string::npos);
    ASSERT_TRUE(message.SaveToFile(folder.File("m.eml")));
    EXPECT_NE(test::ReadFile(folder.File("m.eml")).find("\"SendTime=" + sent + "\""), std::string::npos);

    TEmailMsg again;
    again.SetSaveOnDestroy(false);
    ASSERT_TRUE(again.ReadFromFile(folder.File("m.eml")));
    EXPECT_EQ(again.Property("SendTime"), sent);
    EXPECT_EQ(again.ContentId(), message.ContentId());
}

// Files are read in blocks of 64 KiB: a CR LF, a lone CR or a lone LF on either side
// of a block's end splits the lines exactly as the whole text would be split.
TEST(EmailMsgFile, LineBreaksAtBlockEndsSplitAsInTheWholeText) {
    constexpr std::size_t kBlock = 64 * 1024;
    struct Case {
        const char* name;
        std::size_t breakAt;  // where the break starts
        const char* lineBreak;
    };
    const Case cases[] = {
        {"CR LF across the end", kBlock - 1, "\r\n"},
        {"CR LF just before the end", kBlock - 2, "\r\n"},
        {"lone CR at the end", kBlock - 1, "\r"},
        {"lone LF at the start of the next block", kBlock, "\n"},
        {"CR CR across the end", kBlock - 1, "\r\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "Subject: blocks\r\n\r\n";
        text += std::string(c.breakAt - text.size(), 'x');
        text += c.lineBreak;
        text += "after\rand\nmore\r\n";
        TEmailMsg message;
        message.SetSaveOnDestroy(false);
        message.SetParseOnLoad(false);
        std::istringstream stream(text);
        ASSERT_TRUE(message.LoadFromStream(stream));
        EXPECT_EQ(message.RawLines(), SplitLines(text));
    }
}

TEST(EmailMsgFile, MissingFileIsAFailureNotAnEmptyMessage) {
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    EXPECT_FALSE(message.ReadFromFile("/nonexistent/folder/m.eml"));
    EXPECT_FALSE(message.IsLoaded());
}

TEST(EmailMsgParse, BoundaryFoundFromTheLastLine) {
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    message.SetEnsureTextBodyFlag(false);
    Lines lines = SplitLines(
        "Content-Type: multipart/mixed\r\n\r\nintro\r\n--xyz\r\n\r\none\r\n--xyz\r\n\r\ntwo\r\n--xyz--\r\n");
    message.SetRawMail(lines);
    ASSERT_EQ(message.Parts().Count(), 3);
    EXPECT_EQ(message.Header().GetBoundary(), "--xyz");
    EXPECT_EQ(message.Parts().Items(2)->StoredRawText(), Lines{"two"});
}

TEST(EmailMsgParse, BoundaryFoundAmongTheFirstLines) {
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    message.SetEnsureTextBodyFlag(false);
    Lines lines = SplitLines("Content-Type: multipart/mixed\r\n\r\n--q\r\n\r\none\r\n--q\r\n\r\ntwo\r\n");
    message.SetRawMail(lines);
    EXPECT_EQ(message.Header().GetBoundary(), "--q");
    EXPECT_EQ(message.Parts().Count(), 3);
}

TEST(EmailMsgParse, LazyParseDoesNotMarkTheMessageModified) {
    const test::TempFolder folder;
    test::WriteFile(folder.File("m.eml"), kPlain);
    {
        TEmailMsg message;
        message.SetEnsureTextBodyFlag(false);
        ASSERT_TRUE(message.ReadFromFile(folder.File("m.eml")));
        (void)message.Parts();
        EXPECT_FALSE(message.IsModified());
    }
    EXPECT_EQ(test::ReadFile(folder.File("m.eml")), kPlain) << "an unchanged message is not rewritten";
}

TEST(EmailMsgLifecycle, ModifiedMessageWithoutFileIsSavedToATempFile) {
    const test::TempFolder folder;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("TMPDIR", folder.Path().c_str(), 1);
    {
        auto* message = new TEmailMsg();
        Lines lines = SplitLines(kPlain);
        message->SetRawMail(lines);
        EXPECT_TRUE(message->IsModified());
        delete message;
    }
    if (old != nullptr) {
        setenv("TMPDIR", saved.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    const Lines files = FilesIn(folder.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].starts_with("Temp")) << files[0];
    EXPECT_TRUE(files[0].ends_with(".eml")) << files[0];
    const std::string text = test::ReadFile(folder.File(files[0]));
    EXPECT_TRUE(text.starts_with("X-SMTP: ContentId=")) << text.substr(0, 40);
    EXPECT_NE(text.find(kPlain), std::string::npos);
}

TEST(EmailMsgLifecycle, DestructionRules) {
    const test::TempFolder folder;
    struct Case {
        const char* name;
        bool saveOnDestroy;
        bool flaggedDeleted;
        bool modify;
        const char* failureNotice;
        bool fileRemains;
        bool fileChanged;
    };
    const Case cases[] = {
        {"unchanged, kept", true, false, false, "", true, false},
        {"modified, saved", true, false, true, "", true, true},
        {"flagged deleted, file deleted", true, true, true, "", false, false},
        {"pass-through with failure notice, file deleted", false, false, false, "550", false, false},
        {"pass-through modified, not saved", false, false, true, "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File("m.eml");
        std::string text = kPlain;
        if (*c.failureNotice != '\0') text = "X-SMTP: FailureNotice=" + std::string(c.failureNotice) + "\r\n" + text;
        test::WriteFile(path, text);
        {
            TEmailMsg message;
            message.SetSaveOnDestroy(c.saveOnDestroy);
            message.SetEnsureTextBodyFlag(false);
            ASSERT_TRUE(message.ReadFromFile(path));
            if (c.modify) message.Header().SetField("X-Changed", "yes");
            message.FlaggedDeleted(c.flaggedDeleted);
        }
        ASSERT_EQ(fs::exists(path), c.fileRemains);
        if (c.fileRemains) {
            EXPECT_EQ(test::ReadFile(path) != text, c.fileChanged);
        }
        fs::remove(path);
    }
}

TEST(EmailMsgIdentity, GeneratedUidlAndSettingItTwice) {
    const std::string uidl = TEmailMsg::GenerateUidl();
    EXPECT_TRUE(std::regex_match(uidl, std::regex(R"(Vornsmithy[0-9A-F]{8}\.\d{4}\.\d\d\.\d\d\.\d\d\.\d\d\.\d\d)")))
        << uidl;
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    Lines lines = SplitLines(kPlain);
    message.SetRawMail(lines);
    const std::string generated = message.Uidl();
    EXPECT_EQ(message.Uidl(), generated) << "generated once";
    message.SetUidl("abc");
    message.SetUidl("abc");
    EXPECT_EQ(message.Uidl(), "abc");
}

TEST(EmailMsgIdentity, SubjectOrId) {
    struct Case {
        const char* header;
        const char* expected;
    };
    const Case cases[] = {
        {"Subject: =?iso-8859-1?q?Gr=FC=DFe?=\r\n", "Gr\xFC\xDF" "e"},
        {"Subject:\r\nMessage-ID: <id@x>\r\n", "<id@x>"},
        {"From: a\r\n", "No subject"},
    };
    for (const Case& c : cases) {
        TEmailMsg message;
        message.SetSaveOnDestroy(false);
        Lines lines = SplitLines(std::string(c.header) + "\r\nbody\r\n");
        message.SetRawMail(lines);
        EXPECT_EQ(message.GetSubjectOrId(), c.expected) << c.header;
    }
}

TEST(EmailMsgLinks, ReportAndBackupUrls) {
    TEmailMsg message;
    message.SetSaveOnDestroy(false);
    Lines lines = SplitLines("Subject: Quarterly figures for the whole team\r\n\r\nx\r\n");
    message.SetRawMail(lines);
    const std::string report = message.ReportFileName();
    const std::string name = fs::path(report).filename().string();
    // "Full_Report " and the first 25 characters of the subject, blanks as "_".
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(Full_Report_Quarterly_figures_for_the\([A-Za-z0-9]{5}\)\.htm)")))
        << name;
    EXPECT_EQ(message.ReportFileName(), report) << "the name is kept in the record";
    const std::string encoded = std::regex_replace(std::regex_replace(name, std::regex("\\("), "%28"),
                                                   std::regex("\\)"), "%29");
    EXPECT_EQ(message.GetReportUrl(),
              "http://LocalHost:6173/GetReport?UserId=SingleUser&File=" + encoded);
    EXPECT_EQ(message.GetBackupUrl(".eml"), "");
    message.Info().SetBackupFile("Backup(ab1cd).eml");
    EXPECT_EQ(message.GetBackupUrl(".eml"),
              "http://LocalHost:6173/GetBackup?UserId=SingleUser&File=Backup%28ab1cd%29.eml&FileExt=.eml");
}

TEST(EmailMsgDanger, TotalIsClampedToAPercentage) {
    struct Case {
        std::vector<int> points;
        int total;
    };
    const Case cases[] = {{{60, 70}, 100}, {{-20}, 0}, {{40, -5}, 35}, {{0}, 0}};
    for (const Case& c : cases) {
        TEmailMsg message;
        message.SetSaveOnDestroy(false);
        int n = 0;
        for (int points : c.points)
            message.AddDangerReason("reason " + std::to_string(n++), points);
        EXPECT_EQ(message.TotalDangerPoints(), c.total);
    }
    TEmailMsg zero;
    zero.SetSaveOnDestroy(false);
    zero.AddDangerReason("nothing", 0);
    EXPECT_TRUE(zero.Info().DangerReasons().empty());
}

}  // namespace
}  // namespace gatemoor
