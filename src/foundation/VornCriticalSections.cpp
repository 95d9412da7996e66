#include "foundation/VornCriticalSections.h"

#include <atomic>
#include <chrono>
#include <random>

#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

constexpr int kSuffixAtCreation = 10;
constexpr int kSuffixAfterRebuild = 20;

std::mt19937& RandomEngine() {
    thread_local std::mt19937 engine = [] {
        std::uint32_t seed = 0;
        platform::RandomBytes(&seed, sizeof seed);
        return std::mt19937(seed);
    }();
    return engine;
}

// 0..limit-1; 0 when there is no range to draw from.
int RandomBelow(int limit) {
    if (limit <= 1) return 0;
    return std::uniform_int_distribution<int>(0, limit - 1)(RandomEngine());
}

// Stands in for a duplicated thread handle: it expires when its thread ends, so a
// lock can tell a live owner from one that died while holding it.
const std::shared_ptr<int>& ThreadLivenessToken() {
    thread_local const std::shared_ptr<int> token = std::make_shared<int>(0);
    return token;
}

}  // namespace

std::string RandomLettersAndDigits(int length) {
    std::string text;
    if (length <= 0) return text;
    text.reserve(static_cast<std::size_t>(length));
    std::uniform_int_distribution<int> printable(33, 127);
    while (static_cast<int>(text.size()) < length) {
        int c = printable(RandomEngine());
        // isalnum would follow the locale; only ASCII letters and digits belong here.
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            text += static_cast<char>(c);
    }
    return text;
}

struct TMutexCriticalSection::State {
    std::mutex mutex;
    std::condition_variable released;
    std::string mutexName;
    std::uint32_t ownerThreadId = 0;
    // The owner "handle": the owning thread's token while the lock is held.
    std::weak_ptr<int> ownerHandle;
    // Identity of that token; nullptr stands for -1. Atomic, like the count, so that the
    // owner can enter again and leave an inner level without taking the mutex: only the
    // owner changes either while it holds the lock, and its token's memory cannot be
    // reused while ownerHandle refers to it.
    std::atomic<const int*> ownerKey{nullptr};
    std::atomic<int> count{0};

    [[nodiscard]] bool HeldByCaller() const {
        return ownerKey == ThreadLivenessToken().get() && !ownerHandle.expired();
    }
    [[nodiscard]] bool OwnedByCallerFast() const {
        return ownerKey.load(std::memory_order_relaxed) == ThreadLivenessToken().get() &&
               count.load(std::memory_order_relaxed) > 0;
    }
    [[nodiscard]] bool Available() const { return count == 0 || HeldByCaller(); }
};

TMutexCriticalSection::TMutexCriticalSection(std::string name)
    : TAbstractCriticalSection(std::move(name)), state_(std::make_unique<State>()) {
    // The private name is drawn when first asked for: every message header has a lock,
    // and hardly any is ever asked its name.
}

TMutexCriticalSection::~TMutexCriticalSection() = default;

void TMutexCriticalSection::Enter() {
    State& s = *state_;
    // Nested entries by the owner (every header query calls others) need no mutex.
    if (s.OwnedByCallerFast()) {
        s.count.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    std::unique_lock lock(s.mutex);
    // Most entries find the lock free or already their own: take it without working out
    // a wait, which costs system calls on every header query.
    if (s.Available()) {
        TakeLocked();
        return;
    }
    for (;;) {
        const int timeOut = TimeOut();
        // Workers wait longer by a random amount so that contending threads do not
        // all give up at the same moment.
        int waitMs = timeOut > 0 ? timeOut : 0;
        if (!platform::IsMainThread()) waitMs += RandomBelow(timeOut);
        if (s.released.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [&] { return s.Available(); })) {
            TakeLocked();
            return;
        }
        std::string message = "Timed out waiting on critial section " + Name() +
                              " Owned by Thread " + std::to_string(s.ownerThreadId);
        if (OwnerIsAliveLocked(lock)) throw ECriticalSectionException(message);
        // The owner is gone and the lock was rebuilt: wait again on the fresh lock.
    }
}

bool TMutexCriticalSection::IsBusy() {
    std::unique_lock lock(state_->mutex);
    if (state_->Available()) return false;  // the caller could take it, so it is not busy
    return OwnerIsAliveLocked(lock);
}

bool TMutexCriticalSection::IsHeld() const {
    std::lock_guard lock(state_->mutex);
    return state_->count > 0;
}

void TMutexCriticalSection::Leave() {
    State& s = *state_;
    // Leaving an inner level: the lock stays held, nobody is to be woken.
    if (s.OwnedByCallerFast() && s.count.load(std::memory_order_relaxed) > 1) {
        s.count.fetch_sub(1, std::memory_order_relaxed);
        return;
    }
    std::lock_guard lock(s.mutex);
    // Only the owner can release; anyone else would corrupt the owner's count.
    if (s.count == 0 || !s.HeldByCaller()) return;
    if (--s.count == 0) {
        s.ownerHandle.reset();
        s.ownerKey = nullptr;
        s.released.notify_all();
    }
}

bool TMutexCriticalSection::TryEnter() {
    std::unique_lock lock(state_->mutex);
    if (state_->Available()) {
        TakeLocked();
        return true;
    }
    (void)OwnerIsAliveLocked(lock);  // probing rebuilds a dead owner's lock
    return false;
}

std::uint32_t TMutexCriticalSection::OwnerThreadId() const {
    std::lock_guard lock(state_->mutex);
    return state_->ownerThreadId;
}

bool TMutexCriticalSection::HasOwnerHandle() const {
    std::lock_guard lock(state_->mutex);
    return state_->ownerKey != nullptr;
}

int TMutexCriticalSection::Count() const {
    std::lock_guard lock(state_->mutex);
    return state_->count;
}

std::string TMutexCriticalSection::MutexName() const {
    std::lock_guard lock(state_->mutex);
    if (state_->mutexName.empty())
        state_->mutexName = Name() + " " + RandomLettersAndDigits(kSuffixAtCreation);
    return state_->mutexName;
}

bool TMutexCriticalSection::OwnerIsAliveLocked(std::unique_lock<std::mutex>& lock) {
    State& s = *state_;
    (void)lock;  // held by the caller
    if (s.ownerKey == nullptr) return false;
    if (!s.ownerHandle.expired()) return true;
    // The owner ended while holding the lock. Whatever it guarded may be half
    // updated; nothing can repair that, but the lock must not stay blocked forever.
    s.mutexName = Name() + " " + RandomLettersAndDigits(kSuffixAfterRebuild);
    s.ownerThreadId = 0;
    s.ownerHandle.reset();
    s.ownerKey = nullptr;
    s.count = 0;
    s.released.notify_all();
    return false;
}

void TMutexCriticalSection::TakeLocked() {
    State& s = *state_;
    ++s.count;
    s.ownerThreadId = platform::CurrentThreadId();
    if (s.ownerKey == nullptr) {
        s.ownerHandle = ThreadLivenessToken();
        s.ownerKey = ThreadLivenessToken().get();
    }
}

}  // namespace gatemoor
