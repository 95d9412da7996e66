#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "screening/FileExtensions.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

std::string DefaultTableText() {
    std::string text;
    for (std::string_view line : DefaultFileExtensionLines()) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string Saved(TFileExtensionList& list) {
    std::ostringstream out;
    list.SaveToStream(out);
    return out.str();
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    EXPECT_EQ(start, text.size()) << "text does not end in CR LF";
    return lines;
}

void ExpectSameRecord(const TFileExtension& a, const TFileExtension& b) {
    EXPECT_EQ(a.Extension(), b.Extension());
    EXPECT_EQ(a.SameAs(), b.SameAs());
    EXPECT_EQ(a.Risk(), b.Risk());
    EXPECT_EQ(a.Descriptions(), b.Descriptions());
    EXPECT_EQ(a.References(), b.References());
}

TEST(FileExtensionDefaults, TableHasItsShape) {
    TFileExtensionList list;
    list.LoadDefaults();
    ASSERT_EQ(list.Count(), 162);

    std::map<int, int> byRisk;
    std::map<int, int> byLineCount;
    int withSameAs = 0;
    int withReference = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const TFileExtension& record = *list.Items(i);
        SCOPED_TRACE(record.Extension());
        for (char c : record.Extension())
            EXPECT_FALSE(c >= 'a' && c <= 'z');
        if (i > 0) {
            std::string before = list.Items(i - 1)->Extension();
            EXPECT_LT(before, record.Extension()) << "not in ascending order";
        }
        ++byRisk[record.Risk()];
        std::size_t lines = record.Descriptions().size();
        EXPECT_GE(lines, 1u);
        EXPECT_LE(lines, 10u);
        ++byLineCount[static_cast<int>(std::min<std::size_t>(lines, 4))];
        if (!record.SameAs().empty()) ++withSameAs;
        if (!record.References().empty()) {
            ++withReference;
            EXPECT_EQ(record.References().size(), 1u);
            EXPECT_EQ(record.References()[0].rfind("https://", 0), 0u);
        }
    }
    EXPECT_EQ(byRisk, (std::map<int, int>{{3, 75}, {2, 12}, {1, 8}, {0, 36}, {-2, 29}, {-3, 2}}));
    EXPECT_EQ(byLineCount, (std::map<int, int>{{1, 77}, {2, 34}, {3, 24}, {4, 27}}));
    EXPECT_EQ(withSameAs, 29);
    EXPECT_EQ(withReference, 37);
}

TEST(FileExtensionDefaults, RowsThatAreFixedWordForWord) {
    TFileExtensionList list;
    list.LoadDefaults();
    const std::vector<std::string> saved = SplitCrLf(Saved(list));
    const std::string fixed[] = {
        R"x(1=TXT,3=0,"4=""ASCII Text File (i.e. plain, safe unformatted text)""")x",
        R"x(1=JPG,2=jpeg,3=0,"4=""JPEG compressed bitmap image""")x",
        R"x(1=XLS,3=2,"4=""Worksheet file (Microsoft Excel)"",""Excel files can contain macros that are powerful enough to be used to spread viruses.  It is "",""a good idea to scan any excel files with a virus scanner.""")x",
        R"x(1=386,3=3,"4=""Windows Enhanced Mode Driver or Swap File for use in an 80386 or higher  microprocessor"",""A device driver is executable code and, as such, can be infected and should be scanned.""")x",
        R"x(1=HTM,2=html,3=1,"4=""A Web page (a file containing Hypertext Markup Language - HTML - markup)"",""(HTML files can contain scripts which are becoming virus vectors more and more "",frequently.)")x",
        R"x(1=ASC,3=-2,"4=""ASCII text file"",""PGP armored encrypted file""")x",
        R"x(1=EPI,2=ps,3=-3,"4=""Encapsulated PostScript (text and graphics) (Express Publisher).""")x",
    };
    for (const std::string& line : fixed) {
        SCOPED_TRACE(line.substr(0, 12));
        EXPECT_NE(std::find(saved.begin(), saved.end(), line), saved.end());
    }

    int position = 0;
    ASSERT_TRUE(list.Find("EXE", position));
    const TFileExtension& exe = *list.Items(position);
    EXPECT_EQ(exe.Risk(), 3);
    EXPECT_EQ(exe.Descriptions(), std::vector<std::string>{"Executable File"});
    EXPECT_EQ(exe.References().size(), 1u);
}

