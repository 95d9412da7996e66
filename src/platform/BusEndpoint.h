// The receiving side of the window bus: a window that registers under its class and
// title, collects incoming messages in its queue and dispatches them on the thread that
// created it (the main thread) through the Qt event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/WindowBus.h"

namespace gatemoor::platform {

class BusEndpoint {
public:
    // The handler's result is the answer to a SendMessage; posted messages ignore it.
    using Handler = std::function<std::int64_t(const BusMessage&)>;

    // Registers at once; IsRegistered() tells whether that worked.
    BusEndpoint(std::string className, std::string title, Handler handler);
    ~BusEndpoint();  // unregisters; messages still queued are dropped
    BusEndpoint(const BusEndpoint&) = delete;
    BusEndpoint& operator=(const BusEndpoint&) = delete;

    [[nodiscard]] bool IsRegistered() const;
    [[nodiscard]] const std::string& ErrorText() const;
    [[nodiscard]] const BusWindow& Window() const;

    // Looks into the own queue (after taking in whatever has arrived) for the first
    // message with a number in [first, last] (both 0: any message); removes it when
    // asked. A removed sent message is answered with 0.
    std::optional<BusMessage> PeekMessage(std::uint32_t first, std::uint32_t last, bool remove);

    // Takes in what has arrived and dispatches the whole queue now (normally the event
    // loop does this by itself).
    void DispatchPending();

    // Number of messages waiting in the queue (after taking in what has arrived).
    [[nodiscard]] std::size_t PendingCount();

    // Runs the handler at once; the bus uses it for SendMessage from the own thread.
    std::int64_t DispatchDirect(const BusMessage& message);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace gatemoor::platform
