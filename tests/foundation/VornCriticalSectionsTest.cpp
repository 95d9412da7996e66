#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Name + " " + `randomLength` letters and digits.
::testing::AssertionResult IsPrivateName(const std::string& mutexName, const std::string& name,
                                         std::size_t randomLength) {
    const std::string prefix = name + " ";
    if (mutexName.compare(0, prefix.size(), prefix) != 0 ||
        mutexName.size() != prefix.size() + randomLength ||
        !std::all_of(mutexName.begin() + static_cast<long>(prefix.size()), mutexName.end(),
                     IsAsciiAlnum))
        return ::testing::AssertionFailure() << '"' << mutexName << "\" is not \"" << prefix
                                             << "\" + " << randomLength << " letters/digits";
    return ::testing::AssertionSuccess();
}

// Holds a lock on a thread of its own, which stays alive until Release().
class LockHolder {
public:
    explicit LockHolder(TMutexCriticalSection& lock) {
        std::promise<std::uint32_t> entered;
        auto enteredId = entered.get_future();
        thread_ = std::thread([&lock, &entered, this] {
            lock.Enter();
            entered.set_value(platform::CurrentThreadId());
            release_.get_future().wait();
            lock.Leave();
        });
        threadId_ = enteredId.get();
    }
    ~LockHolder() { Release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    [[nodiscard]] std::uint32_t ThreadId() const { return threadId_; }
    void Release() {
        if (!thread_.joinable()) return;
        release_.set_value();
        thread_.join();
    }

private:
    std::promise<void> release_;
    std::thread thread_;
    std::uint32_t threadId_ = 0;
};

// Leaves `lock` held by a thread that has ended.
void AbandonOnDeadThread(TMutexCriticalSection& lock) {
    std::thread([&lock] { lock.Enter(); }).join();
}

template <class F>
auto OnOtherThread(F&& f) {
    return std::async(std::launch::async, std::forward<F>(f)).get();
}

TEST(MutexCriticalSection, StartsFreeWithAPrivateMutexName) {
    TMutexCriticalSection lock("Log_CS");
    TMutexCriticalSection twin("Log_CS");
    EXPECT_EQ(lock.Name(), "Log_CS");
    EXPECT_EQ(lock.TimeOut(), 2000);
    EXPECT_EQ(lock.Count(), 0);
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_FALSE(lock.HasOwnerHandle());
    EXPECT_EQ(lock.OwnerThreadId(), 0u);
    EXPECT_TRUE(IsPrivateName(lock.MutexName(), "Log_CS", 10));
    EXPECT_NE(lock.MutexName(), twin.MutexName());
}

TEST(MutexCriticalSection, ReentrantEnterNeedsOneLeaveEach) {
    TMutexCriticalSection lock("EmailMsg_CS");
    TAbstractCriticalSection& asInterface = lock;
    lock.Enter();
    asInterface.Acquire();
    EXPECT_EQ(lock.Count(), 2);
    EXPECT_EQ(lock.OwnerThreadId(), platform::CurrentThreadId());

    asInterface.Release();
    EXPECT_EQ(lock.Count(), 1);
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_TRUE(lock.HasOwnerHandle()) << "the owner handle goes only with the last Leave";
    EXPECT_FALSE(OnOtherThread([&] { return lock.TryEnter(); }));

    lock.Leave();
    EXPECT_EQ(lock.Count(), 0);
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_FALSE(lock.HasOwnerHandle());
    EXPECT_EQ(lock.OwnerThreadId(), platform::CurrentThreadId()) << "keeps its last value";

    EXPECT_TRUE(OnOtherThread([&] {
        bool taken = lock.TryEnter();
        if (taken) lock.Leave();
        return taken;
    }));
}

TEST(MutexCriticalSection, IsBusyOnlyWhileAnotherLiveThreadHoldsIt) {
    TMutexCriticalSection lock("IPMapping_CS");
    EXPECT_FALSE(lock.IsBusy());
    lock.Enter();
    EXPECT_FALSE(lock.IsBusy()) << "the owner itself could take it";
    EXPECT_EQ(lock.Count(), 1) << "probing must not change the count";
    EXPECT_TRUE(OnOtherThread([&] { return lock.IsBusy(); }));
    lock.Leave();
    EXPECT_FALSE(OnOtherThread([&] { return lock.IsBusy(); }));
}

TEST(MutexCriticalSection, LeaveByAThreadThatDoesNotHoldItChangesNothing) {
    TMutexCriticalSection lock("ProcessIdList_CS");
    lock.Enter();
    OnOtherThread([&] { lock.Leave(); });
    EXPECT_EQ(lock.Count(), 1);
    EXPECT_TRUE(lock.HasOwnerHandle());
    EXPECT_EQ(lock.OwnerThreadId(), platform::CurrentThreadId());
    EXPECT_TRUE(OnOtherThread([&] { return lock.IsBusy(); }));
    lock.Leave();
    lock.Leave();  // one Leave too many by the last owner changes nothing either
    EXPECT_EQ(lock.Count(), 0);
}

TEST(MutexCriticalSection, TryEnterDoesNotWaitForALiveOwner) {
    TMutexCriticalSection lock("MsgReposList_CS");
    LockHolder holder(lock);
    auto start = Clock::now();
    EXPECT_FALSE(lock.TryEnter());
    EXPECT_LT(MsSince(start), 1000) << "TryEnter must not wait out the time-out";
    EXPECT_EQ(lock.Count(), 1);
    EXPECT_EQ(lock.OwnerThreadId(), holder.ThreadId());
    holder.Release();
    EXPECT_TRUE(lock.TryEnter());
    EXPECT_EQ(lock.OwnerThreadId(), platform::CurrentThreadId());
    lock.Leave();
}

TEST(MutexCriticalSection, MainThreadGivesUpOnALiveOwnerAfterTheDefaultTimeOut) {
    ASSERT_TRUE(platform::IsMainThread());
    TMutexCriticalSection lock("Log_CS");
    LockHolder holder(lock);
    auto start = Clock::now();
    try {
        lock.Enter();
        lock.Leave();
        FAIL() << "Enter succeeded while another thread held the lock";
    } catch (const ECriticalSectionException& e) {
        long long elapsed = MsSince(start);
        EXPECT_EQ(std::string(e.what()),
                  "Timed out waiting on critial section Log_CS Owned by Thread " +
                      std::to_string(holder.ThreadId()));
        EXPECT_GE(elapsed, 2000);
        EXPECT_LT(elapsed, 3500) << "the main thread adds no random wait";
    }
    EXPECT_EQ(lock.Count(), 1) << "the failed Enter must not have taken the lock";
    EXPECT_EQ(lock.OwnerThreadId(), holder.ThreadId());
}

TEST(MutexCriticalSection, WorkerWaitsBetweenOnceAndTwiceTheTimeOut) {
    TMutexCriticalSection lock("ProcessingOptions_CS");
    lock.SetTimeOut(300);
    lock.Enter();
    long long elapsed = OnOtherThread([&] {
        auto start = Clock::now();
        try {
            lock.Enter();
            lock.Leave();
            return -1LL;
        } catch (const ECriticalSectionException&) {
            return MsSince(start);
        }
    });
    lock.Leave();
    EXPECT_GE(elapsed, 300);
    EXPECT_LT(elapsed, 600 + 500);  // 300 + at most 299, plus scheduling slack
}

TEST(MutexCriticalSection, DeadOwnerCostsOneTimeOutThenTheLockIsRebuiltAndTaken) {
    TMutexCriticalSection lock("MessageRepository_CS");
    lock.SetTimeOut(300);
    AbandonOnDeadThread(lock);
    ASSERT_EQ(lock.Count(), 1);
    ASSERT_TRUE(lock.HasOwnerHandle());

    auto start = Clock::now();
    EXPECT_NO_THROW(lock.Enter());
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(IsPrivateName(lock.MutexName(), "MessageRepository_CS", 20));
    EXPECT_EQ(lock.Count(), 1);
    EXPECT_EQ(lock.OwnerThreadId(), platform::CurrentThreadId());
    lock.Leave();
    EXPECT_FALSE(lock.IsHeld());
}

TEST(MutexCriticalSection, ProbesRebuildADeadOwnersLockWithoutWaiting) {
    struct Probe {
        const char* name;
        bool (*run)(TMutexCriticalSection&);
    };
    const Probe probes[] = {
        {"IsBusy", [](TMutexCriticalSection& lock) { return lock.IsBusy(); }},
        {"TryEnter", [](TMutexCriticalSection& lock) { return lock.TryEnter(); }},
    };
    for (const Probe& probe : probes) {
        SCOPED_TRACE(probe.name);
        TMutexCriticalSection lock("EmailHeader_CS");
        AbandonOnDeadThread(lock);
        auto start = Clock::now();
        EXPECT_FALSE(probe.run(lock));
        EXPECT_LT(MsSince(start), 1000);
        EXPECT_TRUE(IsPrivateName(lock.MutexName(), "EmailHeader_CS", 20));
        EXPECT_EQ(lock.Count(), 0);
        EXPECT_EQ(lock.OwnerThreadId(), 0u);
        EXPECT_FALSE(lock.HasOwnerHandle());
        EXPECT_TRUE(lock.TryEnter());
        lock.Leave();
    }
}

TEST(MutexCriticalSection, ContendingThreadsKeepASharedCounterConsistent) {
    TMutexCriticalSection lock("TFileExtensionList_CS");
    constexpr int kThreads = 8;
    constexpr int kRounds = 2000;
    long counter = 0;  // deliberately not atomic: only the lock protects it
    std::atomic<int> maxInside{0};
    std::atomic<int> inside{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                CriticalSectionGuard outer(lock);
                int now = ++inside;
                maxInside = std::max(maxInside.load(), now);
                long seen = counter;
                if (i % 7 == 0) {
                    CriticalSectionGuard nested(lock);  // re-entry by the owner
                    seen = counter;
                }
                counter = seen + 1;
                --inside;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
    EXPECT_EQ(maxInside.load(), 1);
    EXPECT_EQ(lock.Count(), 0);
    EXPECT_FALSE(lock.HasOwnerHandle());
}

TEST(RandomLettersAndDigits, GivesTheRequestedNumberOfAsciiLettersAndDigits) {
    for (int length : {0, 1, 10, 20, 200}) {
        SCOPED_TRACE(length);
        std::string text = RandomLettersAndDigits(length);
        EXPECT_EQ(text.size(), static_cast<std::size_t>(length));
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), IsAsciiAlnum)) << text;
    }
    EXPECT_NE(RandomLettersAndDigits(20), RandomLettersAndDigits(20));
}

}  // namespace
}  // namespace gatemoor