TEST(FileExtensionDefaults, SaveWritesTheTableAndReadsBackTheSameRecords) {
    TFileExtensionList list;
    list.LoadDefaults();
    const std::string saved = Saved(list);
    EXPECT_EQ(saved, DefaultTableText());
    EXPECT_EQ(SplitCrLf(saved).size(), 162u);

    std::istringstream in(saved);
    TFileExtensionList reread;
    reread.LoadFromStream(in);
    ASSERT_EQ(reread.Count(), list.Count());
    for (int i = 0; i < list.Count(); ++i)
        ExpectSameRecord(*reread.Items(i), *list.Items(i));
}

TEST(FileExtensionRecord, TextsSurviveWriteAndRead) {
    TFileExtension record;
    record.SetExtension("  .dat\t");
    record.SetSameAs(".bin ");
    record.SetRisk(-2);
    record.Descriptions() = {"  leading blanks, a comma and a \"quote\"", "", "\"", "plain"};
    record.References() = {"http://example.com/a b", ","};
    EXPECT_EQ(record.Extension(), "dat");
    EXPECT_EQ(record.SameAs(), "bin");
    EXPECT_EQ(RiskName(record.Risk()), "unknown");

    std::stringstream stream;
    record.WriteTo(stream);
    const std::string line = stream.str();
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_NE(line.find(",3=-2,"), std::string::npos) << line;

    TFileExtension back;
    ASSERT_TRUE(back.ReadFrom(stream));
    ExpectSameRecord(back, record);
    EXPECT_FALSE(back.ReadFrom(stream)) << "the stream is at its end";
    ExpectSameRecord(back, record);  // unchanged by the read at the end
}

TEST(FileExtensionRecord, LineBreaksNeverSplitARecordLine) {
    // An extension that arrives from outside must not plant a record line of its own.
    TFileExtensionList list;
    TFileExtension* planted = list.FindOrAdd("zzz\r\n1=EXE,3=0,\r\n");
    ASSERT_NE(planted, nullptr);
    planted->SetRisk(1);
    planted->Descriptions() = {"two\r\nlines"};
    const std::string saved = Saved(list);
    EXPECT_EQ(SplitCrLf(saved).size(), 1u) << saved;

    std::istringstream in(saved);
    TFileExtensionList reread;
    reread.LoadFromStream(in);
    ASSERT_EQ(reread.Count(), 1);
    EXPECT_EQ(reread.Items(0)->Risk(), 1);
    int position = 0;
    EXPECT_FALSE(reread.Find("EXE", position));
}

