#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "screening/EmailInfo.h"
#include "screening/VornUtilFolders.h"
#include "screening/VornUtilPack.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;
using test::WriteFile;
using T = TStandardTest;

std::string PathOf(int id) {
    return EmailInfoFolder() + "/" + std::to_string(id) + ".dat";
}

// Writes `bytes` as the file of `id`.
void WriteRecordFile(int id, const std::string& bytes) {
    fs::remove_all(PathOf(id));
    WriteFile(PathOf(id), bytes);
}

// A record with the given id whose file does not exist yet.
void Reset(TEmailInfo& info, int id) {
    fs::remove_all(PathOf(id));
    info.SetId(id);
}

// Sets every value from `text`, each field's own way.
void FillAll(TEmailInfo& info, const std::string& text) {
    info.SetMailBox(text + "1");
    info.SetUIDL(text + "2");
    info.SetRemoteAccountId(text + "3");
    info.SetPurgatoryText(text + "4");
    info.SetPurgatoryCategory(text + "5");
    info.SetCategoryProbabilitiesStr(text + "6");
    info.SetBackupFile(text + "7");
    info.SetUserWanted(text + "8");
    info.SetShowExtRefs(text + "9");
    info.SetReportFile(text + "10");
    info.SetSummaryReport(text + "11");
    info.SetMailListId(text + "12");
    info.SetZELHasMsgText(text + "13");
    info.SetSourceIP(text + "14");
    info.SetDccBody(text + "15");
    info.SetDccFuz1(text + "16");
    info.SetDccFuz2(text + "17");
    info.SetStatData(text + "18");
    info.SetPOPDuplicate(text + "19");
    info.SetZELMsgId(-123456);
    info.SetStandardTests({T::No, T::NotRun, T::Yes});
    info.SetUrls({text, "", "http://x/?a=1,b=2"});
    info.SetBannedPhrases({"", text});
    info.ClearDangerReasons();
    info.AddDangerReason(text, 40);
    info.AddDangerReason(text + " again", -7);
    info.AddDangerReason("", 999);
}

void ExpectSameValues(const TEmailInfo& a, const TEmailInfo& b) {
    EXPECT_EQ(a.MailBox(), b.MailBox());
    EXPECT_EQ(a.UIDL(), b.UIDL());
    EXPECT_EQ(a.RemoteAccountId(), b.RemoteAccountId());
    EXPECT_EQ(a.PurgatoryText(), b.PurgatoryText());
    EXPECT_EQ(a.PurgatoryCategory(), b.PurgatoryCategory());
    EXPECT_EQ(a.CategoryProbabilitiesStr(), b.CategoryProbabilitiesStr());
    EXPECT_EQ(a.BackupFile(), b.BackupFile());
    EXPECT_EQ(a.UserWanted(), b.UserWanted());
    EXPECT_EQ(a.ShowExtRefs(), b.ShowExtRefs());
    EXPECT_EQ(a.ReportFile(), b.ReportFile());
    EXPECT_EQ(a.SummaryReport(), b.SummaryReport());
    EXPECT_EQ(a.MailListId(), b.MailListId());
    EXPECT_EQ(a.ZELHasMsgText(), b.ZELHasMsgText());
    EXPECT_EQ(a.SourceIP(), b.SourceIP());
    EXPECT_EQ(a.DccBody(), b.DccBody());
    EXPECT_EQ(a.DccFuz1(), b.DccFuz1());
    EXPECT_EQ(a.DccFuz2(), b.DccFuz2());
    EXPECT_EQ(a.StatData(), b.StatData());
    EXPECT_EQ(a.POPDuplicate(), b.POPDuplicate());
    EXPECT_EQ(a.ZELMsgId(), b.ZELMsgId());
    EXPECT_EQ(a.StandardTests(), b.StandardTests());
    EXPECT_EQ(a.Urls(), b.Urls());
    EXPECT_EQ(a.BannedPhrases(), b.BannedPhrases());
    EXPECT_EQ(a.DangerReasons(), b.DangerReasons());
}

