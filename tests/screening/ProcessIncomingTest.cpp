// The pipeline end to end on literal messages: what the mail program receives, and the
// files the screening leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailMsg.h"
#include "platform/SettingsStore.h"
#include "screening/FileExtensions.h"
#include "screening/ProcessIncoming.h"
#include "screening/VornUtilFolders.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

int FileCount(const std::string& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return 0;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

class ProcessIncoming : public ::testing::Test {
protected:
    void SetUp() override {
        extensions_.LoadDefaults();
        std::error_code error;
        fs::remove_all(BackupsFolder(), error);
        fs::remove_all(PartialsFolder(), error);
        fs::remove_all(ReportsFolder(), error);
    }
    void TearDown() override { platform::ClearIntegerOverrides(); }

    static void Set(const SettingDef& setting, int value) {
        platform::SetIntegerOverride(std::string(setting.section), std::string(setting.name), value);
    }

    TScreeningOutcome Screen(Lines& lines) { return ProcessIncomingEmail(lines, extensions_); }

    // The screened lines parsed again, as the mail program would read them.
    static std::unique_ptr<TEmailMsg> Reparsed(Lines lines) {
        auto message = std::make_unique<TEmailMsg>();
        message->SetSaveOnDestroy(false);
        message->SetEnsureTextBodyFlag(false);
        (void)message->SetRawMail(lines);
        (void)message->Parts();
        return message;
    }

    TFileExtensionList extensions_;
};

const std::string kHeader = "From: a@example.org\r\nTo: b@example.org\r\nSubject: Hello\r\n";

TEST_F(ProcessIncoming, CleanMessageComesBackByteForByteWithoutBackup) {
    const Lines original = SplitLines(kHeader + "\r\nJust text.\r\n\r\nRegards\r\n");
    Lines lines = original;
    const TScreeningOutcome outcome = Screen(lines);
    EXPECT_EQ(lines, original);
    EXPECT_FALSE(outcome.changed);
    EXPECT_FALSE(outcome.noticed);
    EXPECT_EQ(outcome.reportPath, "");
    EXPECT_EQ(outcome.backupPath, "");
    EXPECT_EQ(FileCount(BackupsFolder()), 0);
    EXPECT_EQ(FileCount(ReportsFolder()), 0);
}

TEST_F(ProcessIncoming, OverlongDateIsRemovedWithNinetyPoints) {
    struct Case {
        std::size_t length;
        bool removed;
    };
    for (const Case c : {Case{60, false}, Case{61, true}}) {
        SCOPED_TRACE(c.length);
        const std::string date = "Mon, 1 Jan 2001 00:00:00 +0000" + std::string(c.length - 30, ' ');
        const std::string dateValue = date.substr(0, 30) + std::string(c.length - 30, 'x');
        const Lines original = SplitLines(kHeader + "Date: " + dateValue + "\r\n\r\nbody\r\n");
        Lines lines = original;
        const TScreeningOutcome outcome = Screen(lines);
        auto message = Reparsed(lines);
        std::string kept;
        EXPECT_EQ(!message->Header().GetField("Date", kept), c.removed);
        EXPECT_EQ(outcome.noticed, c.removed);
        if (c.removed) {
            EXPECT_EQ(outcome.dangerLevel, 90);
            EXPECT_TRUE(fs::exists(outcome.reportPath)) << outcome.reportPath;
            EXPECT_TRUE(fs::exists(outcome.backupPath)) << outcome.backupPath;
            EXPECT_NE(TextOfLines(lines).find("body"), std::string::npos);
        } else {
            EXPECT_EQ(lines, original);
        }
    }
}

TEST_F(ProcessIncoming, AttachmentOnlyMessageGetsATextBodyAndAShortSubject) {
    const std::string subject(51, 's');
    Lines lines = SplitLines(
        "From: a@example.org\r\nSubject: " + subject +
        "\r\nMIME-Version: 1.0\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\n"
        "Content-Disposition: attachment; filename=\"r.pdf\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK\r\n");
    const TScreeningOutcome outcome = Screen(lines);
    EXPECT_TRUE(outcome.noticed);
    auto message = Reparsed(lines);
    std::string shortened;
    ASSERT_TRUE(message->Header().GetField("Subject", shortened));
    EXPECT_EQ(shortened, std::string(50, 's'));
    EXPECT_NE(message->FindBodyParts().plain, nullptr);
}

TEST_F(ProcessIncoming, PartialMessageIsWithheldUntilJoined) {
    const auto fragment = [](int number, const std::string& body) {
        return SplitLines(
            "From: a@example.org\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
            "Content-Type: message/partial; number=" + std::to_string(number) +
            "; total=2; id=\"abc\"\r\n\r\n" + body);
    };
    Lines first = fragment(1, "Subject: whole\r\nContent-Type: text/plain\r\n\r\nfirst half\r\n");
    TScreeningOutcome outcome = Screen(first);
    EXPECT_TRUE(outcome.withheld);
    EXPECT_TRUE(first.empty());
    EXPECT_TRUE(fs::exists(PartialsFolder() + "/abc(0001)of(0002).eml"));

    const int backupsBefore = FileCount(BackupsFolder());
    Lines second = fragment(2, "second half\r\n");
    outcome = Screen(second);
    EXPECT_TRUE(outcome.withheld);
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(FileCount(PartialsFolder()), 0);
    ASSERT_FALSE(outcome.joinedPath.empty());
    const std::string joined = test::ReadFile(outcome.joinedPath);
    EXPECT_NE(joined.find("Subject: whole"), std::string::npos);
    EXPECT_NE(joined.find("first half\r\nsecond half"), std::string::npos) << joined;
    EXPECT_GT(FileCount(BackupsFolder()), backupsBefore);
}

TEST_F(ProcessIncoming, ScriptFollowsTheWebContentChoice) {
    const Lines original = SplitLines(kHeader +
                                      "MIME-Version: 1.0\r\nContent-Type: text/html\r\n\r\n"
                                      "<html><body><script>go()</script>hi</body></html>\r\n");
    Set(settings::kWebContent, 2);
    Set(settings::kPictures, 1);
    Lines ignored = original;
    EXPECT_FALSE(Screen(ignored).changed);
    EXPECT_EQ(ignored, original);

    Set(settings::kWebContent, 1);
    Lines converted = original;
    const TScreeningOutcome outcome = Screen(converted);
    EXPECT_TRUE(outcome.noticed);
    EXPECT_EQ(TextOfLines(converted).find("<script>"), std::string::npos);
    EXPECT_TRUE(Reparsed(converted)->Header().IsPlainText());
}

TEST_F(ProcessIncoming, InformationRecordDescribesTheScreening) {
    Lines lines = SplitLines(kHeader + "Date: " + std::string(70, 'd') + "\r\n\r\nbody\r\n");
    const TScreeningOutcome outcome = Screen(lines);
    ASSERT_FALSE(outcome.backupPath.empty());
    const std::string backup = fs::path(outcome.backupPath).filename().string();
    const std::string report = fs::path(outcome.reportPath).filename().string();
    int describing = 0;
    for (const auto& entry : fs::directory_iterator(EmailInfoFolder())) {
        const std::string text = test::ReadFile(entry.path().string());
        if (text.find("BackupFile=" + backup) != std::string::npos) {
            ++describing;
            EXPECT_NE(text.find("ReportFile=" + report), std::string::npos) << text;
            EXPECT_NE(text.find("Date tag too long"), std::string::npos) << text;
        }
    }
    EXPECT_EQ(describing, 1);
}

}  // namespace
}  // namespace gatemoor
