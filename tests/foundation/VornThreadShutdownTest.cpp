// The process-wide end of the thread module: the ApplicationClosing flag, which is never
// cleared, and the module end. They live in a test program of their own so that no
// other test runs after them.
#include <gtest/gtest.h>

#include "foundation/TestThreads.h"
#include "foundation/VornThread.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

using test::TFunctionThread;
using test::UntilReleased;
using test::UntilTerminated;
using test::WaitUntil;
using Clock = std::chrono::steady_clock;

TEST(ThreadModuleEnd, StopsWaitsKillsAndLeavesTheRegistryOperationsInert) {
    std::atomic<bool> release{false};
    std::atomic<bool> stubbornGone{false};
    std::atomic<bool> politeGone{false};
    auto* stubborn = NewThread<TFunctionThread>(false, UntilReleased(release), &stubbornGone);
    NewThread<TFunctionThread>(false, UntilTerminated, &politeGone, true);
    const ThreadHandle stubbornHandle = stubborn->Handle();
    ASSERT_TRUE(WaitUntil([&] { return stubborn->executed.load(); }));

    auto start = Clock::now();
    VornThreadModuleEnd();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(WaitUntil([&] { return politeGone.load(); }));
    std::uint32_t code = 0;
    EXPECT_TRUE(GetThreadExitCode(stubbornHandle, code));
    EXPECT_EQ(code, 1u) << "killed";
    EXPECT_EQ(ApplicationIdleHook(), nullptr);

    auto* late = NewThread<TFunctionThread>(true, UntilTerminated);
    EXPECT_EQ(late->StartedAtCreation(), 0u);
    EXPECT_EQ(late->IdleHook(), nullptr);
    EXPECT_EQ(FindThreadById(late->ThreadId()), nullptr);
    EXPECT_EQ(FindThreadByHandle(late->Handle()), nullptr);
    EXPECT_EQ(CountRunningThreads({}), 0);
    std::vector<TVornThread*> list;
    CollectThreads({}, list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(StopThread(late));
    EXPECT_FALSE(KillThread(late));
    EXPECT_FALSE(KillThreadById(late->ThreadId()));
    EXPECT_EQ(KillThreads({}), 0);
    EXPECT_EQ(WaitForThreads(100, {}), 0);
    EXPECT_FALSE(StopThreadByHandle(late->Handle(), 100, true));
    EXPECT_FALSE(late->Terminated()) << "no registry, so nothing was asked of it";
    TThread::Free(late);

    release = true;  // the abandoned worker frees itself without a registry to leave
    EXPECT_TRUE(WaitUntil([&] { return stubbornGone.load(); }));
}

TEST(ThreadModuleEnd, RestoresTheIdleHandlerThatWasThereBeforeStart) {
    VornThreadModuleEnd();  // harmless when the module has ended already
    static int calls = 0;   // the handler outlives this test inside the module
    platform::SetApplicationIdleHandler([] { ++calls; });
    VornThreadModuleStart();
    ASSERT_NE(ApplicationIdleHook(), nullptr);
    platform::IdleHandler installed = platform::SetApplicationIdleHandler({});
    platform::SetApplicationIdleHandler(installed);
    installed();
    EXPECT_EQ(calls, 0) << "the module's handler replaced the earlier one";

    VornThreadModuleEnd();
    platform::IdleHandler restored = platform::SetApplicationIdleHandler({});
    ASSERT_TRUE(restored);
    restored();
    EXPECT_EQ(calls, 1);
    VornThreadModuleStart();  // as the test program expects to find it
}

TEST(ApplicationClosing, EveryWorkerSeesItWithoutBeingAskedToTerminate) {
    ASSERT_FALSE(ApplicationClosing());
    std::atomic<bool> checked{false};
    auto* worker = NewThread<TFunctionThread>(false, [&](TFunctionThread& self) {
        checked = true;
        UntilTerminated(self);
    });
    ASSERT_TRUE(WaitUntil([&] { return checked.load(); }));
    EXPECT_FALSE(CheckTerminated(worker));

    SetApplicationClosing();
    EXPECT_TRUE(ApplicationClosing());
    EXPECT_TRUE(WaitUntil([&] { return IsFinished(worker); }));
    EXPECT_FALSE(worker->Terminated());
    EXPECT_TRUE(CheckTerminated(worker));
    EXPECT_TRUE(CheckTerminated(nullptr));
    TThread::Free(worker);
}

}  // namespace
}  // namespace gatemoor
