#include "screening/VornUtilFolders.h"

#include "platform/ProgramFolder.h"

namespace gatemoor {
namespace {

constexpr const char* kRiskDatabaseName = "FileExtensionsInfo.txt";

std::string Below(const std::string& parent, const char* name) {
    std::string folder = parent + "/" + name;
    // A folder that cannot be made still has its path; writing there will tell.
    platform::EnsureFolder(folder);
    return folder;
}

}  // namespace

// Single-user mode: the name is not part of the path.
std::string UserFolder(std::string_view) {
    return Below(ProgramFolder(), "Users/SingleUser");
}

std::string ReportsFolder(std::string_view user) {
    return Below(UserFolder(user), "Reports");
}
std::string PartialsFolder(std::string_view user) {
    return Below(UserFolder(user), "Partials");
}
std::string MessagesFolder(std::string_view user) {
    return Below(UserFolder(user), "Messages");
}

std::string UnprocessedIncomingFolder(std::string_view user) {
    return Below(MessagesFolder(user), "UnProcessedIncoming");
}
std::string ProcessedIncomingFolder(std::string_view user) {
    return Below(MessagesFolder(user), "ProcessedIncoming");
}
std::string UnprocessedOutgoingFolder(std::string_view user) {
    return Below(MessagesFolder(user), "UnprocessedOutGoing");
}
std::string ProcessedOutgoingFolder(std::string_view user) {
    return Below(MessagesFolder(user), "ProcessedOutGoing");
}
std::string PurgatoryFolder(std::string_view user) {
    return Below(MessagesFolder(user), "Purgatory");
}
std::string TrashFolder(std::string_view user) {
    return Below(MessagesFolder(user), "Trash");
}
std::string BackupsFolder(std::string_view user) {
    return Below(MessagesFolder(user), "Backups");
}

std::string ImagesFolder() {
    return Below(ProgramFolder(), "Images");
}
std::string EmailInfoFolder() {
    return Below(ProgramFolder(), "EmailInfo");
}

std::string RiskDatabasePath(std::string_view name) {
    const std::string folder = name == "Global" ? ProgramFolder() : UserFolder(name);
    return folder + "/" + kRiskDatabaseName;
}

}  // namespace gatemoor
