#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "foundation/TestThreads.h"
#include "foundation/VornThread.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

using test::TFunctionThread;
using test::TOtherThread;
using test::UntilReleased;
using test::UntilTerminated;
using test::WaitUntil;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::uint32_t ExitCodeOf(ThreadHandle handle) {
    std::uint32_t code = 0;
    EXPECT_TRUE(GetThreadExitCode(handle, code)) << "handle " << handle << " is closed";
    return code;
}

// Every test leaves the registry as it found it: empty.
class ThreadTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(CountRunningThreads({}), 0) << "a test left threads"; }
};

TEST_F(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
    auto* thread = NewThread<TFunctionThread>(true, [](TFunctionThread& self) {
        UntilTerminated(self);
        self.SetReturnValue(7);
    });
    const ThreadHandle handle = thread->Handle();
    EXPECT_NE(handle, 0u);
    EXPECT_NE(thread->ThreadId(), 0u);
    EXPECT_NE(thread->ThreadId(), platform::CurrentThreadId());
    EXPECT_TRUE(thread->Suspended());
    EXPECT_EQ(thread->StartedAtCreation(), 0u);
    EXPECT_FALSE(IsRunning(thread));
    EXPECT_FALSE(IsFinished(thread));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(thread->executed);

    ResumeThread(thread);
    EXPECT_FALSE(thread->Suspended());
    ASSERT_TRUE(WaitUntil([&] { return thread->executed.load(); }));
    EXPECT_TRUE(IsRunning(thread));
    EXPECT_EQ(ExitCodeOf(handle), kStillActive);

    thread->Terminate();
    EXPECT_EQ(thread->WaitFor(), 7u);
    EXPECT_TRUE(thread->Finished());
    EXPECT_TRUE(IsFinished(thread));
    EXPECT_EQ(ExitCodeOf(handle), 7u) << "the handle stays readable until the object goes";
    TThread::Free(thread);
    EXPECT_FALSE(IsThreadHandleValid(handle));
}

TEST_F(ThreadTest, RunningThreadIsRegisteredUnderItsOwnClassUntilFreed) {
    TVornThread* seenInside = nullptr;
    std::atomic<bool> probed{false};
    auto* thread = NewThread<TOtherThread>(false, [&](TFunctionThread& self) {
        seenInside = CurrentVornThread();
        probed = true;
        UntilTerminated(self);
    });
    ASSERT_TRUE(WaitUntil([&] { return probed.load(); }));
    EXPECT_EQ(seenInside, thread);
    EXPECT_EQ(CurrentVornThread(), nullptr) << "the main thread is no worker";
    EXPECT_EQ(thread->StartedAtCreation(), 1u);
    EXPECT_NE(thread->IdleHook(), nullptr);
    EXPECT_EQ(thread->ClassName(), "TOtherThread");
    EXPECT_EQ(FindThreadById(thread->ThreadId()), thread);
    EXPECT_EQ(FindThreadByHandle(thread->Handle()), thread);

    const std::uint32_t id = thread->ThreadId();
    const ThreadHandle handle = thread->Handle();
    TThread::Free(thread);
    EXPECT_EQ(FindThreadById(id), nullptr);
    EXPECT_EQ(FindThreadByHandle(handle), nullptr);
    EXPECT_FALSE(IsThreadHandleValid(handle));
    EXPECT_FALSE(IsThreadHandleValid(0));
}

TEST_F(ThreadTest, FreeOnTerminateThreadDeletesItselfAndLeavesTheRegistry) {
    std::atomic<bool> destroyed{false};
    std::atomic<bool> go{false};
    auto* thread = NewThread<TFunctionThread>(false, UntilReleased(go), &destroyed, true);
    const ThreadHandle handle = thread->Handle();
    EXPECT_EQ(FindThreadByHandle(handle), thread);
    go = true;
    ASSERT_TRUE(WaitUntil([&] { return destroyed.load() && !IsThreadHandleValid(handle); }));
    EXPECT_EQ(FindThreadByHandle(handle), nullptr);
}

TEST_F(ThreadTest, ExceptionFromExecuteEndsTheThreadAndIsKept) {
    auto* thread = NewThread<TFunctionThread>(
        false, [](TFunctionThread&) { throw std::runtime_error("worker failed"); });
    thread->WaitFor();
    ASSERT_TRUE(thread->FatalException());
    try {
        std::rethrow_exception(thread->FatalException());
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "worker failed");
    }
    TThread::Free(thread);
}

TEST_F(ThreadTest, FreeEndsASuspendedThreadWithoutRunningIt) {
    std::atomic<bool> destroyed{false};
    std::atomic<bool> ran{false};
    auto* thread = NewThread<TFunctionThread>(
        true, [&](TFunctionThread&) { ran = true; }, &destroyed);
    const ThreadHandle handle = thread->Handle();
    TThread::Free(thread);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsThreadHandleValid(handle));
}

