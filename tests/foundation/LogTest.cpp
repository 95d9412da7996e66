#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <vector>

#include "foundation/Application.h"
#include "foundation/Log.h"
#include "foundation/Time.h"
#include "platform/SystemServices.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every record ends in CR LF";
    return lines;
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(LogFolder());
        today_ = std::floor(LocalDateTimeFromUnix(std::time(nullptr)));
        SetClock(today_ + 14.5 / 24);  // 14:30:00
        LogModuleStart();
        SetDetailLevel(10);
        SetRetentionDays(30);
    }
    void TearDown() override {
        LogModuleEnd();
        SetClockForTests({});
    }
    void SetClock(TDateTime value) {
        clock_ = value;
        SetClockForTests([this] { return clock_; });
    }
    std::vector<std::string> Records() {
        FlushLog();
        return SplitLines(test::ReadFile(CurrentLogFilePath()));
    }
    std::string Tid() const { return std::to_string(platform::CurrentThreadId()); }

    TDateTime today_ = 0;
    TDateTime clock_ = 0;
};

TEST_F(LogTest, RecordFormatAndFileName) {
    WriteLog("Error", "Access denied", 10, true);
    EXPECT_EQ(Records(), std::vector<std::string>{"S=Error,\"T=Access denied\",D=10,E=1,"
                                                  "Ti=1297438036,I=" + Tid()});
    EXPECT_EQ(fs::path(CurrentLogFilePath()).parent_path(), fs::path(LogFolder()));
    EXPECT_EQ(LogFileNameForToday(),
              "Gatemoor - " + FormatDateTime("dd mmm yyyy", today_) + ".log");
    EXPECT_EQ(fs::path(CurrentLogFilePath()).filename(), LogFileNameForToday());
}

TEST_F(LogTest, QuotingAndLineBreaks) {
    struct Case {
        const char* name;
        std::string service, text, item;
    } cases[] = {
        {"bare", "Pop3", "Connected", "T=Connected"},
        {"comma", "Pop3", "a,b", "\"T=a,b\""},
        {"double quote", "Pop3", "say \"hi\"", "\"T=say \"\"hi\"\"\""},
        {"two lines", "Pop3", "one\r\ntwo", "T=one<CRLF>two"},
        {"lone breaks stay but need quotes", "Pop3", "a\rb\nc", "\"T=a\rb\nc\""},
    };
    for (const auto& c : cases) WriteLog(c.service, c.text, 5, false);
    auto records = Records();
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(records[i], "S=Pop3," + cases[i].item + ",D=5,E=0,Ti=1297438036,I=" + Tid());
        TLogRec parsed;
        ParseLogLine(records[i], parsed);
        EXPECT_EQ(parsed.Service, "Pop3");
        EXPECT_EQ(parsed.Text, cases[i].item.find("<CRLF>") != std::string::npos
                                   ? std::string("one<CRLF>two")
                                   : cases[i].text);
        EXPECT_EQ(parsed.Detail, 5);
        EXPECT_FALSE(parsed.IsError);
        EXPECT_NEAR(parsed.Time, 14.5 / 24, 1e-9);
        EXPECT_EQ(std::to_string(parsed.ThreadId), Tid());
    }
}

TEST_F(LogTest, EmptyServiceOrTextLeavesItsItemOut) {
    WriteLog("", "text", 5, false);
    WriteLog("Svc", "", 5, false);
    auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].rfind("T=text,D=5,", 0), 0u);
    EXPECT_EQ(records[1].rfind("S=Svc,D=5,", 0), 0u);
}

