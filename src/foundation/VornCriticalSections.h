// Named, re-entrant locks that remember their owner, give up after a time-out with an
// exception naming the lock and its owner, and rebuild themselves when the owning
// thread died while holding them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace gatemoor {

class ECriticalSectionException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TAbstractCriticalSection {
public:
    explicit TAbstractCriticalSection(std::string name) : name_(std::move(name)) {}
    virtual ~TAbstractCriticalSection() = default;
    TAbstractCriticalSection(const TAbstractCriticalSection&) = delete;
    TAbstractCriticalSection& operator=(const TAbstractCriticalSection&) = delete;

    virtual void Acquire() { Enter(); }
    virtual void Release() { Leave(); }
    virtual bool TryAcquire() {
        Enter();
        return true;
    }

    virtual void Enter() = 0;
    virtual bool IsBusy() = 0;
    [[nodiscard]] virtual bool IsHeld() const = 0;
    virtual void Leave() = 0;

    [[nodiscard]] const std::string& Name() const { return name_; }
    [[nodiscard]] int TimeOut() const { return timeOutMs_; }
    void SetTimeOut(int milliseconds) { timeOutMs_ = milliseconds; }

private:
    std::string name_;
    int timeOutMs_ = 2000;
    [[maybe_unused]] bool flag_ = false;  // kept from the original layout; no operation consults it
};

class TMutexCriticalSection : public TAbstractCriticalSection {
public:
    explicit TMutexCriticalSection(std::string name);
    ~TMutexCriticalSection() override;

    // Waits TimeOut ms on the main thread, TimeOut plus a random 0..TimeOut-1 ms on any
    // other; then raises ECriticalSectionException while the owner lives, or rebuilds
    // the lock of a dead owner and tries again.
    void Enter() override;
    // True when another, still running, thread holds the lock. Never blocks.
    bool IsBusy() override;
    [[nodiscard]] bool IsHeld() const override;
    // Releases once. A Leave by a thread that does not hold the lock changes nothing.
    void Leave() override;
    // Acquires without waiting.
    bool TryEnter();

    [[nodiscard]] std::uint32_t OwnerThreadId() const;
    [[nodiscard]] bool HasOwnerHandle() const;  // false where the original holds -1
    [[nodiscard]] int Count() const;
    // The private name of the underlying mutex: Name + " " + 10 random letters and
    // digits, 20 after a rebuild.
    [[nodiscard]] std::string MutexName() const;

private:
    struct State;
    // The owner check of Enter, IsBusy and TryEnter: true while the recorded owner lives;
    // rebuilds the lock when the owner ended while holding it.
    bool OwnerIsAliveLocked(std::unique_lock<std::mutex>& lock);
    void TakeLocked();

    std::unique_ptr<State> state_;
};

// Holds a lock for one scope: the try/finally pairing of Enter and Leave.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(TAbstractCriticalSection& lock) : lock_(lock) { lock_.Enter(); }
    ~CriticalSectionGuard() { lock_.Leave(); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    TAbstractCriticalSection& lock_;
};

// Random text of `length` ASCII letters and digits.
[[nodiscard]] std::string RandomLettersAndDigits(int length);

}  // namespace gatemoor
