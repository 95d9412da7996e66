// A private program folder for a fuzz target: messages that save themselves, backups,
// reports and information records land there, never in the user's folders.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "platform/ProgramFolder.h"

namespace fuzz {

// Makes /tmp/fuzz-<name>-XXXXXX and points the program folder and TMPDIR at it.
inline std::string UsePrivateProgramFolder(const std::string& name) {
    std::string folder = "/tmp/fuzz-" + name + "-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) std::abort();
    ::setenv("GATEMOOR_HOME", folder.c_str(), 1);
    ::setenv("TMPDIR", folder.c_str(), 1);
    gatemoor::platform::OverrideProgramFolder(folder);
    return folder;
}

}  // namespace fuzz
