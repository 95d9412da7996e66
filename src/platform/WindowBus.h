// The window bus: how Gatemoor's processes reach each other's windows. A window that
// others must find registers an endpoint under its window class and title (see
// BusEndpoint.h); any process of the same user can then find it and post or send it
// messages. This half is plain POSIX so that the preloaded redirection library can use
// it inside foreign programs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor::platform {

inline constexpr std::uint32_t kWmUser = 0x400;
inline constexpr std::uint32_t kWmClose = 0x0010;

struct BusMessage {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
    std::uint32_t senderProcessId = 0;
    bool isSent = false;  // SendMessage: the sender waits for the handler's result
};

// A registered window as found on the bus.
struct BusWindow {
    std::string endpointPath;  // the endpoint's socket
    std::string className;
    std::string title;
    std::uint32_t processId = 0;
};

// Folder of the endpoints: $XDG_RUNTIME_DIR/gatemoor-bus, else /tmp/gatemoor-<uid>;
// created with mode 0700 when missing. GATEMOOR_BUS_DIR overrides it (tests).
[[nodiscard]] std::string WindowBusFolder();

// Every live window on the bus, newest registration first. Endpoints whose process has
// ended are removed on the way.
[[nodiscard]] std::vector<BusWindow> ListWindows();

// The newest live window of that class (compared ignoring case) whose title matches,
// ignoring case; an empty title matches any.
[[nodiscard]] std::optional<BusWindow> FindWindow(std::string_view className,
                                                  std::string_view title = {});

// The windows registered by one process.
[[nodiscard]] std::vector<BusWindow> WindowsOfProcess(std::uint32_t processId);

// Queues a message for the window without waiting for it to be handled. False when it
// could not be delivered (no such window, or its queue stays full).
bool PostMessage(const BusWindow& window, std::uint32_t message, std::uint64_t wParam,
                 std::int64_t lParam);

// One message of a burst.
struct PostItem {
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;
};

// Queues a burst of messages that arrive together and in order: one packet on the wire,
// so a burst never overflows the window's queue half-way. False when it could not be
// delivered.
bool PostMessages(const BusWindow& window, std::span<const PostItem> items);

// Delivers a message and waits up to timeoutMs for the handler's result; nullopt on
// time-out or when the window is gone.
[[nodiscard]] std::optional<std::int64_t> SendMessage(const BusWindow& window,
                                                      std::uint32_t message, std::uint64_t wParam,
                                                      std::int64_t lParam, int timeoutMs);

namespace bus_internal {
// Wire frame of one message; both directions use SOCK_SEQPACKET, one frame a packet.
struct Frame {
    std::uint32_t magic;
    std::uint32_t kind;
    std::uint32_t message;
    std::uint32_t senderProcessId;
    std::uint64_t wParam;
    std::int64_t lParam;
};
inline constexpr std::uint32_t kMagic = 0x31424D47;  // "GMB1"
inline constexpr std::uint32_t kKindPost = 1;
inline constexpr std::uint32_t kKindSend = 2;
// Largest burst carried in one packet; longer bursts take several.
inline constexpr std::size_t kMaxFramesPerPacket = 2048;

// An endpoint of this process answers SendMessage calls from its own thread directly,
// since that thread cannot wait for itself.
using LocalSendHandler = std::optional<std::int64_t> (*)(const std::string& endpointPath,
                                                         const BusMessage& message);
void SetLocalSendHandler(LocalSendHandler handler);
}  // namespace bus_internal

}  // namespace gatemoor::platform
