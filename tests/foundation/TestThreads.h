// Worker threads for the thread tests: a TVornThread that runs a given body, and what
// the tests wait with.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "foundation/VornThread.h"

namespace gatemoor::test {

class TFunctionThread : public TVornThread {
public:
    using Body = std::function<void(TFunctionThread&)>;
    // `destroyed` (optional) is set when the object is deleted.
    TFunctionThread(bool createSuspended, Body body, std::atomic<bool>* destroyed = nullptr,
                    bool freeOnTerminate = false)
        : TVornThread(createSuspended), body_(std::move(body)), destroyed_(destroyed) {
        SetFreeOnTerminate(freeOnTerminate);
    }
    ~TFunctionThread() override {
        if (destroyed_) *destroyed_ = true;
    }

    std::atomic<bool> executed{false};

protected:
    void Execute() override {
        executed = true;
        body_(*this);
    }

private:
    Body body_;
    std::atomic<bool>* destroyed_;
};

// A second class, for the class filters.
class TOtherThread : public TFunctionThread {
public:
    using TFunctionThread::TFunctionThread;
};

// Works until asked to stop, as every worker should.
inline void UntilTerminated(TFunctionThread& self) {
    while (!CheckTerminated(&self))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Ignores termination until the test lets it go.
inline TFunctionThread::Body UntilReleased(const std::atomic<bool>& released) {
    return [&released](TFunctionThread&) {
        while (!released)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
}

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace gatemoor::test