void ExpectEmpty(const TEmailInfo& info) {
    TEmailInfo empty;
    empty.Clear();
    ExpectSameValues(info, empty);
}

TEST(EmailInfoFile, OnlyBackupFileWritesExactlyThatLine) {
    TEmailInfo info;
    Reset(info, 1001);
    info.SetBackupFile("Backup 20 May.eml");
    ASSERT_TRUE(info.Save());
    EXPECT_EQ(info.FilePath(), PathOf(1001));
    EXPECT_EQ(ReadFile(PathOf(1001)), "BackupFile=Backup 20 May.eml\r\n");
}

TEST(EmailInfoFile, RecordWithoutValuesWritesNoFile) {
    TEmailInfo info;
    Reset(info, 1002);
    info.SetStandardTests({});
    info.SetZELMsgId(0);
    EXPECT_TRUE(info.Save());
    EXPECT_FALSE(fs::exists(PathOf(1002)));
}

TEST(EmailInfoFile, EveryKeyInItsOrderWithItsEncoding) {
    TEmailInfo info;
    Reset(info, 1003);
    FillAll(info, "v");
    info.SetStandardTests({T::Yes, T::No, T::NotRun});
    info.SetUrls({"http://a/", "b c"});
    info.SetBannedPhrases({"x"});
    info.ClearDangerReasons();
    info.AddDangerReason("X", 5);
    info.AddDangerReason("HTML script", 40);
    info.AddDangerReason("Refresh redirection of input", 100);
    ASSERT_TRUE(info.Save());
    EXPECT_EQ(ReadFile(PathOf(1003)),
              "MailBox=v1\r\nUIDL=v2\r\nRemoteAccountId=v3\r\nPurgatoryText=v4\r\n"
              "PurgatoryCategory=v5\r\nCategoryProbabilitiesStr=v6\r\nBackupFile=v7\r\n"
              "UserWanted=v8\r\nShowExtRefs=v9\r\nReportFile=v10\r\nSummaryReport=v11\r\n"
              "MailListId=v12\r\nZELHasMsgText=v13\r\nSourceIP=v14\r\nDccBody=v15\r\n"
              "DccFuz1=v16\r\nDccFuz2=v17\r\nZELMsgId=-123456\r\nStandardTests=!" +
                  PackText("yn") +
                  "\r\nUrls=http://a/,\"b c\"\r\nStatData=v18\r\nPOPDuplicate=v19\r\n"
                  "DangerLevel=\"040HTML script\",\"100Refresh redirection of input\",005X\r\n"
                  "BannedPhrases=x\r\n");
}

struct DangerCase {
    const char* name;
    int points;
    const char* text;
    const char* entry;
};

const DangerCase kDangerCases[] = {
    {"two digits padded", 40, "HTML script", "040HTML script"},
    {"three digits", 100, "Refresh redirection of input", "100Refresh redirection of input"},
    {"one digit padded", 5, "X", "005X"},
    {"negative of three characters", -20, "", "-20"},
    {"zero", 0, "Z", "000Z"},
    // A plain left pad would give "0-5", which reads back as 10 points.
    {"small negative keeps its sign first", -5, "Y", "-05Y"},
    // Cutting "1000" to its last 3 characters would read back as 0 points.
    {"too high is held at 999", 1000, "Big", "999Big"},
    {"too low is held at -99", -150, "Low", "-99Low"},
};

TEST(EmailInfoDanger, EntriesWriteAndReadBack) {
    for (const auto& c : kDangerCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DangerEntry({c.text, c.points}), c.entry);
        const TDangerReason read = ParseDangerEntry(c.entry);
        EXPECT_EQ(read.text, c.text);
        EXPECT_EQ(read.points, std::clamp(c.points, -99, 999));
    }
}

