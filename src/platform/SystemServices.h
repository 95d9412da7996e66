// Small services of the operating system that the foundation needs: thread identity,
// thread processor time, the local zone offset, the beep, and the application's
// quit request and idle hook.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>

namespace gatemoor::platform {

// Kernel id of the calling thread (the id that logs and transcripts show).
[[nodiscard]] std::uint32_t CurrentThreadId();
[[nodiscard]] std::uint32_t CurrentProcessId();
// True on the thread that started the process, which runs the event loop.
[[nodiscard]] bool IsMainThread();

// Kernel plus user time of the calling thread in 100-nanosecond units.
[[nodiscard]] std::uint64_t ThreadCpuTime100ns();

// Offset of local time from universal time in minutes (east positive) at the given
// moment, daylight saving included; 0 when the zone cannot be read.
[[nodiscard]] int LocalZoneOffsetMinutes(std::time_t at);
[[nodiscard]] int LocalZoneOffsetMinutes();

// The platform's plain message beep. Tests replace the sound with a counter.
void Beep();
void SetBeepHandler(std::function<void()> handler);  // empty restores the real beep

// Asks the application's event loop to end in order; does nothing without one.
void RequestApplicationQuit();

// The application idle hook: called each time the main event loop is about to wait
// for events. The handler is connected once an event loop exists on the main thread.
using IdleHandler = std::function<void()>;
IdleHandler SetApplicationIdleHandler(IdleHandler handler);  // returns the previous one
// Connects the stored idle handler to the main thread's event dispatcher; call once
// after the application object exists (calling it again is harmless).
void ConnectIdleHandlerToEventLoop();

// Fills `out` with `count` bytes from the operating system's random source.
void RandomBytes(void* out, std::size_t count);

}  // namespace gatemoor::platform
