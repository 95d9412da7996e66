// IPv4 address text, host-name lookups with a time limit and their two caches, and the
// query text of the report service's links.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

// An IPv4 address in network byte order: its first byte in memory is the first number
// of the dotted text.
using IpAddress = std::uint32_t;

// The dotted text of the four bytes in decimal, first byte first ("192.168.1.10").
[[nodiscard]] std::string AddressToText(IpAddress address);

// The address of a classic dotted text, or 0 when the text is not one. One to four
// pieces split at ".", a trailing dot dropped; each piece hexadecimal after "0x" (its
// last eight digits count), octal after a leading 0, else decimal. Four pieces are four
// bytes; with three the last fills two bytes, with two the last fills three, and a
// single piece is the whole 32-bit value. A piece out of its range gives 0.
[[nodiscard]] IpAddress TextToAddress(std::string_view text);

// True when TextToAddress can read the text (so "0.0.0.0" is a dotted address).
[[nodiscard]] bool IsDottedAddress(std::string_view text);

// 127.a.b.c with a, b and c each drawn at random from 0 to 254.
[[nodiscard]] IpAddress RandomLoopbackAddress();

// Clears `list`, then adds every piece of `text` before an "&", URL-decoded, empty
// pieces included, and the piece after the last "&" when it is not empty.
void ParseQuery(std::string_view text, std::vector<std::string>& list);

// The first IPv4 address of a host name or dotted text, or 0. A dotted text other than
// 0.0.0.0 is converted without a lookup; a name is looked up with LookupHost, waiting at
// most `timeoutMs` (at least 1).
[[nodiscard]] IpAddress ResolveHost(std::string_view name, int timeoutMs);

// Appends to `addresses` and `aliases` the IPv4 addresses (in the resolver's order) and
// alias names that the platform's resolver gives for `name`; true when it found the
// name. Returns after at most about `timeoutMs` (at least 1), abandoning a lookup that
// has not answered by then. The machine's own name and "LocalHost" (case ignored) are
// answered from their caches once a lookup has found them: one address, no aliases.
bool LookupHost(std::string_view name, int timeoutMs, std::vector<IpAddress>& addresses,
                std::vector<std::string>& aliases);

// False for a text that is not a dotted address. True for an address in 127.0.0.0/8, or
// one equal to the machine's own address or that of "LocalHost" (each looked up with a
// 5000 ms limit when not cached).
[[nodiscard]] bool IsLocalAddressText(std::string_view text);

// Empties both caches (module start).
void ClearHostCaches();

// How many lookups have been handed to the platform's resolver in this process; the
// cached answers do not count.
[[nodiscard]] std::uint64_t HostLookupsStarted();

// One asynchronous lookup in three steps: Start, then Collect until it has finished,
// or Cancel. Each request has its own answer, so requests in different threads never
// see each other's results. Destroying a request cancels it.
class THostLookupRequest {
public:
    THostLookupRequest();
    ~THostLookupRequest();
    THostLookupRequest(const THostLookupRequest&) = delete;
    THostLookupRequest& operator=(const THostLookupRequest&) = delete;

    // Hands the name to the resolver. False when the request cannot be started (one is
    // already outstanding, or too many abandoned lookups are still running).
    bool Start(std::string_view name);

    // Waits up to `waitMs` for the answer (0: only looks). True once the request has
    // finished: `error` is 0 when the name was found, and then the addresses and aliases
    // have been appended to the lists (on the first Collect after the answer only).
    bool Collect(std::vector<IpAddress>& addresses, std::vector<std::string>& aliases, int& error,
                 int waitMs = 0);

    // Abandons an outstanding request; its late answer is thrown away.
    void Cancel();

    [[nodiscard]] bool Outstanding() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Lookups abandoned at their deadline keep a resolver thread until the platform gives
// up on them; beyond this many running at once, new lookups fail at once instead.
inline constexpr int kMaxRunningHostLookups = 64;

}  // namespace gatemoor
