#include "platform/WindowBus.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace gatemoor::platform {
namespace {

using bus_internal::Frame;

// How long a post may wait for room in a full queue before it is dropped. A window
// whose queue stays full gets later posts dropped at once until it drains.
constexpr int kPostRoomWaitMs = 200;

std::atomic<bus_internal::LocalSendHandler> gLocalSend{nullptr};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool ProcessAlive(std::uint32_t pid) {
    if (pid == 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int ConnectTo(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return -1;
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r > 0 && (p.revents & events);
    }
}

Frame MakeFrame(std::uint32_t kind, std::uint32_t message, std::uint64_t wParam,
                std::int64_t lParam) {
    return Frame{bus_internal::kMagic,
                 kind,
                 message,
                 static_cast<std::uint32_t>(::getpid()),
                 wParam,
                 lParam};
}

// Connections for posting, kept open so that the posts of one sender arrive in order.
class PostConnections {
public:
    bool Post(const std::string& path, const Frame* frames, std::size_t count) {
        const std::size_t bytes = count * sizeof(Frame);
        std::lock_guard lock(mutex_);
        for (int attempt = 0; attempt < 2; ++attempt) {
            Entry& entry = entries_[path];
            if (entry.fd < 0) entry = Entry{ConnectTo(path), false};
            if (entry.fd < 0) {
                entries_.erase(path);
                return false;
            }
            ssize_t sent = ::send(entry.fd, frames, bytes, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent == static_cast<ssize_t>(bytes)) {
                entry.congested = false;
                return true;
            }
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!entry.congested && WaitFor(entry.fd, POLLOUT, kPostRoomWaitMs) &&
                    ::send(entry.fd, frames, bytes, MSG_NOSIGNAL | MSG_DONTWAIT) ==
                        static_cast<ssize_t>(bytes))
                    return true;
                entry.congested = true;
                return false;
            }
            // The window went away (or was re-registered): reconnect once.
            ::close(entry.fd);
            entries_.erase(path);
        }
        return false;
    }

private:
    struct Entry {
        int fd = -1;
        bool congested = false;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

PostConnections& Posts() {
    static auto* connections = new PostConnections;  // outlives every static destructor
    return *connections;
}

std::optional<BusWindow> ReadDescriptor(const std::string& folder, const std::string& file) {
    std::ifstream in(folder + "/" + file);
    if (!in) return std::nullopt;
    BusWindow window;
    std::string pid;
    if (!std::getline(in, window.className) || !std::getline(in, window.title) ||
        !std::getline(in, pid))
        return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(pid.c_str(), &end, 10);
    if (end == pid.c_str()) return std::nullopt;
    window.processId = static_cast<std::uint32_t>(value);
    window.endpointPath = folder + "/" + file.substr(0, file.size() - 4) + ".sock";
    return window;
}

}  // namespace

std::string WindowBusFolder() {
    std::string folder;
    if (const char* env = std::getenv("GATEMOOR_BUS_DIR"); env && *env) {
        folder = env;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        folder = std::string(runtime) + "/gatemoor-bus";
    } else {
        folder = "/tmp/gatemoor-" + std::to_string(::getuid());
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return folder;
    return folder;
}

std::vector<BusWindow> ListWindows() {
    const std::string folder = WindowBusFolder();
    std::vector<std::pair<std::int64_t, BusWindow>> found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* item = ::readdir(dir)) {
            std::string name = item->d_name;
            if (name.size() < 5 || name.compare(name.size() - 4, 4, ".win") != 0) continue;
            auto window = ReadDescriptor(folder, name);
            if (!window) continue;
            if (!ProcessAlive(window->processId)) {
                ::unlink((folder + "/" + name).c_str());
                ::unlink(window->endpointPath.c_str());
                continue;
            }
            struct stat info {};
            std::int64_t stamp = 0;
            if (::stat((folder + "/" + name).c_str(), &info) == 0)
                stamp = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                        info.st_mtim.tv_nsec;
            found.emplace_back(stamp, std::move(*window));
        }
        ::closedir(dir);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<BusWindow> windows;
    for (auto& entry : found)
        windows.push_back(std::move(entry.second));
    return windows;
}

std::optional<BusWindow> FindWindow(std::string_view className, std::string_view title) {
    for (auto& window : ListWindows()) {
        if (!EqualsIgnoringCase(window.className, className)) continue;
        if (!title.empty() && !EqualsIgnoringCase(window.title, title)) continue;
        return window;
    }
    return std::nullopt;
}

std::vector<BusWindow> WindowsOfProcess(std::uint32_t processId) {
    std::vector<BusWindow> result;
    for (auto& window : ListWindows())
        if (window.processId == processId) result.push_back(std::move(window));
    return result;
}

bool PostMessage(const BusWindow& window, std::uint32_t message, std::uint64_t wParam,
                 std::int64_t lParam) {
    const Frame frame = MakeFrame(bus_internal::kKindPost, message, wParam, lParam);
    return Posts().Post(window.endpointPath, &frame, 1);
}

bool PostMessages(const BusWindow& window, std::span<const PostItem> items) {
    std::vector<Frame> frames;
    frames.reserve(std::min(items.size(), bus_internal::kMaxFramesPerPacket));
    bool delivered = true;
    for (std::size_t start = 0; start < items.size(); start += bus_internal::kMaxFramesPerPacket) {
        frames.clear();
        const std::size_t end = std::min(items.size(), start + bus_internal::kMaxFramesPerPacket);
        for (std::size_t i = start; i < end; ++i)
            frames.push_back(MakeFrame(bus_internal::kKindPost, items[i].message, items[i].wParam,
                                       items[i].lParam));
        delivered = Posts().Post(window.endpointPath, frames.data(), frames.size()) && delivered;
    }
    return delivered;
}

std::optional<std::int64_t> SendMessage(const BusWindow& window, std::uint32_t message,
                                        std::uint64_t wParam, std::int64_t lParam, int timeoutMs) {
    if (window.processId == static_cast<std::uint32_t>(::getpid())) {
        if (auto local = gLocalSend.load()) {
            BusMessage direct{message, wParam, lParam, window.processId, true};
            if (auto result = local(window.endpointPath, direct)) return result;
        }
    }
    int fd = ConnectTo(window.endpointPath);
    if (fd < 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto remainingMs = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::int64_t>(0, left.count()));
    };
    std::optional<std::int64_t> result;
    Frame frame = MakeFrame(bus_internal::kKindSend, message, wParam, lParam);
    bool sent = false;
    while (!sent) {
        ssize_t n = ::send(fd, &frame, sizeof frame, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(sizeof frame)) {
            sent = true;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, remainingMs())) break;
        } else {
            break;
        }
    }
    if (sent && WaitFor(fd, POLLIN, remainingMs())) {
        std::int64_t reply = 0;
        if (::recv(fd, &reply, sizeof reply, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof reply))
            result = reply;
    }
    ::close(fd);
    return result;
}

namespace bus_internal {
void SetLocalSendHandler(LocalSendHandler handler) {
    gLocalSend.store(handler);
}
}  // namespace bus_internal

}  // namespace gatemoor::platform