TEST_F(ThreadTest, CheckTerminatedNotesLastAliveAndAnswersTheRequest) {
    SetClockForTests([] { return 40000.25; });
    auto* thread = NewThread<TFunctionThread>(true, UntilTerminated);
    EXPECT_DOUBLE_EQ(thread->LastAlive(), 40000.25);
    SetClockForTests([] { return 40000.5; });
    EXPECT_FALSE(CheckTerminated(thread));
    EXPECT_DOUBLE_EQ(thread->LastAlive(), 40000.5);
    thread->Terminate();
    EXPECT_TRUE(CheckTerminated(thread));
    SetClockForTests({});
    TThread::Free(thread);
}

TEST_F(ThreadTest, ClassFiltersMatchTheClassAndItsDescendants) {
    auto* base = NewThread<TFunctionThread>(false, UntilTerminated);
    auto* derived = NewThread<TOtherThread>(false, UntilTerminated);
    auto* sleeper = NewThread<TOtherThread>(true, UntilTerminated);

    struct Case {
        const char* name;
        ThreadClassFilter filter;
        std::vector<TVornThread*> collected;
        int running;
    };
    const Case cases[] = {
        {"no filter counts suspended threads too", {}, {base, derived, sleeper}, 3},
        {"base class takes descendants, not suspended ones",
         ThreadsOfClass<TFunctionThread>(),
         {base, derived, sleeper},
         2},
        {"derived class only", ThreadsOfClass<TOtherThread>(), {derived, sleeper}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TVornThread*> list;
        CollectThreads(c.filter, list);
        std::vector<TVornThread*> reversed(c.collected.rbegin(), c.collected.rend());
        EXPECT_EQ(list, reversed) << "collected from the last entry to the first";
        EXPECT_EQ(CountRunningThreads(c.filter), c.running);
    }
    for (TThread* thread : {static_cast<TThread*>(base), static_cast<TThread*>(derived),
                            static_cast<TThread*>(sleeper)})
        TThread::Free(thread);
}

TEST_F(ThreadTest, StopThreadTerminatesResumesAndRaisesALowPriority) {
    auto* thread = NewThread<TFunctionThread>(true, UntilTerminated);
    thread->SetPriority(ThreadPriority::Lowest);
    EXPECT_TRUE(StopThread(thread));
    EXPECT_TRUE(thread->Terminated());
    EXPECT_FALSE(thread->Suspended());
    EXPECT_EQ(thread->Priority(), ThreadPriority::Normal);
    thread->WaitFor();
    EXPECT_FALSE(thread->executed) << "terminated before it started, so Execute is skipped";
    EXPECT_FALSE(StopThread(thread)) << "a finished thread is not stopped again";
    TThread::Free(thread);
    EXPECT_FALSE(StopThread(nullptr));
}

TEST_F(ThreadTest, WaitForThreadsReportsAStubbornWorkerThatKillThreadsThenAbandons) {
    std::atomic<bool> release{false};
    std::atomic<bool> stubbornGone{false};
    std::atomic<bool> politeGone{false};
    auto* stubborn = NewThread<TFunctionThread>(false, UntilReleased(release), &stubbornGone);
    NewThread<TFunctionThread>(false, UntilTerminated, &politeGone, true);
    const ThreadHandle handle = stubborn->Handle();
    // Terminated before it starts, a thread skips Execute: let it be inside first.
    ASSERT_TRUE(WaitUntil([&] { return stubborn->executed.load(); }));

    auto start = Clock::now();
    EXPECT_EQ(WaitForThreads(1000, {}), 1);
    long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(elapsed, 2500);
    EXPECT_TRUE(stubborn->Terminated());
    EXPECT_TRUE(WaitUntil([&] { return politeGone.load(); }));

    EXPECT_EQ(KillThreads({}), 1);
    EXPECT_EQ(ExitCodeOf(handle), 1u);
    EXPECT_TRUE(IsFinished(stubborn));
    EXPECT_EQ(FindThreadByHandle(handle), nullptr);
    EXPECT_EQ(CountRunningThreads({}), 0);
    EXPECT_FALSE(stubbornGone) << "its Execute still runs on the object";

    release = true;  // the abandoned thread frees its own object once Execute returns
    EXPECT_TRUE(WaitUntil([&] { return stubbornGone.load() && !IsThreadHandleValid(handle); }));
}

TEST_F(ThreadTest, KillThreadEndsAnUnstartedThreadAndFreesAFinishedOne) {
    std::atomic<bool> sleeperGone{false};
    std::atomic<bool> doneGone{false};
    auto* sleeper = NewThread<TFunctionThread>(true, UntilTerminated, &sleeperGone);
    auto* done = NewThread<TFunctionThread>(
        false, [](TFunctionThread&) {}, &doneGone);
    done->WaitFor();
    const std::uint32_t sleeperId = sleeper->ThreadId();

    EXPECT_TRUE(KillThreadById(sleeperId));
    EXPECT_TRUE(sleeperGone);
    EXPECT_FALSE(KillThread(done)) << "nothing left to kill";
    EXPECT_TRUE(doneGone) << "but the object is freed";
    EXPECT_FALSE(KillThreadById(sleeperId));
}

TEST_F(ThreadTest, StopThreadByHandle) {
    EXPECT_TRUE(StopThreadByHandle(0, 100, true)) << "no handle, nothing to stop";

    std::atomic<bool> politeGone{false};
    auto* polite = NewThread<TFunctionThread>(false, UntilTerminated, &politeGone);
    const ThreadHandle politeHandle = polite->Handle();
    EXPECT_TRUE(StopThreadByHandle(politeHandle, 3000, true));
    EXPECT_TRUE(politeGone);
    EXPECT_FALSE(IsThreadHandleValid(politeHandle));

    std::atomic<bool> release{false};
    auto* stubborn = NewThread<TFunctionThread>(false, UntilReleased(release));
    ASSERT_TRUE(WaitUntil([&] { return stubborn->executed.load(); }));
    auto start = Clock::now();
    EXPECT_FALSE(StopThreadByHandle(stubborn->Handle(), 300, true));
    EXPECT_GE(MsSince(start), 300);
    EXPECT_TRUE(stubborn->Terminated());
    release = true;
    TThread::Free(stubborn);
}

TEST(IdleHook, PollAsksEveryEntryAndRunsTheHighestAtTheThreshold) {
    struct Case {
        const char* name;
        std::vector<int> priorities;
        int threshold;
        int answer;
        int runEntry;  // index of the entry called with the threshold, -1 for none
    };
    const Case cases[] = {
        {"no entries", {}, 1, 0, -1},
        {"highest wins, the front one on a tie", {3, 5, 5, 1}, 4, 5, 1},
        {"exactly at the threshold", {2, 4}, 4, 4, 1},
        {"below the threshold nothing runs", {3, 5, 5, 1}, 6, 5, -1},
        {"negative priorities", {-9, -4}, -5, -4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TOnIdleObject hook;
        std::vector<std::vector<int>> calls(c.priorities.size());
        std::vector<int> askOrder;
        for (std::size_t i = 0; i < c.priorities.size(); ++i) {
            hook.Add(
                [&, i](int code, void* data) {
                    EXPECT_EQ(data, &calls[i]);
                    calls[i].push_back(code);
                    if (code == 11) askOrder.push_back(static_cast<int>(i));
                    return c.priorities[i];
                },
                &calls[i], false);
        }
        EXPECT_EQ(hook.Count(), c.priorities.size());
        EXPECT_EQ(hook.Poll(c.threshold), c.answer);
        std::vector<int> lastToFirst;
        for (int i = static_cast<int>(c.priorities.size()); i-- > 0;)
            lastToFirst.push_back(i);
        EXPECT_EQ(askOrder, lastToFirst);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            std::vector<int> expected{11};
            if (static_cast<int>(i) == c.runEntry) expected.push_back(c.threshold);
            EXPECT_EQ(calls[i], expected) << "entry " << i;
        }
    }
}

TEST(IdleHook, EntriesFreeOnlyTheDataTheyOwn) {
    std::vector<int*> freed;
    int owned = 1;
    int borrowed = 2;
    {
        TOnIdleObject hook;
        auto record = [&](void* data) { freed.push_back(static_cast<int*>(data)); };
        hook.Add([](int, void*) { return 0; }, &owned, true, record);
        hook.Add([](int, void*) { return 0; }, &borrowed, false, record);
        EXPECT_TRUE(freed.empty());
    }
    EXPECT_EQ(freed, std::vector<int*>{&owned});
}

TEST(IdleHook, ModuleInstallsTheGlobalHookAsTheIdleHandler) {
    TOnIdleObject* global = ApplicationIdleHook();
    ASSERT_NE(global, nullptr);
    platform::IdleHandler installed = platform::SetApplicationIdleHandler({});
    platform::SetApplicationIdleHandler(installed);
    ASSERT_TRUE(installed);

    // The entry stays with the global hook for good: add it once per program.
    static std::vector<int> codes;
    static bool added = false;
    codes.clear();
    if (!std::exchange(added, true))
        global->Add(
            [](int code, void*) {
                codes.push_back(code);
                return 1;
            },
            nullptr, false);
    installed();
    EXPECT_EQ(codes, (std::vector<int>{11, 1})) << "the idle handler polls with threshold 1";
}

}  // namespace
}  // namespace gatemoor