TEST(FileExtensionRecord, EmptinessAndRiskNames) {
    TFileExtension record;
    EXPECT_TRUE(record.IsEmpty());
    EXPECT_EQ(record.Risk(), -1);
    record.SetExtension("abc");
    EXPECT_TRUE(record.IsEmpty());
    record.SetSameAs("def");
    EXPECT_TRUE(record.IsEmpty()) << "the equivalent plays no part";
    record.SetRisk(0);
    EXPECT_FALSE(record.IsEmpty());

    TFileExtension classId;
    classId.SetExtension("{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    EXPECT_FALSE(classId.IsEmpty());

    const std::pair<int, const char*> names[] = {{0, "low"},       {1, "moderate"}, {2, "high"},
                                                 {3, "very high"}, {-1, "unknown"}, {-2, "unknown"},
                                                 {-3, "unknown"},  {4, "unknown"}};
    for (const auto& [level, name] : names)
        EXPECT_EQ(RiskName(level), name) << level;
}

TEST(FileExtensionRecord, JunkLinesNeverCrash) {
    struct Case {
        const char* name;
        std::string line;
        std::string extension;
        int risk;
    };
    const Case cases[] = {
        {"empty", "", "", -1},
        {"commas only", ",,,,", "", -1},
        {"lone quote", "\"", "", -1},
        {"unclosed quoted pair", "1=ABC,\"4=\"\"never closed", "ABC", -1},
        {"risk not a number", "1=ABC,3=x1", "ABC", -1},
        {"risk overflowing", "1=ABC,3=99999999999999999999", "ABC", -1},
        {"risk with trailing junk", "1=ABC,3=2z", "ABC", -1},
        {"negative risk", "1=ABC,3=-3", "ABC", -3},
        {"keys in any order", "3=2,1=.Abc", "Abc", 2},
        {"only equals signs", "=,==,===", "", -1},
        {"bytes with NUL and controls", std::string("1=A\0B,\x01\x02\xff,3=\0", 13), "A", -1},
        {"blanks split a bare item", "1=a b,3=1", "a", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFileExtension record;
        record.SetRisk(3);
        record.Descriptions() = {"old"};
        record.FromLine(c.line);
        EXPECT_EQ(record.Extension(), c.extension);
        EXPECT_EQ(record.Risk(), c.risk);
        (void)record.ToLine();
    }
}

TEST(FileExtensionList, FindNormalisesItsArgument) {
    TFileExtensionList list;
    list.LoadDefaults();
    struct Case {
        const char* name;
        const char* text;
        bool found;
        std::string recordAt;  // extension at the position, or "" for the end/none
    };
    const Case cases[] = {
        {"with dot", ".exe", true, "EXE"},     {"blanks around", " Exe ", true, "EXE"},
        {"upper case", "EXE", true, "EXE"},    {"between 386 and ACA", "aaa", false, "ACA"},
        {"after the last", "zzzz", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int position = -5;
        EXPECT_EQ(list.Find(c.text, position), c.found);
        TFileExtension* at = list.Items(position);
        EXPECT_EQ(at ? at->Extension() : std::string(), c.recordAt);
    }
    for (const char* blank : {"", ".", "  "}) {
        int position = -5;
        EXPECT_FALSE(list.Find(blank, position)) << '"' << blank << '"';
        EXPECT_EQ(position, 0);
    }
    EXPECT_EQ(list.FindOrAdd("."), nullptr);
    EXPECT_EQ(list.Count(), 162);
}

TEST(FileExtensionList, CopyOfUnknownAddsAnEmptyRecordThatIsNotSaved) {
    TFileExtensionList list;
    list.LoadDefaults();
    std::unique_ptr<TFileExtension> copy = list.CopyOf("zzz");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Extension(), "zzz");
    EXPECT_TRUE(copy->IsEmpty());

    ASSERT_EQ(list.Count(), 163);
    int position = 0;
    ASSERT_TRUE(list.Find("ZZZ", position));
    EXPECT_NE(list.Items(position), copy.get()) << "the copy belongs to the caller";
    EXPECT_EQ(list.Items(position - 1)->Extension(), "XML");
    EXPECT_EQ(Saved(list), DefaultTableText());

    std::unique_ptr<TFileExtension> exe = list.CopyOf(".exe");
    EXPECT_EQ(exe->Risk(), 3);
    exe->SetRisk(0);
    ASSERT_TRUE(list.Find("exe", position));
    EXPECT_EQ(list.Items(position)->Risk(), 3);
    EXPECT_TRUE(list.CopyOf(" ")->IsEmpty());
    EXPECT_EQ(list.Count(), 163);
}

TEST(FileExtensionList, ClassIdRecordIsSaved) {
    TFileExtensionList list;
    TFileExtension* record = list.FindOrAdd("{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(Saved(list), "1={20D04FE0-3AEA-1069-A2D8-08002B30309D},3=-1\r\n");
    std::string name;
    EXPECT_TRUE(record->LookUpClassId(name));
    EXPECT_EQ(name, "My Computer");
}

TEST(FileExtensionList, InsertDeleteAndMimeTypes) {
    TFileExtensionList list;
    list.LoadDefaults();
    TFileExtension* jpg = list.FindByMimeType("image/jpeg");
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(jpg->Extension(), "JPG");
    TFileExtension* exe = list.FindByMimeType("application/x-msdownload");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->Extension(), "EXE");
    EXPECT_EQ(list.FindByMimeType("application/x-gatemoor-unknown"), nullptr);
    EXPECT_EQ(list.Count(), 162) << "a MIME type lookup adds nothing";

    int index = list.IndexOf(exe);
    ASSERT_GE(index, 0);
    list.Delete(index);
    EXPECT_EQ(list.Count(), 161);
    int position = 0;
    EXPECT_FALSE(list.Find("EXE", position));
    ASSERT_TRUE(list.Find("JPG", position));
    EXPECT_EQ(list.IndexOf(jpg), position);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
    list.Delete(-1);
    list.Delete(161);
    EXPECT_EQ(list.Count(), 161);
    EXPECT_EQ(list.Items(161), nullptr);
}

class FileExtensionFile : public ::testing::Test {
protected:
    test::TempFolder folder_;
    std::string path_ = folder_.File("FileExtensionsInfo.txt");
};

TEST_F(FileExtensionFile, TruncatedFileKeepsTheRecordsReadSoFar) {
    const std::string table = DefaultTableText();
    const std::size_t xls = table.find("1=XLS,");
    ASSERT_NE(xls, std::string::npos);
    test::WriteFile(path_, table.substr(0, xls + 40));

    TFileExtensionList list;
    list.LoadFromFile(path_, false);
    int position = 0;
    TFileExtensionList full;
    full.LoadDefaults();
    ASSERT_TRUE(full.Find("XLS", position));
    ASSERT_EQ(list.Count(), position + 1);
    EXPECT_EQ(list.Items(position)->Extension(), "XLS");
    EXPECT_EQ(list.Items(position)->Risk(), 2);
    ExpectSameRecord(*list.Items(position - 1), *full.Items(position - 1));
}

TEST_F(FileExtensionFile, MissingFileLoadsNothing) {
    TFileExtensionList list;
    list.LoadFromFile(folder_.File("absent.txt"), false);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(FileExtensionFile, JunkLinesAndOtherLineEndsKeepEveryRecordFindable) {
    // Blank and junk lines read as records without an extension; where they stood the
    // binary search would miss real records unless the list is kept in order.
    std::string text;
    int row = 0;
    for (std::string_view line : DefaultFileExtensionLines()) {
        text += line;
        text += (++row % 3 == 0) ? "\n" : "\r\n";
        if (row % 40 == 0) text += "junk without pairs\r\n\r\n";
    }
    test::WriteFile(path_, text);

    TFileExtensionList list;
    list.LoadFromFile(path_, false);
    EXPECT_EQ(list.Count(), 162 + 4 * 2);  // a junk and a blank line at rows 40, 80, 120, 160
    TFileExtensionList defaults;
    defaults.LoadDefaults();
    for (int i = 0; i < defaults.Count(); ++i) {
        const std::string& extension = defaults.Items(i)->Extension();
        int position = 0;
        EXPECT_TRUE(list.Find(extension, position)) << extension;
    }
    EXPECT_EQ(Saved(list), DefaultTableText());
}

TEST_F(FileExtensionFile, LoadsInAWorkerThread) {
    test::WriteFile(path_, DefaultTableText());
    TFileExtensionList list;
    list.LoadFromFile(path_, true);
    EXPECT_NE(list.LoaderThread(), 0u);
    ASSERT_TRUE(list.WaitForLoading(20000));
    EXPECT_EQ(list.Count(), 162);
    EXPECT_EQ(Saved(list), DefaultTableText());
}

TEST_F(FileExtensionFile, ListFreedWhileItsWorkerLoads) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += DefaultTableText();
    test::WriteFile(path_, text);
    for (int round = 0; round < 3; ++round) {
        auto list = std::make_unique<TFileExtensionList>();
        list->LoadFromFile(path_, true);
        list.reset();  // must wait for the worker to leave, never free under it
    }
}

}  // namespace
}  // namespace gatemoor