TEST_F(LogTest, DetailLevelFilters) {
    struct Case {
        int detail;
        int level;
        bool written;
    } cases[] = {{0, 9, false}, {0, 10, true}, {1, 9, true}, {1, 8, false}, {10, 0, true}, {5, 4, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("detail " + std::to_string(c.detail) + " level " + std::to_string(c.level));
        WriteLog("Marker", "before", 10, false);
        const std::size_t before = Records().size();
        SetDetailLevel(c.detail);
        WriteLog("Filter", "x", static_cast<std::uint8_t>(c.level), true);
        SetDetailLevel(10);
        EXPECT_EQ(Records().size(), before + (c.written ? 1 : 0));
    }
}

TEST_F(LogTest, LevelElevenNeverWritesNorOpensAFile) {
    WriteLog("Quiet", "nothing", 11, true);
    EXPECT_EQ(CurrentLogFilePath(), "");
    EXPECT_TRUE(fs::is_empty(LogFolder()));
    EXPECT_EQ(LogFileNameForToday(), "Gatemoor - 30 Dec 1899.log");
}

TEST_F(LogTest, FileCreatedWithNothingWrittenIsDeletedAtModuleEnd) {
    SetDetailLevel(0);
    WriteLog("Filtered", "dropped", 1, false);
    const std::string path = CurrentLogFilePath();
    ASSERT_TRUE(fs::exists(path));
    LogModuleEnd();
    EXPECT_FALSE(fs::exists(path));
    LogModuleStart();
}

TEST_F(LogTest, NewDayClosesTheFileAndDeletesFilesPastTheRetention) {
    struct Case {
        const char* name;
        int retentionDays;
        bool oldFilesKept;
    } cases[] = {{"past the retention", 30, false}, {"within the retention", 40, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogModuleEnd();
        fs::remove_all(LogFolder());
        SetClock(today_ + 0.5);
        LogModuleStart();
        SetRetentionDays(c.retentionDays);
        test::WriteFile(LogFolder() + "/Other.LOG", "stale");
        test::WriteFile(LogFolder() + "/notes.txt", "not a log");
        WriteLog("Day", "first day", 5, false);
        const std::string firstDay = CurrentLogFilePath();

        SetClock(today_ + 31 + 0.25);  // the first call after midnight, 31 days on
        WriteLog("Day", "next day", 5, false);
        const std::string nextDay = CurrentLogFilePath();
        EXPECT_NE(nextDay, firstDay);
        EXPECT_EQ(fs::path(nextDay).filename(),
                  "Gatemoor - " + FormatDateTime("dd mmm yyyy", today_ + 31) + ".log");
        EXPECT_EQ(Records().size(), 1u);
        EXPECT_TRUE(fs::exists(nextDay)) << "the open file is never deleted";
        EXPECT_TRUE(fs::exists(LogFolder() + "/notes.txt"));
        EXPECT_EQ(fs::exists(firstDay), c.oldFilesKept);
        EXPECT_EQ(fs::exists(LogFolder() + "/Other.LOG"), c.oldFilesKept);
    }
}

TEST(LogLine, ParsingJunk) {
    struct Case {
        const char* name;
        std::string line;
        bool raises;
        int detail;
        std::uint32_t threadId;
    } cases[] = {
        {"empty", "", true, 5, 7},
        {"no time", "S=a,T=b,D=3", true, 3, 7},
        {"time not a number", "Ti=abc,I=9", true, 5, 7},
        {"detail not a number", "D=x,Ti=0,I=12", false, 5, 12},
        {"thread id not a number keeps the previous", "D=2,Ti=5,I=zz", false, 2, 7},
        {"lone commas", ",,,,", true, 5, 7},
        {"unclosed quote", "\"S=abc,Ti=1", true, 5, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TLogRec record;
        record.ThreadId = 7;
        if (c.raises) {
            EXPECT_THROW(ParseLogLine(c.line, record), ELogLineError);
        } else {
            EXPECT_NO_THROW(ParseLogLine(c.line, record));
            EXPECT_EQ(record.ThreadId, c.threadId);
        }
        EXPECT_EQ(record.Detail, c.detail);
    }
}

TEST(LogLine, TimeZeroAndEmptyFields) {
    TLogRec record;
    ParseLogLine("Ti=0", record);
    EXPECT_EQ(record.Time, 0);
    EXPECT_EQ(record.Service, "");
    EXPECT_EQ(record.Text, "");
    EXPECT_FALSE(record.IsError);
    ParseLogLine("E=1,Ti=1073741823,\"T=a <CRLF> b\"", record);
    EXPECT_TRUE(record.IsError);
    EXPECT_NEAR(record.Time, 0.5, 1e-9);
    EXPECT_EQ(record.Text, "a <CRLF> b");
}

}  // namespace
}  // namespace gatemoor