struct ParseCase {
    const char* name;
    const char* entry;
    int points;
    const char* text;
};

const ParseCase kParseCases[] = {
    {"points not a number", "abcText", 10, "Text"},
    {"old negative pad", "0-5X", 10, "X"},
    {"sign only", "-  reason", 10, "reason"},
    {"plus sign is not a number", "+40Y", 10, "Y"},
    {"shorter than three", "7", 7, ""},
    {"digits run on into the text", "12345", 123, "45"},
};

TEST(EmailInfoDanger, EntriesThatTheWriterNeverMakes) {
    for (const auto& c : kParseCases) {
        SCOPED_TRACE(c.name);
        const TDangerReason read = ParseDangerEntry(c.entry);
        EXPECT_EQ(read.points, c.points);
        EXPECT_EQ(read.text, c.text);
    }
}

TEST(EmailInfoDanger, ReasonAddedTwiceKeepsItsFirstPointsAndListStaysSorted) {
    TEmailInfo info;
    EXPECT_TRUE(info.AddDangerReason("Attachment", 30));
    EXPECT_TRUE(info.AddDangerReason("Email attachment", 20));
    EXPECT_FALSE(info.AddDangerReason("Attachment", 50));
    EXPECT_TRUE(info.AddDangerReason("Date tag too long", 90));
    const std::vector<TDangerReason> expected = {
        {"Attachment", 30}, {"Date tag too long", 90}, {"Email attachment", 20}};
    EXPECT_EQ(info.DangerReasons(), expected);
}

TEST(EmailInfoDanger, FileEntriesAreSortedAndFirstOfADuplicateWins) {
    WriteRecordFile(1004, "DangerLevel=\"030Zeta\",abcText,\"050Zeta\",,005Alpha,-20\r\n");
    TEmailInfo info;
    EXPECT_TRUE(info.Load(1004));
    const std::vector<TDangerReason> expected = {
        {"", -20}, {"Alpha", 5}, {"Text", 10}, {"Zeta", 30}};
    EXPECT_EQ(info.DangerReasons(), expected);
}

struct TestsCase {
    const char* name;
    std::vector<TStandardTest> tests;
    std::string letters;  // before packing; empty: the value is left out
    std::vector<TStandardTest> readBack;
};

const TestsCase kTestsCases[] = {
    {"empty list is left out", {}, "", {}},
    {"trailing not-run dropped", {T::Yes, T::No, T::NotRun, T::NotRun}, "yn", {T::Yes, T::No}},
    {"inner not-run stays", {T::NotRun, T::Yes}, "uy", {T::NotRun, T::Yes}},
    {"one letter stays", {T::NotRun, T::NotRun}, "u", {T::NotRun}},
    {"long list packs the splay way", std::vector<TStandardTest>(150, T::Yes),
     std::string(150, 'y'), std::vector<TStandardTest>(150, T::Yes)},
};

TEST(EmailInfoStandardTests, PackBothWays) {
    for (const auto& c : kTestsCases) {
        SCOPED_TRACE(c.name);
        const std::string encoded = EncodeStandardTests(c.tests);
        EXPECT_EQ(encoded, c.letters.empty() ? "" : "!" + PackText(c.letters));
        EXPECT_EQ(DecodeStandardTests(encoded), c.readBack);
    }
}

TEST(EmailInfoStandardTests, ReadingUnpackedAndUnknownLetters) {
    EXPECT_EQ(DecodeStandardTests("ynuxY"),
              (std::vector<TStandardTest>{T::Yes, T::No, T::NotRun, T::NotRun, T::NotRun}));
    EXPECT_EQ(DecodeStandardTests("!" + PackText("nNy")),
              (std::vector<TStandardTest>{T::No, T::NotRun, T::Yes}));
    EXPECT_TRUE(DecodeStandardTests("!").empty());
}

