#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "screening/VornUtil.h"
#include "support/TestSupport.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// `pattern` holds one "#" for the five random letters or digits.
bool FitsPattern(const std::string& path, const std::string& pattern) {
    const auto mark = pattern.find('#');
    const std::string front = pattern.substr(0, mark);
    const std::string back = pattern.substr(mark + 1);
    if (path.size() != front.size() + 5 + back.size()) return false;
    if (!path.starts_with(front) || !path.ends_with(back)) return false;
    for (char c : path.substr(front.size(), 5)) {
        if (!IsLetter(c) && !IsDigit(c)) return false;
    }
    return true;
}

TEST(GetUniquePath, ExistingFolderGetsARandomSuffix) {
    test::TempFolder folder;
    struct Case {
        const char* name;
        std::string base;
        bool keepBlanks;
        const char* expected;  // the file name, with a placeholder for the suffix
    } cases[] = {
        {"blank and question mark", "my file?", false, "my_file(#).htm"},
        {"blanks kept", "my  file", true, "my  file(#).htm"},
        {"forbidden characters", "a<b>c:d|e\"f/g\\h*i?j", false, "abcdefghij(#).htm"},
        {"controls and high bytes", "x\ty\x80\xFFz", false, "xyz(#).htm"},
        {"path climbing", "../../etc", false, "....etc(#).htm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        ASSERT_TRUE(GetUniquePath(folder.Path(), c.base, ".htm", path, c.keepBlanks));
        EXPECT_TRUE(FitsPattern(path, folder.Path() + "/" + c.expected)) << path;
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST(GetUniquePath, DrawsAgainUntilThePathIsFree) {
    test::TempFolder folder;
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string path;
        ASSERT_TRUE(GetUniquePath(folder.Path() + "/", "n", ".eml", path));
        EXPECT_TRUE(seen.insert(path).second);
        test::WriteFile(path, "x");
    }
}

TEST(GetUniquePath, MissingFolderIsCreatedAndNeedsNoSuffix) {
    test::TempFolder folder;
    const std::string missing = folder.File("new/deeper");
    std::string path;
    ASSERT_TRUE(GetUniquePath(missing, "Full Report", ".htm", path));
    EXPECT_EQ(path, missing + "/Full_Report.htm");
    EXPECT_TRUE(fs::is_directory(missing));

    test::WriteFile(folder.File("plainfile"), "x");
    EXPECT_FALSE(GetUniquePath(folder.File("plainfile"), "a", ".htm", path));
}

TEST(GetUniquePath, EmptyFolderMeansTheTemporaryFolder) {
    std::string path;
    ASSERT_TRUE(GetUniquePath("", "Temp", ".eml", path));
    EXPECT_EQ(path.rfind(TempFolder() + "/Temp(", 0), 0u) << path;
    EXPECT_FALSE(TempFolder().empty());
    EXPECT_NE(TempFolder().back(), '/');
}

TEST(FindFiles, MaskRecursionAndLimit) {
    test::TempFolder folder;
    fs::create_directories(folder.File("sub/deep"));
    fs::create_directories(folder.File("b.dat"));  // a folder, never listed as a file
    for (const char* name : {"a.dat", "B.DAT", "c.txt", "sub/d.dat", "sub/deep/e.dat", "noext"}) {
        test::WriteFile(folder.File(name), "x");
    }
    fs::create_directory_symlink(folder.Path(), folder.File("sub/loop"));
    const std::string root = folder.Path() + "/";
    auto find = [&](const char* mask, bool recurse, int limit) {
        Lines list{"old"};
        const int added = FindFiles(folder.Path(), mask, recurse, limit, list);
        EXPECT_EQ(added, static_cast<int>(list.size()) - 1);
        list.erase(list.begin());
        for (auto& path : list)
            path.erase(0, path.rfind(root, 0) == 0 ? root.size() : 0);
        return list;
    };
    EXPECT_EQ(find("*.dat", false, 0), (Lines{"B.DAT", "a.dat"}));
    EXPECT_EQ(find("*.dat", true, 0), (Lines{"B.DAT", "a.dat", "sub/d.dat", "sub/deep/e.dat"}));
    EXPECT_EQ(find("*.dat", true, 3), (Lines{"B.DAT", "a.dat", "sub/d.dat"}));
    EXPECT_EQ(find("?.txt", true, 0), (Lines{"c.txt"}));
    EXPECT_EQ(find("*.*", false, 0), (Lines{"B.DAT", "a.dat", "c.txt", "noext"}));
    EXPECT_EQ(find("*", false, 1), (Lines{"B.DAT"}));
    Lines none;
    EXPECT_EQ(FindFiles(folder.File("missing"), "*", true, 0, none), 0);
    EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace gatemoor
