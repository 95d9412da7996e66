// Where the message store keeps its files. P is the program folder, U the user folder
// P/Users/SingleUser: the system runs for a single user, so every user name that a caller
// passes gives the same folders. Each operation creates its folder, with its parents,
// when it is missing, and answers the path without a trailing slash.
#pragma once

#include <string>
#include <string_view>

#include "foundation/Application.h"  // ProgramFolder(), LogFolder()

namespace gatemoor {

[[nodiscard]] std::string UserFolder(std::string_view user = {});      // U
[[nodiscard]] std::string ReportsFolder(std::string_view user = {});   // U/Reports
[[nodiscard]] std::string PartialsFolder(std::string_view user = {});  // U/Partials
[[nodiscard]] std::string MessagesFolder(std::string_view user = {});  // U/Messages

// The message repository's six folders below U/Messages: UnProcessedIncoming,
// ProcessedIncoming, UnprocessedOutGoing, ProcessedOutGoing, Purgatory and Trash.
[[nodiscard]] std::string UnprocessedIncomingFolder(std::string_view user = {});
[[nodiscard]] std::string ProcessedIncomingFolder(std::string_view user = {});
[[nodiscard]] std::string UnprocessedOutgoingFolder(std::string_view user = {});
[[nodiscard]] std::string ProcessedOutgoingFolder(std::string_view user = {});
[[nodiscard]] std::string PurgatoryFolder(std::string_view user = {});
[[nodiscard]] std::string TrashFolder(std::string_view user = {});

[[nodiscard]] std::string BackupsFolder(std::string_view user = {});  // U/Messages/Backups
[[nodiscard]] std::string ImagesFolder();                             // P/Images
[[nodiscard]] std::string EmailInfoFolder();                          // P/EmailInfo

// The risk database file: "Global" gives P/FileExtensionsInfo.txt, any other name
// U/FileExtensionsInfo.txt (the program only ever uses the first). Creates its folder.
[[nodiscard]] std::string RiskDatabasePath(std::string_view name);

}  // namespace gatemoor