// Texts that a line-based file or the comma text could get wrong.
const char* const kAwkwardTexts[] = {
    "plain",
    " leading and trailing blanks ",
    "a=b=c",
    "\"quoted\", with, commas",
    "back\\slash \\r \\n \\\\ and a last one\\",
    "tab\there",
    "!looks packed",
    "ends with CR\r",
    "\nstarts with LF",
    "mixed\r\nline\rbreaks\n\n",
    "\xff\xfe high bytes \x80",
};

TEST(EmailInfoFile, EveryValueSurvivesSaveAndLoad) {
    for (const char* text : kAwkwardTexts) {
        SCOPED_TRACE(text);
        TEmailInfo written;
        Reset(written, 1005);
        FillAll(written, text);
        ASSERT_TRUE(written.Save());
        TEmailInfo read;
        ASSERT_TRUE(read.Load(1005));
        EXPECT_EQ(read.Id(), 1005);
        ExpectSameValues(read, written);
    }
}

TEST(EmailInfoFile, NulBytesSurvive) {
    const std::string text("a\0b\r\0", 5);
    TEmailInfo written;
    Reset(written, 1006);
    FillAll(written, text);
    ASSERT_TRUE(written.Save());
    TEmailInfo read;
    ASSERT_TRUE(read.Load(1006));
    ExpectSameValues(read, written);
}

TEST(EmailInfoFile, LineBreaksGoUnderTheEscapedKeyOthersAreWrittenAsTheyAre) {
    TEmailInfo info;
    Reset(info, 1007);
    info.SetMailBox("a=b \\n");
    info.SetUIDL("x\r\ny\\z\n");
    info.SetUrls({"u\rv"});
    ASSERT_TRUE(info.Save());
    EXPECT_EQ(ReadFile(PathOf(1007)),
              "MailBox=a=b \\n\r\n"
              "UIDL.Escaped=x\\r\\ny\\\\z\\n\r\n"
              "Urls.Escaped=\"u\\rv\"\r\n");
}

TEST(EmailInfoLoad, SameIdDoesNothingOtherIdReplacesEverything) {
    TEmailInfo info;
    Reset(info, 1008);
    FillAll(info, "kept");
    EXPECT_TRUE(info.Load(1008));
    EXPECT_EQ(info.UIDL(), "kept2");

    WriteRecordFile(1009, "UIDL=other\r\n");
    EXPECT_TRUE(info.Load(1009));
    EXPECT_EQ(info.Id(), 1009);
    EXPECT_EQ(info.UIDL(), "other");
    EXPECT_EQ(info.MailBox(), "");
    EXPECT_TRUE(info.DangerReasons().empty());

    fs::remove_all(PathOf(1010));
    EXPECT_FALSE(info.Load(1010));
    EXPECT_EQ(info.Id(), 1010);
    ExpectEmpty(info);
}

struct JunkCase {
    const char* name;
    std::string bytes;
    bool whole;
    std::string uidl;  // what UIDL and BackupFile read as
    std::string backup = "";
};

std::string AllBytes() {
    std::string bytes;
    for (int round = 0; round < 4; ++round)
        for (int c = 0; c < 256; ++c)
            bytes += static_cast<char>((c * 37 + round * 11) & 0xff);
    return bytes + "\r\n";
}

