#include "screening/VornUtilSystem.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gnu/libc-version.h>
#include <link.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>

#include "foundation/Application.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

constexpr int kHelpViewerCloseWaitMs = 2000;

std::mutex gRandomMutex;
std::mt19937_64 gRandomEngine;
bool gRandomSeeded = false;
std::atomic<ProcessId> gHelpViewer{0};

void SeedLocked() {
    // The clock alone repeats between programs started in the same tick; the system's
    // random source keeps them apart.
    std::uint32_t entropy[4] = {};
    platform::RandomBytes(entropy, sizeof entropy);
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::seed_seq seed{static_cast<std::uint32_t>(now),
                       static_cast<std::uint32_t>(now >> 32),
                       static_cast<std::uint32_t>(ticks),
                       entropy[0],
                       entropy[1],
                       entropy[2],
                       entropy[3]};
    gRandomEngine.seed(seed);
    gRandomSeeded = true;
}

std::string ExecutablePath() {
    std::error_code error;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace

bool IsMainThread() {
    return platform::IsMainThread();
}

bool ProcessMessagesInMainThread() {
    if (!platform::IsMainThread()) return false;
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
    return true;
}

bool IsValidHandle(std::intptr_t handle) {
    if (handle == 0 || handle == -1 || handle < 0 || handle > INT_MAX) return false;
    return ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
}

bool TestBit(std::uint8_t byte, int bit) {
    return bit >= 0 && bit < 8 && (byte >> bit) & 1;
}

void SetBit(std::uint8_t& byte, int bit) {
    if (bit >= 0 && bit < 8) byte = static_cast<std::uint8_t>(byte | (1u << bit));
}

void ClearBit(std::uint8_t& byte, int bit) {
    if (bit >= 0 && bit < 8) byte = static_cast<std::uint8_t>(byte & ~(1u << bit));
}

std::string EnvironmentVariable(std::string_view name) {
    const std::string key(name);
    if (key.empty() || key.find('\0') != std::string::npos) return {};
    const char* value = std::getenv(key.c_str());
    return value ? std::string(value) : std::string();
}

std::string SystemFolder() {
    static const std::string folder = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&::gnu_get_libc_version), &info) != 0 &&
            info.dli_fname && *info.dli_fname) {
            std::error_code error;
            const auto library = std::filesystem::canonical(info.dli_fname, error);
            if (!error && library.has_parent_path()) return library.parent_path().string();
        }
        return std::string("/usr/lib");
    }();
    return folder;
}

std::string ModuleFileName(void* module) {
    if (!module) return ExecutablePath();
    link_map* map = nullptr;
    if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
    // The executable's own entry has no name of its own.
    if (!map->l_name || !*map->l_name) return ExecutablePath();
    return map->l_name;
}

void SeedRandomGenerator() {
    std::lock_guard lock(gRandomMutex);
    SeedLocked();
}

int RandomNumber(int limit) {
    if (limit < 2) return 0;
    std::lock_guard lock(gRandomMutex);
    if (!gRandomSeeded) SeedLocked();
    return std::uniform_int_distribution<int>(0, limit - 1)(gRandomEngine);
}

void SetHelpViewerProcessId(ProcessId processId) {
    gHelpViewer.store(processId);
}

ProcessId HelpViewerProcessId() {
    return gHelpViewer.load();
}

void VornUtilModuleStart() {
    SetApplicationTitle("Gatemoor");
    InstallStackOverflowHook();
    SeedRandomGenerator();
    ClearHostCaches();
}

void VornUtilModuleEnd() {
    // Lookups still running when the program ends own their answers and need no help.
    const ProcessId viewer = gHelpViewer.exchange(0);
    if (viewer != 0 && IsProcessRunning(viewer)) CloseProcess(viewer, kHelpViewerCloseWaitMs);
}

}  // namespace gatemoor
