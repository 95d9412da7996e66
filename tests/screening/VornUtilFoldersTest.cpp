#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "screening/VornUtilFolders.h"

namespace gatemoor {
namespace {

namespace fs = std::filesystem;

struct FolderCase {
    const char* name;
    std::function<std::string()> folder;
    const char* below;  // path below the program folder
};

const FolderCase kFolders[] = {
    {"user", [] { return UserFolder("anyone"); }, "Users/SingleUser"},
    {"reports", [] { return ReportsFolder("anyone"); }, "Users/SingleUser/Reports"},
    {"partials", [] { return PartialsFolder("anyone"); }, "Users/SingleUser/Partials"},
    {"messages", [] { return MessagesFolder("anyone"); }, "Users/SingleUser/Messages"},
    {"unprocessed incoming", [] { return UnprocessedIncomingFolder("anyone"); },
     "Users/SingleUser/Messages/UnProcessedIncoming"},
    {"processed incoming", [] { return ProcessedIncomingFolder("anyone"); },
     "Users/SingleUser/Messages/ProcessedIncoming"},
    {"unprocessed outgoing", [] { return UnprocessedOutgoingFolder("anyone"); },
     "Users/SingleUser/Messages/UnprocessedOutGoing"},
    {"processed outgoing", [] { return ProcessedOutgoingFolder("anyone"); },
     "Users/SingleUser/Messages/ProcessedOutGoing"},
    {"purgatory", [] { return PurgatoryFolder("anyone"); }, "Users/SingleUser/Messages/Purgatory"},
    {"trash", [] { return TrashFolder("anyone"); }, "Users/SingleUser/Messages/Trash"},
    {"backups", [] { return BackupsFolder("anyone"); }, "Users/SingleUser/Messages/Backups"},
    {"images", [] { return ImagesFolder(); }, "Images"},
    {"information records", [] { return EmailInfoFolder(); }, "EmailInfo"},
    {"log", [] { return LogFolder(); }, "Log"},
};

// Every folder is made afresh, with its parents, by the call that names it.
TEST(Folders, EachFolderHasItsNameAndIsCreatedWithItsParents) {
    const std::string program = ProgramFolder();
    for (const auto& c : kFolders) {
        SCOPED_TRACE(c.name);
        fs::remove_all(program + "/Users");
        fs::remove_all(program + "/" + c.below);
        const std::string folder = c.folder();
        EXPECT_EQ(folder, program + "/" + c.below);
        EXPECT_TRUE(fs::is_directory(folder));
    }
}

TEST(Folders, EveryUserNameGivesTheSingleUserFolder) {
    const std::string single = ProgramFolder() + "/Users/SingleUser";
    for (const char* user : {"anyone", "", "Administrator", "../elsewhere"}) {
        SCOPED_TRACE(user);
        EXPECT_EQ(UserFolder(user), single);
        EXPECT_EQ(TrashFolder(user), single + "/Messages/Trash");
    }
}

TEST(Folders, RiskDatabaseLivesInTheProgramFolder) {
    EXPECT_EQ(RiskDatabasePath("Global"), ProgramFolder() + "/FileExtensionsInfo.txt");
    fs::remove_all(ProgramFolder() + "/Users");
    EXPECT_EQ(RiskDatabasePath("anyone"),
              ProgramFolder() + "/Users/SingleUser/FileExtensionsInfo.txt");
    EXPECT_TRUE(fs::is_directory(ProgramFolder() + "/Users/SingleUser"));
}

}  // namespace
}  // namespace gatemoor
