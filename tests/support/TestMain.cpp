// Entry point of every test program: runs headless, with the program folder, the
// settings store and the window bus in a private temporary folder, so that tests never
// touch the user's files and test programs running side by side never meet.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

#include "foundation/VornThread.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string root = gatemoor::test::TestRoot();
    std::filesystem::create_directories(root + "/home");
    std::filesystem::create_directories(root + "/settings");
    std::filesystem::create_directories(root + "/bus");
    ::setenv("GATEMOOR_HOME", (root + "/home").c_str(), 1);
    ::setenv("GATEMOOR_SETTINGS_DIR", (root + "/settings").c_str(), 1);
    ::setenv("GATEMOOR_BUS_DIR", (root + "/bus").c_str(), 1);
    gatemoor::platform::OverrideProgramFolder(root + "/home");
    gatemoor::platform::SetSettingsFolder(root + "/settings");

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    gatemoor::VornThreadModuleStart();
    int result = RUN_ALL_TESTS();
    gatemoor::VornThreadModuleEnd();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return result;
}
