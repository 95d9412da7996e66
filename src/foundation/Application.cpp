#include "foundation/Application.h"

#include <mutex>

#include "platform/ProgramFolder.h"

namespace gatemoor {
namespace {

std::mutex gMutex;
std::string gTitle = "Gatemoor";

}  // namespace

std::string ApplicationTitle() {
    std::lock_guard lock(gMutex);
    return gTitle;
}

void SetApplicationTitle(const std::string& title) {
    std::lock_guard lock(gMutex);
    gTitle = title;
}

std::string ProgramFolder() {
    std::string folder = platform::ProgramFolder();
    platform::EnsureFolder(folder);
    return folder;
}

// Not cached: the program folder is itself cached, and tests move it.
std::string LogFolder() {
    std::string folder = platform::ProgramFolder() + "/Log";
    platform::EnsureFolder(folder);
    return folder;
}

}  // namespace gatemoor
