#include <gtest/gtest.h>

#include "platform/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

namespace gatemoor::platform {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsFolder(folder_.Path()); }
    void TearDown() override { SetSettingsFolder(test::TestRoot() + "/settings"); }
    test::TempFolder folder_;
};

TEST_F(SettingsStoreTest, IntegersRoundTripPerSection) {
    EXPECT_FALSE(ReadStoredInteger("Prog", "New Section", "Value"));
    EXPECT_TRUE(WriteStoredInteger("Prog", "New Section", "Value", -17));
    EXPECT_TRUE(WriteStoredInteger("Prog", "Other", "Value", 5));
    EXPECT_EQ(ReadStoredInteger("Prog", "New Section", "Value"), -17);
    EXPECT_EQ(ReadStoredInteger("Prog", "Other", "Value"), 5);
    EXPECT_FALSE(ReadStoredInteger("Another Program", "New Section", "Value"));
    EXPECT_EQ(SettingsFilePath("Prog"), folder_.File("Prog.conf"));
}

TEST_F(SettingsStoreTest, ValuesOfAnotherTypeReadAsNotFound) {
    struct Case {
        const char* name;
        const char* stored;
    } cases[] = {{"text", "abc"}, {"empty", ""}, {"fraction", "1.5"}, {"too big", "99999999999"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteStoredText("Prog", "S", c.name, c.stored));
        EXPECT_FALSE(ReadStoredInteger("Prog", "S", c.name));
    }
}

TEST_F(SettingsStoreTest, RemovingAValue) {
    WriteStoredInteger("Prog", "S", "A", 1);
    RemoveStoredValue("Prog", "S", "A");
    EXPECT_FALSE(ReadStoredInteger("Prog", "S", "A"));
}

TEST_F(SettingsStoreTest, RunOnlyOverridesWinWithoutWritingTheStore) {
    WriteStoredInteger("Prog", "Security Settings", "Web Content", 1);
    SetIntegerOverride("security settings", "WEB CONTENT", 0);
    SetIntegerOverride("Security Settings", "Pictures", 3);
    EXPECT_EQ(ReadStoredInteger("Prog", "Security Settings", "Web Content"), 0);
    EXPECT_EQ(ReadStoredInteger("Prog", "Security Settings", "Pictures"), 3);
    EXPECT_EQ(ReadStoredInteger("Prog", "Other", "Pictures"), std::nullopt);
    EXPECT_EQ(test::ReadFile(SettingsFilePath("Prog")).find("Pictures"), std::string::npos);
    ClearIntegerOverrides();
    EXPECT_EQ(ReadStoredInteger("Prog", "Security Settings", "Web Content"), 1);
    EXPECT_FALSE(ReadStoredInteger("Prog", "Security Settings", "Pictures"));
}

TEST(ProgramFolder, OverrideReplacesTheCachedFolder) {
    const std::string original = ProgramFolder();
    test::TempFolder other;
    OverrideProgramFolder(other.Path() + "/");
    EXPECT_EQ(ProgramFolder(), other.Path());
    OverrideProgramFolder(original);
    EXPECT_EQ(ProgramFolder(), original);
}

}  // namespace
}  // namespace gatemoor::platform
