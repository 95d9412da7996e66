// The utility module's system routines: threads and handles, bits, the environment,
// the module's random numbers, and what the module does when the program starts and
// ends. Addresses and lookups are in VornUtilNet.h, processes in VornUtilProcess.h, the
// progress hook in VornUtilProgress.h and the stack-overflow hook in
// foundation/StackOverflowHook.h; this header brings them all in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/StackOverflowHook.h"
#include "screening/VornUtilNet.h"
#include "screening/VornUtilProcess.h"
#include "screening/VornUtilProgress.h"

namespace gatemoor {

// True on the thread that started the program.
[[nodiscard]] bool IsMainThread();

// On the main thread: handles the events waiting for the application and answers true.
// Elsewhere: false.
bool ProcessMessagesInMainThread();

// A file descriptor as the platform's handle: false for 0 and -1, else true when the
// descriptor is open.
[[nodiscard]] bool IsValidHandle(std::intptr_t handle);

// Bits 0 to 7 of a byte; a bit number outside 0 to 7 tests false and changes nothing.
[[nodiscard]] bool TestBit(std::uint8_t byte, int bit);
void SetBit(std::uint8_t& byte, int bit);
void ClearBit(std::uint8_t& byte, int bit);

[[nodiscard]] constexpr std::uint16_t SwapBytes16(std::uint16_t value) {
    return static_cast<std::uint16_t>((value << 8) | (value >> 8));
}

// The variable's value, of any length; empty when it is not set.
[[nodiscard]] std::string EnvironmentVariable(std::string_view name);

// The operating system's folder of shared system libraries (where the C library was
// loaded from), without a trailing slash.
[[nodiscard]] std::string SystemFolder();

// The full path of a loaded module (a dlopen handle); nullptr gives the executable.
// Empty when unknown.
[[nodiscard]] std::string ModuleFileName(void* module);

// Seeds the module's random number generator from the clock and the system's random
// source; the generator also seeds itself when first used.
void SeedRandomGenerator();
// A number from 0 to limit - 1 (0 when limit < 2). Any thread may call it.
[[nodiscard]] int RandomNumber(int limit);

// The help viewer started for the main window's help (0 while none was started); the
// module end closes it.
void SetHelpViewerProcessId(ProcessId processId);
[[nodiscard]] ProcessId HelpViewerProcessId();

// Module start, once per process before the main window exists: the application title
// "Gatemoor", the stack-overflow hook, the random seed, empty host caches.
void VornUtilModuleStart();
// Module end: closes a help viewer that still runs, waiting up to 2000 ms.
void VornUtilModuleEnd();

}  // namespace gatemoor
