#include "platform/BusEndpoint.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace gatemoor::platform {
namespace {

using bus_internal::Frame;

// One accepted connection. Sent messages keep a reference so that the answer goes
// back on the connection they came from, even after it has been dropped by the peer.
struct Connection {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Connection() {
        notifier.reset();
        if (fd >= 0) ::close(fd);
    }
};

struct Queued {
    BusMessage message;
    std::shared_ptr<Connection> replyTo;  // set for sent messages
};

std::mutex gRegistryMutex;
std::map<std::string, BusEndpoint*>& LocalEndpoints() {
    static std::map<std::string, BusEndpoint*> endpoints;
    return endpoints;
}
std::atomic<unsigned> gSerial{0};

void Reply(const std::shared_ptr<Connection>& connection, std::int64_t result) {
    if (connection && connection->fd >= 0)
        (void)::send(connection->fd, &result, sizeof result, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

struct BusEndpoint::Impl {
    BusEndpoint* owner = nullptr;
    Handler handler;
    BusWindow window;
    std::string descriptorPath;
    std::string error;
    int listenFd = -1;
    std::unique_ptr<QSocketNotifier> listenNotifier;
    std::map<int, std::shared_ptr<Connection>> connections;
    std::deque<Queued> queue;
    bool dispatchScheduled = false;
    std::vector<Frame> readBuffer = std::vector<Frame>(bus_internal::kMaxFramesPerPacket);
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);

    bool Register(const std::string& className, const std::string& title) {
        const std::string folder = WindowBusFolder();
        const std::string base = folder + "/w" + std::to_string(::getpid()) + "-" +
                                 std::to_string(gSerial.fetch_add(1) + 1);
        window =
            BusWindow{base + ".sock", className, title, static_cast<std::uint32_t>(::getpid())};
        sockaddr_un address{};
        if (window.endpointPath.size() >= sizeof(address.sun_path)) {
            error = "bus folder path too long: " + folder;
            return false;
        }
        listenFd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (listenFd < 0) return Fail("socket");
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, window.endpointPath.c_str(), window.endpointPath.size() + 1);
        ::unlink(window.endpointPath.c_str());
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return Fail("bind " + window.endpointPath);
        if (::listen(listenFd, 64) != 0) return Fail("listen");
        // The descriptor appears last and atomically: whoever finds it can connect.
        descriptorPath = base + ".win";
        const std::string temporary = base + ".tmp";
        FILE* file = std::fopen(temporary.c_str(), "w");
        if (!file) return Fail("create " + temporary);
        std::fprintf(file, "%s\n%s\n%u\n", className.c_str(), title.c_str(), window.processId);
        if (std::fclose(file) != 0 || std::rename(temporary.c_str(), descriptorPath.c_str()) != 0)
            return Fail("write " + descriptorPath);
        listenNotifier = std::make_unique<QSocketNotifier>(listenFd, QSocketNotifier::Read);
        QObject::connect(listenNotifier.get(), &QSocketNotifier::activated,
                         [this] { AcceptAll(); });
        return true;
    }

    bool Fail(const std::string& what) {
        error = what + ": " + std::strerror(errno);
        return false;
    }

    void AcceptAll() {
        for (;;) {
            int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) break;
            auto connection = std::make_shared<Connection>();
            connection->fd = fd;
            connection->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(connection->notifier.get(), &QSocketNotifier::activated, [this, fd] {
                ReadConnection(fd);
                ScheduleDispatch();
            });
            connections[fd] = std::move(connection);
            ReadConnection(fd);
        }
        ScheduleDispatch();
    }

