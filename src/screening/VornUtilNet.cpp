#include "screening/VornUtilNet.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "screening/VornUtil.h"
#include "screening/VornUtilBusyCursor.h"
#include "screening/VornUtilSystem.h"

namespace gatemoor {
namespace {

// Any value above 32 bits is out of every piece's range; reading stops growing there.
constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 33;
// The resolver's answer buffer starts at the classic 1024 bytes and grows on demand.
constexpr std::size_t kAnswerBufferSize = 1024;
constexpr std::size_t kMaxAnswerBufferSize = 64 * 1024;
// The error of a request that was never started.
constexpr int kLookupNotStarted = -1;

std::atomic<IpAddress> gMachineAddress{0};
std::atomic<IpAddress> gLocalHostAddress{0};
std::atomic<std::uint64_t> gLookupsStarted{0};
std::atomic<int> gRunningLookups{0};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint64_t> ReadDigits(std::string_view digits, int base) {
    std::uint64_t value = 0;
    for (char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0 || digit >= base) return std::nullopt;
        value =
            std::min(value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit),
                     kTooLarge);
    }
    return value;
}

// One piece of a dotted text: "0x" and hex digits (the last eight count), a leading 0
// and octal digits, or decimal digits.
std::optional<std::uint64_t> ReadPiece(std::string_view piece) {
    if (piece.empty()) return std::nullopt;
    if (piece.size() > 2 && piece.starts_with("0x")) {
        std::string_view digits = piece.substr(2);
        if (!ReadDigits(digits, 16)) return std::nullopt;
        if (digits.size() > 8) digits = digits.substr(digits.size() - 8);
        return ReadDigits(digits, 16);
    }
    if (piece[0] == '0') return ReadDigits(piece, 8);
    return ReadDigits(piece, 10);
}

std::optional<IpAddress> ParseAddress(std::string_view text) {
    std::vector<std::string> pieces;
    SplitText(text, ".", pieces);
    if (pieces.empty() || pieces.size() > 4) return std::nullopt;
    const std::size_t lastIndex = pieces.size() - 1;
    // The last piece fills every byte that the pieces before it leave over.
    const std::uint64_t lastLimit = (std::uint64_t{1} << (8 * (4 - lastIndex))) - 1;
    std::uint32_t host = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto value = ReadPiece(pieces[i]);
        if (!value || *value > (i == lastIndex ? lastLimit : 255)) return std::nullopt;
        host |= i == lastIndex ? static_cast<std::uint32_t>(*value)
                               : static_cast<std::uint32_t>(*value) << (24 - 8 * i);
    }
    return htonl(host);
}

std::uint8_t FirstByte(IpAddress address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return bytes[0];
}

std::atomic<IpAddress>* CacheFor(std::string_view name) {
    if (EqualsIgnoringCase(name, MachineName())) return &gMachineAddress;
    if (EqualsIgnoringCase(name, LocalHostName())) return &gLocalHostAddress;
    return nullptr;
}

// The platform's lookup, on the resolver thread: 0 when found, else the resolver's error.
int ResolveOnPlatform(const std::string& name, std::vector<IpAddress>& addresses,
                      std::vector<std::string>& aliases) {
    // A name the resolver would read cut short at a NUL byte is not the name asked for.
    if (name.empty() || name.find('\0') != std::string::npos) return HOST_NOT_FOUND;
    std::vector<char> buffer(kAnswerBufferSize);
    hostent entry{};
    hostent* result = nullptr;
    int resolverError = 0;
    for (;;) {
        const int rc = ::gethostbyname_r(name.c_str(), &entry, buffer.data(), buffer.size(),
                                         &result, &resolverError);
        if (rc != ERANGE || buffer.size() >= kMaxAnswerBufferSize) break;
        buffer.resize(buffer.size() * 2);
    }
    if (!result) return resolverError != 0 ? resolverError : HOST_NOT_FOUND;
    if (result->h_addrtype == AF_INET && result->h_length == sizeof(IpAddress)) {
        for (char** item = result->h_addr_list; item && *item; ++item) {
            IpAddress address = 0;
            std::memcpy(&address, *item, sizeof address);
            addresses.push_back(address);
        }
    }
    for (char** item = result->h_aliases; item && *item; ++item)
        aliases.emplace_back(*item);
    return addresses.empty() ? NO_DATA : 0;
}

}  // namespace