const JunkCase kJunk[] = {
    {"empty file", "", true, ""},
    {"every byte", AllBytes(), true, ""},
    {"nothing but separators", "=\r\n==\r\n\r\n\n\r", true, ""},
    {"lines without equals", "UIDL\r\nBackupFile\r\n", true, ""},
    {"lone CR and LF lines", "MailBox=m\rUIDL=u\nBackupFile=b\r\n", true, "u", "b"},
    {"key in other case", "uidl=lower\r\n", true, "lower"},
    {"first of two keys wins", "UIDL=first\r\nUIDL=second\r\n", true, "first"},
    {"plain key before escaped", "UIDL.Escaped=a\\nb\r\nUIDL=plain\r\n", true, "plain"},
    {"malformed escapes stay", "UIDL.Escaped=a\\qb\\\r\n", true, "a\\qb\\"},
    {"NULs in keys and values", "UI\0DL=x\r\nUIDL=a\0b\r\n"s, true, "a\0b"s},
    {"unterminated quote", "DangerLevel=\"040abc,\"\"\r\nUIDL=u\r\n", true, "u"},
    {"standard tests not Base64", "StandardTests=!@@@@\x01\r\n", true, ""},
    {"standard tests packed junk", "StandardTests=!AAAAAAAAAAAAAAAA////\r\n", true, ""},
    {"id not a number", "ZELMsgId=12abc\r\nUIDL=u\r\n", true, "u"},
    {"id out of range", "ZELMsgId=99999999999999999999\r\n", true, ""},
    {"truncated inside the last line", "UIDL=whole\r\nBackupFile=Backup_12", false, "whole"},
    {"cut between CR and LF loses nothing", "UIDL=whole\r", true, "whole"},
};

TEST(EmailInfoLoad, JunkFilesNeverCrash) {
    for (const auto& c : kJunk) {
        SCOPED_TRACE(c.name);
        WriteRecordFile(1011, c.bytes);
        TEmailInfo info;
        EXPECT_EQ(info.Load(1011), c.whole);
        EXPECT_EQ(info.UIDL(), c.uidl);
        EXPECT_EQ(info.ZELMsgId(), 0);
        EXPECT_EQ(info.BackupFile(), c.backup);
    }
}

// The values of the lines before the cut stay; the cut line and those after it are lost.
TEST(EmailInfoLoad, TruncatedRecordKeepsWhatCameBeforeTheCut) {
    TEmailInfo written;
    Reset(written, 1012);
    FillAll(written, "value");
    ASSERT_TRUE(written.Save());
    const std::string full = ReadFile(PathOf(1012));
    const std::size_t cut = full.find("ReportFile=") + 15;
    WriteRecordFile(1012, full.substr(0, cut));

    TEmailInfo read;
    EXPECT_FALSE(read.Load(1012));
    EXPECT_EQ(read.MailBox(), "value1");
    EXPECT_EQ(read.ShowExtRefs(), "value9");
    EXPECT_EQ(read.ReportFile(), "");
    EXPECT_EQ(read.ZELMsgId(), 0);
    EXPECT_TRUE(read.DangerReasons().empty());
}

TEST(EmailInfoLoad, UnreadableAndOversizedFiles) {
    fs::remove_all(PathOf(1013));
    fs::create_directories(PathOf(1013));
    TEmailInfo info;
    EXPECT_FALSE(info.Load(1013));
    ExpectEmpty(info);
    fs::remove_all(PathOf(1013));

    std::string big = "UIDL=first\r\n";
    big += std::string(kMaxEmailInfoFileBytes, 'j');
    big += "\r\nBackupFile=beyond\r\n";
    WriteRecordFile(1014, big);
    EXPECT_FALSE(info.Load(1014));
    EXPECT_EQ(info.UIDL(), "first");
    EXPECT_EQ(info.BackupFile(), "");
    fs::remove(PathOf(1014));
}

TEST(EmailInfoRecord, ClearEmptiesEverythingAndDrawsANewId) {
    TEmailInfo info;
    FillAll(info, "x");
    info.SetId(-1);
    info.Clear();
    ExpectEmpty(info);
    EXPECT_GE(info.Id(), 0);
    EXPECT_LE(info.Id(), kMaxEmailInfoId);
    for (int i = 0; i < 1000; ++i) {
        const int id = RandomEmailInfoId();
        ASSERT_GE(id, 0);
        ASSERT_LE(id, kMaxEmailInfoId);
    }
}

