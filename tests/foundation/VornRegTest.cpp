#include <gtest/gtest.h>

#include <set>
#include <string>

#include "foundation/SettingsCatalogue.h"
#include "foundation/VornReg.h"
#include "platform/SettingsStore.h"

namespace gatemoor {
namespace {

class VornRegTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::RemoveStoredValue(SettingsBaseName(), "Reg Test", "");
        for (const auto& def : settings::All())
            platform::RemoveStoredValue(SettingsBaseName(), def.section, def.name);
    }
};

TEST_F(VornRegTest, KeyPathBelowTheProductKey) {
    EXPECT_EQ(SettingsBaseName(), "Gatemoor");
    EXPECT_EQ(SettingsKeyPath("Security Settings"), "\\software\\Gatemoor\\Security Settings");
    EXPECT_EQ(SettingsKeyPath(""), "\\software\\Gatemoor");
}

TEST_F(VornRegTest, WritingIntoANewSectionCreatesIt) {
    EXPECT_FALSE(TryReadSettingInteger("Reg Test", "Number").found);
    WriteSettingInteger("Reg Test", "Number", 1234);
    auto read = TryReadSettingInteger("Reg Test", "Number");
    EXPECT_TRUE(read.found);
    EXPECT_EQ(read.value, 1234);
}

TEST_F(VornRegTest, WrongTypeReadsAsTheDefault) {
    platform::WriteStoredText(SettingsBaseName(), "Reg Test", "Number", "not a number");
    EXPECT_FALSE(TryReadSettingInteger("Reg Test", "Number").found);
    EXPECT_EQ(ReadSettingInteger("Reg Test", "Number", 77), 77);
    EXPECT_TRUE(ReadSettingBool("Reg Test", "Number", true));
    EXPECT_FALSE(ReadSettingBool("Reg Test", "Number", false));
}

TEST_F(VornRegTest, BooleanTwoReadsTrueAndIsWrittenBackAsOne) {
    WriteSettingInteger("Reg Test", "Flag", 2);
    auto read = TryReadSettingBool("Reg Test", "Flag");
    ASSERT_TRUE(read.found);
    EXPECT_TRUE(read.value);
    WriteSettingBool("Reg Test", "Flag", read.value);
    EXPECT_EQ(ReadSettingInteger("Reg Test", "Flag", -1), 1);
    WriteSettingBool("Reg Test", "Flag", false);
    EXPECT_EQ(ReadSettingInteger("Reg Test", "Flag", -1), 0);
}

TEST_F(VornRegTest, CatalogueHoldsEveryValueOnceWithItsDefault) {
    std::set<std::string> seen;
    for (const auto& def : settings::All()) {
        SCOPED_TRACE(def.name);
        EXPECT_TRUE(seen.insert(std::string(def.section) + "/" + def.name).second);
        EXPECT_EQ(ReadSetting(def), def.defaultValue);
        if (def.type == SettingType::Boolean) {
            EXPECT_TRUE(def.defaultValue == 0 || def.defaultValue == 1);
        }
    }
    EXPECT_EQ(seen.size(), 22u);  // 14 screening and window values, 8 transcript values
    EXPECT_EQ(settings::kDelLogs.defaultValue, 30);
    EXPECT_EQ(settings::kTransUDPPacketSize.defaultValue, 512);
    EXPECT_EQ(settings::ChoiceCaptions(settings::kWebContent)[1], "Safe &Html Only");
    EXPECT_TRUE(settings::ChoiceCaptions(settings::kLogDetail).empty());
}

TEST_F(VornRegTest, CatalogueReadsWhatWasWritten) {
    WriteSetting(settings::kBlockScripts, 0);
    WriteSetting(settings::kPictures, 3);
    EXPECT_FALSE(ReadSettingFlag(settings::kBlockScripts));
    EXPECT_EQ(ReadSetting(settings::kPictures), 3);
    EXPECT_EQ(ReadSettingInteger("Security Settings", "Pictures", -1), 3);
}

}  // namespace
}  // namespace gatemoor