std::string AddressToText(IpAddress address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

IpAddress TextToAddress(std::string_view text) {
    return ParseAddress(text).value_or(0);
}

bool IsDottedAddress(std::string_view text) {
    return ParseAddress(text).has_value();
}

IpAddress RandomLoopbackAddress() {
    const std::uint8_t bytes[4] = {127, static_cast<std::uint8_t>(RandomNumber(255)),
                                   static_cast<std::uint8_t>(RandomNumber(255)),
                                   static_cast<std::uint8_t>(RandomNumber(255))};
    IpAddress address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

void ParseQuery(std::string_view text, std::vector<std::string>& list) {
    list.clear();
    std::size_t start = 0;
    for (std::size_t amp = text.find('&'); amp != std::string_view::npos;
         amp = text.find('&', start)) {
        list.push_back(UrlDecode(text.substr(start, amp - start)));
        start = amp + 1;
    }
    if (start < text.size()) list.push_back(UrlDecode(text.substr(start)));
}

// --- lookups ------------------------------------------------------------------------

struct THostLookupRequest::State {
    std::mutex mutex;
    std::condition_variable answered;
    bool finished = false;
    bool delivered = false;
    int error = 0;
    std::vector<IpAddress> addresses;
    std::vector<std::string> aliases;
};

THostLookupRequest::THostLookupRequest() = default;
THostLookupRequest::~THostLookupRequest() {
    Cancel();
}

bool THostLookupRequest::Start(std::string_view name) {
    if (Outstanding()) return false;
    if (gRunningLookups.fetch_add(1) >= kMaxRunningHostLookups) {
        gRunningLookups.fetch_sub(1);
        return false;
    }
    auto state = std::make_shared<State>();
    try {
        // The resolver thread owns its share of the answer: a request abandoned at its
        // deadline lets it finish and throw the answer away, without blocking anyone.
        std::thread([state, host = std::string(name)] {
            std::vector<IpAddress> addresses;
            std::vector<std::string> aliases;
            const int error = ResolveOnPlatform(host, addresses, aliases);
            {
                std::lock_guard lock(state->mutex);
                state->error = error;
                state->addresses = std::move(addresses);
                state->aliases = std::move(aliases);
                state->finished = true;
            }
            state->answered.notify_all();
            gRunningLookups.fetch_sub(1);
        }).detach();
    } catch (...) {
        gRunningLookups.fetch_sub(1);
        return false;
    }
    gLookupsStarted.fetch_add(1);
    state_ = std::move(state);
    return true;
}

bool THostLookupRequest::Collect(std::vector<IpAddress>& addresses,
                                 std::vector<std::string>& aliases, int& error, int waitMs) {
    if (!state_) {
        error = kLookupNotStarted;
        return true;
    }
    std::unique_lock lock(state_->mutex);
    if (!state_->answered.wait_for(lock, std::chrono::milliseconds(std::max(0, waitMs)),
                                   [&] { return state_->finished; }))
        return false;
    error = state_->error;
    if (!state_->delivered) {
        state_->delivered = true;
        addresses.insert(addresses.end(), state_->addresses.begin(), state_->addresses.end());
        aliases.insert(aliases.end(), state_->aliases.begin(), state_->aliases.end());
    }
    return true;
}

void THostLookupRequest::Cancel() {
    state_.reset();
}

bool THostLookupRequest::Outstanding() const {
    if (!state_) return false;
    std::lock_guard lock(state_->mutex);
    return !state_->finished;
}

bool LookupHost(std::string_view name, int timeoutMs, std::vector<IpAddress>& addresses,
                std::vector<std::string>& aliases) {
    std::atomic<IpAddress>* cache = CacheFor(name);
    if (cache) {
        if (const IpAddress cached = cache->load(); cached != 0) {
            addresses.push_back(cached);
            return true;
        }
    }
    TBusyCursor busy;
    THostLookupRequest request;
    if (!request.Start(name)) return false;
    std::vector<IpAddress> found;
    std::vector<std::string> foundAliases;
    int error = 0;
    if (!request.Collect(found, foundAliases, error, std::max(1, timeoutMs))) return false;
    if (error != 0 || found.empty()) return false;
    // Written once: the first address found stays for the life of the process.
    if (cache) {
        IpAddress empty = 0;
        cache->compare_exchange_strong(empty, found.front());
    }
    addresses.insert(addresses.end(), found.begin(), found.end());
    aliases.insert(aliases.end(), foundAliases.begin(), foundAliases.end());
    return true;
}

IpAddress ResolveHost(std::string_view name, int timeoutMs) {
    if (const IpAddress address = TextToAddress(name); address != 0) return address;
    std::vector<IpAddress> addresses;
    std::vector<std::string> aliases;
    if (!LookupHost(name, timeoutMs, addresses, aliases) || addresses.empty()) return 0;
    return addresses.front();
}

bool IsLocalAddressText(std::string_view text) {
    const auto address = ParseAddress(text);
    if (!address) return false;
    // Judged by the address, not its spelling: "0177.1" and "2130706433" are loopback
    // too, and "127000001" (7.145.221.193) is not.
    if (FirstByte(*address) == 127) return true;
    for (const std::string& name : {MachineName(), LocalHostName()}) {
        // A failed lookup gives 0, which must not make 0.0.0.0 count as this machine.
        const IpAddress own = ResolveHost(name, 5000);
        if (own != 0 && own == *address) return true;
    }
    return false;
}

void ClearHostCaches() {
    gMachineAddress.store(0);
    gLocalHostAddress.store(0);
}

std::uint64_t HostLookupsStarted() {
    return gLookupsStarted.load();
}

}  // namespace gatemoor