TEST(EmailInfoRecord, DeleteFileRemovesOnlyItsOwnFile) {
    TEmailInfo info;
    Reset(info, 1015);
    WriteRecordFile(1016, "UIDL=other\r\n");
    EXPECT_FALSE(info.DeleteFile());
    info.SetUIDL("u");
    ASSERT_TRUE(info.Save());
    EXPECT_TRUE(info.DeleteFile());
    EXPECT_FALSE(fs::exists(PathOf(1015)));
    EXPECT_TRUE(fs::exists(PathOf(1016)));
}

TEST(EmailInfoSharing, IdWithoutFileGivesAnEmptyRecordOfThatId) {
    fs::remove_all(PathOf(2001));
    TEmailInfo* info = nullptr;
    EXPECT_FALSE(GetEmailInfo(2001, info));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Id(), 2001);
    EXPECT_EQ(info->References(), 1);
    ExpectEmpty(*info);
    ReleaseEmailInfo(info);
    EXPECT_EQ(info, nullptr);
    EXPECT_FALSE(fs::exists(PathOf(2001)));
}

TEST(EmailInfoSharing, LastReleaseSavesTheRecord) {
    WriteRecordFile(2002, "UIDL=stored\r\n");
    TEmailInfo* info = nullptr;
    EXPECT_TRUE(GetEmailInfo(2002, info));
    EXPECT_EQ(info->UIDL(), "stored");
    info->SetReportFile("Full_Report x.htm");
    ASSERT_TRUE(RetainEmailInfo(info));
    TEmailInfo* second = info;
    ReleaseEmailInfo(second);
    EXPECT_EQ(ReadFile(PathOf(2002)), "UIDL=stored\r\n");
    EXPECT_EQ(info->References(), 1);
    ReleaseEmailInfo(info);
    EXPECT_EQ(ReadFile(PathOf(2002)), "UIDL=stored\r\nReportFile=Full_Report x.htm\r\n");
}

TEST(EmailInfoSharing, InstalledLookupSharesTheHeldRecord) {
    TEmailInfo* held = nullptr;
    fs::remove_all(PathOf(2003));
    GetEmailInfo(2003, held);
    SetEmailInfoLookup([held](int id) -> TEmailInfo* {
        return id == 2003 && RetainEmailInfo(held) ? held : nullptr;
    });

    TEmailInfo* shared = nullptr;
    EXPECT_TRUE(GetEmailInfo(2003, shared));
    EXPECT_EQ(shared, held);
    EXPECT_EQ(held->References(), 2);
    ReleaseEmailInfo(shared);

    TEmailInfo* other = nullptr;
    EXPECT_FALSE(GetEmailInfo(2004, other));
    EXPECT_NE(other, held);
    EXPECT_EQ(other->Id(), 2004);
    ReleaseEmailInfo(other);

    SetEmailInfoLookup({});
    EXPECT_EQ(held->References(), 1);
    ReleaseEmailInfo(held);
}

TEST(EmailInfoSharing, ConcurrentHoldersCountExactly) {
    fs::remove_all(PathOf(2005));
    TEmailInfo* info = nullptr;
    GetEmailInfo(2005, info);
    info->SetUIDL("shared");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([info] {
            for (int i = 0; i < 20000; ++i) {
                TEmailInfo* mine = info;
                if (RetainEmailInfo(mine)) ReleaseEmailInfo(mine);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(info->References(), 1);
    EXPECT_FALSE(fs::exists(PathOf(2005)));
    ReleaseEmailInfo(info);
    EXPECT_EQ(ReadFile(PathOf(2005)), "UIDL=shared\r\n");
}

TEST(EmailInfoSharing, ReleasedRecordCannotBeRetained) {
    TEmailInfo record;  // never handed out by GetEmailInfo: its count is 0
    EXPECT_FALSE(RetainEmailInfo(&record));
    EXPECT_FALSE(RetainEmailInfo(nullptr));
    TEmailInfo* none = nullptr;
    ReleaseEmailInfo(none);
}

}  // namespace
}  // namespace gatemoor