    // Moves every frame that has arrived on one connection into the queue.
    void ReadConnection(int fd) {
        auto it = connections.find(fd);
        if (it == connections.end()) return;
        std::shared_ptr<Connection> connection = it->second;
        std::vector<Frame>& packet = readBuffer;
        const std::size_t capacity = packet.size() * sizeof(Frame);
        for (;;) {
            ssize_t n = ::recv(fd, packet.data(), capacity, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) {  // peer closed or failed
                connection->notifier.reset();
                ::close(connection->fd);
                connection->fd = -1;
                connections.erase(fd);
                return;
            }
            if (n % static_cast<ssize_t>(sizeof(Frame)) != 0) continue;  // not ours: ignore it
            for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(Frame); ++i) {
                const Frame& frame = packet[i];
                if (frame.magic != bus_internal::kMagic) continue;
                Queued item;
                item.message =
                    BusMessage{frame.message, frame.wParam, frame.lParam, frame.senderProcessId,
                               frame.kind == bus_internal::kKindSend};
                if (item.message.isSent) item.replyTo = connection;
                queue.push_back(std::move(item));
            }
        }
    }

    void TakeInArrived() {
        AcceptAll();
        std::vector<int> fds;
        for (auto& [fd, connection] : connections)
            fds.push_back(fd);
        for (int fd : fds)
            ReadConnection(fd);
    }

    void ScheduleDispatch() {
        if (dispatchScheduled || queue.empty()) return;
        auto* app = QCoreApplication::instance();
        if (!app) return;
        dispatchScheduled = true;
        std::weak_ptr<bool> guard = alive;
        QMetaObject::invokeMethod(
            app,
            [this, guard] {
                if (guard.expired()) return;
                dispatchScheduled = false;
                DispatchQueue();
            },
            Qt::QueuedConnection);
    }

    // A handler may run a nested event loop; taking each item off the queue before
    // calling it keeps nested dispatches from handling it twice.
    void DispatchQueue() {
        std::weak_ptr<bool> guard = alive;
        while (!queue.empty()) {
            Queued item = std::move(queue.front());
            queue.pop_front();
            std::int64_t result = handler ? handler(item.message) : 0;
            if (guard.expired()) return;  // the handler destroyed its own endpoint
            if (item.message.isSent) Reply(item.replyTo, result);
        }
    }

    void Unregister() {
        listenNotifier.reset();
        connections.clear();
        if (listenFd >= 0) ::close(listenFd);
        listenFd = -1;
        if (!descriptorPath.empty()) ::unlink(descriptorPath.c_str());
        if (!window.endpointPath.empty()) ::unlink(window.endpointPath.c_str());
    }
};

namespace {

std::optional<std::int64_t> HandleLocalSend(const std::string& path, const BusMessage& message) {
    BusEndpoint* endpoint = nullptr;
    {
        std::lock_guard lock(gRegistryMutex);
        auto it = LocalEndpoints().find(path);
        if (it == LocalEndpoints().end()) return std::nullopt;
        endpoint = it->second;
    }
    // Only the endpoint's own thread may call straight in; others go through the socket.
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return std::nullopt;
    return endpoint->DispatchDirect(message);
}

}  // namespace

BusEndpoint::BusEndpoint(std::string className, std::string title, Handler handler)
    : impl_(std::make_unique<Impl>()) {
    impl_->owner = this;
    impl_->handler = std::move(handler);
    if (impl_->Register(className, title)) {
        std::lock_guard lock(gRegistryMutex);
        LocalEndpoints()[impl_->window.endpointPath] = this;
        bus_internal::SetLocalSendHandler(&HandleLocalSend);
    } else {
        impl_->Unregister();
    }
}

BusEndpoint::~BusEndpoint() {
    {
        std::lock_guard lock(gRegistryMutex);
        LocalEndpoints().erase(impl_->window.endpointPath);
    }
    impl_->alive.reset();
    impl_->Unregister();
}

bool BusEndpoint::IsRegistered() const {
    return impl_->listenFd >= 0;
}
const std::string& BusEndpoint::ErrorText() const {
    return impl_->error;
}
const BusWindow& BusEndpoint::Window() const {
    return impl_->window;
}

std::optional<BusMessage> BusEndpoint::PeekMessage(std::uint32_t first, std::uint32_t last,
                                                   bool remove) {
    impl_->TakeInArrived();
    auto& queue = impl_->queue;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        const bool any = first == 0 && last == 0;
        if (!any && (it->message.message < first || it->message.message > last)) continue;
        BusMessage found = it->message;
        if (remove) {
            if (found.isSent) Reply(it->replyTo, 0);
            queue.erase(it);
        }
        return found;
    }
    return std::nullopt;
}

void BusEndpoint::DispatchPending() {
    impl_->TakeInArrived();
    impl_->DispatchQueue();
}

std::size_t BusEndpoint::PendingCount() {
    impl_->TakeInArrived();
    return impl_->queue.size();
}

std::int64_t BusEndpoint::DispatchDirect(const BusMessage& message) {
    return impl_->handler ? impl_->handler(message) : 0;
}

}  // namespace gatemoor::platform
