#include "screening/VornUtilFolders.h"

#include "platform/ProgramFolder.h"

namespace gatemoor {
namespace {

constexpr const char* kRiskDatabaseName = "FileExtensionsInfo.txt";

// Paths only: a folder is made sure of once, at the end of its path, since making it
// makes every folder above it and a folder that is there has them all.
std::string UserPath() {
    return ProgramFolder() + "/Users/SingleUser";
}
std::string MessagesPath() {
    return UserPath() + "/Messages";
}

std::string Ensured(std::string folder) {
    // A folder that cannot be made still has its path; writing there will tell.
    platform::EnsureFolder(folder);
    return folder;
}

}  // namespace

// Single-user mode: the name is not part of the path.
std::string UserFolder(std::string_view) {
    return Ensured(UserPath());
}

std::string ReportsFolder(std::string_view) {
    return Ensured(UserPath() + "/Reports");
}
std::string PartialsFolder(std::string_view) {
    return Ensured(UserPath() + "/Partials");
}
std::string MessagesFolder(std::string_view) {
    return Ensured(MessagesPath());
}

std::string UnprocessedIncomingFolder(std::string_view) {
    return Ensured(MessagesPath() + "/UnProcessedIncoming");
}
std::string ProcessedIncomingFolder(std::string_view) {
    return Ensured(MessagesPath() + "/ProcessedIncoming");
}
std::string UnprocessedOutgoingFolder(std::string_view) {
    return Ensured(MessagesPath() + "/UnprocessedOutGoing");
}
std::string ProcessedOutgoingFolder(std::string_view) {
    return Ensured(MessagesPath() + "/ProcessedOutGoing");
}
std::string PurgatoryFolder(std::string_view) {
    return Ensured(MessagesPath() + "/Purgatory");
}
std::string TrashFolder(std::string_view) {
    return Ensured(MessagesPath() + "/Trash");
}
std::string BackupsFolder(std::string_view) {
    return Ensured(MessagesPath() + "/Backups");
}

std::string ImagesFolder() {
    return Ensured(ProgramFolder() + "/Images");
}
std::string EmailInfoFolder() {
    return Ensured(ProgramFolder() + "/EmailInfo");
}

std::string RiskDatabasePath(std::string_view name) {
    const std::string folder = name == "Global" ? ProgramFolder() : UserFolder(name);
    return folder + "/" + kRiskDatabaseName;
}

}  // namespace gatemoor
