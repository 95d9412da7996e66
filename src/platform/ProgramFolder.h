// The program folder: where Gatemoor keeps its database, logs, reports and messages.
#pragma once

#include <string>

namespace gatemoor::platform {

// GATEMOOR_HOME when set; else the executable's folder when it is writable (build tree,
// portable copy); else the per-user data folder ($XDG_DATA_HOME/Gatemoor or
// ~/.local/share/Gatemoor). No trailing slash. Computed once, then cached.
[[nodiscard]] std::string ProgramFolder();

// Replaces the cached program folder (tests, and the command line's --home).
// An empty path drops the cache so that the next call computes it afresh.
void OverrideProgramFolder(const std::string& path);

// Folder of the running executable, without a trailing slash; empty when unknown.
[[nodiscard]] std::string ExecutableFolder();

// Creates the folder and its parents when missing. True when it exists afterwards.
bool EnsureFolder(const std::string& path);

}  // namespace gatemoor::platform
