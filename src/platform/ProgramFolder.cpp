#include "platform/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace gatemoor::platform {
namespace {

std::mutex gMutex;
std::string gCached;

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string UserDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg) return WithoutTrailingSlash(xdg) + "/Gatemoor";
    const char* home = std::getenv("HOME");
    std::string base = (home && *home) ? WithoutTrailingSlash(home) : std::string("/tmp");
    return base + "/.local/share/Gatemoor";
}

std::string ComputeProgramFolder() {
    const char* env = std::getenv("GATEMOOR_HOME");
    if (env && *env) return WithoutTrailingSlash(env);
    std::string exeFolder = ExecutableFolder();
    if (!exeFolder.empty() && ::access(exeFolder.c_str(), W_OK) == 0) return exeFolder;
    return UserDataFolder();
}

}  // namespace

std::string ExecutableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return WithoutTrailingSlash(exe.parent_path().string());
}

std::string ProgramFolder() {
    std::lock_guard lock(gMutex);
    if (gCached.empty()) gCached = ComputeProgramFolder();
    return gCached;
}

void OverrideProgramFolder(const std::string& path) {
    std::lock_guard lock(gMutex);
    gCached = path.empty() ? std::string() : WithoutTrailingSlash(path);
}

bool EnsureFolder(const std::string& path) {
    // Asked for every file the screening writes: one stat when the folder is there,
    // which it nearly always is.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

}  // namespace gatemoor::platform
