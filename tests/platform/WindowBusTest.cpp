#include <gtest/gtest.h>

#include <QCoreApplication>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/BusEndpoint.h"
#include "platform/WindowBus.h"

namespace gatemoor::platform {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or the time is up.
template <class Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(WindowBus, FindsWindowsByClassAndTitleIgnoringCase) {
    BusEndpoint a("TBusTestA", "First Window", nullptr);
    BusEndpoint b("TBusTestB", "Second", nullptr);
    ASSERT_TRUE(a.IsRegistered()) << a.ErrorText();
    ASSERT_TRUE(b.IsRegistered()) << b.ErrorText();

    auto found = FindWindow("tbustesta");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->endpointPath, a.Window().endpointPath);
    EXPECT_EQ(found->title, "First Window");
    EXPECT_TRUE(FindWindow("TBusTestB", "SECOND"));
    EXPECT_FALSE(FindWindow("TBusTestB", "First Window"));
    EXPECT_FALSE(FindWindow("TNoSuchClass"));
    EXPECT_EQ(WindowsOfProcess(a.Window().processId).size() >= 2, true);
}

TEST(WindowBus, UnregisteredWindowIsGone) {
    BusWindow window;
    {
        BusEndpoint endpoint("TBusGone", "x", nullptr);
        window = endpoint.Window();
        ASSERT_TRUE(FindWindow("TBusGone"));
    }
    EXPECT_FALSE(FindWindow("TBusGone"));
    EXPECT_FALSE(PostMessage(window, kWmUser + 1, 0, 0));
    EXPECT_FALSE(SendMessage(window, kWmUser + 1, 0, 0, 200));
}

TEST(WindowBus, PostsArriveInOrderOnTheEventLoop) {
    std::vector<BusMessage> received;
    BusEndpoint endpoint("TBusOrder", "", [&](const BusMessage& m) {
        received.push_back(m);
        return 0;
    });
    constexpr int kCount = 2000;  // more than a socket queue holds at once
    std::atomic<int> delivered{0};
    std::thread sender([&] {
        for (int i = 0; i < kCount; ++i)
            if (PostMessage(endpoint.Window(), kWmUser + 7, static_cast<std::uint64_t>(i), -i))
                ++delivered;
    });
    ASSERT_TRUE(PumpUntil([&] { return received.size() == static_cast<std::size_t>(kCount); }));
    sender.join();
    EXPECT_EQ(delivered.load(), kCount);
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(received[i].wParam, static_cast<std::uint64_t>(i));
        ASSERT_EQ(received[i].lParam, -i);
        ASSERT_FALSE(received[i].isSent);
    }
}

TEST(WindowBus, SendMessageWaitsForTheHandlersResult) {
    BusEndpoint endpoint("TBusSend", "", [](const BusMessage& m) {
        return static_cast<std::int64_t>(m.wParam) * 2 + m.lParam;
    });
    std::optional<std::int64_t> result;
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        result = SendMessage(endpoint.Window(), kWmUser + 121, 20, 2, 3000);
        finished = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
    sender.join();
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 42);
}

TEST(WindowBus, SendMessageTimesOutWhenNobodyDispatches) {
    BusEndpoint endpoint("TBusSlow", "", [](const BusMessage&) { return 1; });
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::int64_t> result;
    std::thread sender([&] { result = SendMessage(endpoint.Window(), kWmUser, 0, 0, 300); });
    sender.join();  // the main thread does not pump meanwhile
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(result);
    EXPECT_GE(waited, 290ms);
    EXPECT_LT(waited, 3000ms);
    // The late message is still handled; answering a gone sender must not hurt.
    endpoint.DispatchPending();
}

TEST(WindowBus, SendFromTheOwnThreadCallsTheHandlerDirectly) {
    BusEndpoint endpoint("TBusSelf", "", [](const BusMessage& m) { return m.lParam + 1; });
    auto result = SendMessage(endpoint.Window(), kWmUser, 0, 41, 500);
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, 42);
}

TEST(WindowBus, PeekMessageRemovesOnlyTheMatchingMessage) {
    std::vector<std::uint32_t> handled;
    BusEndpoint endpoint("TBusPeek", "", [&](const BusMessage& m) {
        handled.push_back(m.message);
        return 0;
    });
    ASSERT_TRUE(PostMessage(endpoint.Window(), kWmUser + 120, 0, 0));
    ASSERT_TRUE(PostMessage(endpoint.Window(), kWmUser + 174, 0, 0));
    ASSERT_TRUE(PostMessage(endpoint.Window(), kWmUser + 146, 0, 0));

    auto peeked = endpoint.PeekMessage(kWmUser + 174, kWmUser + 174, false);
    ASSERT_TRUE(peeked);
    EXPECT_EQ(endpoint.PendingCount(), 3u);
    auto removed = endpoint.PeekMessage(kWmUser + 174, kWmUser + 174, true);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->message, kWmUser + 174);
    EXPECT_FALSE(endpoint.PeekMessage(kWmUser + 174, kWmUser + 174, true));

    endpoint.DispatchPending();
    EXPECT_EQ(handled, (std::vector<std::uint32_t>{kWmUser + 120, kWmUser + 146}));
}

TEST(WindowBus, DescriptorOfADeadProcessIsSweptAway) {
    const std::string folder = WindowBusFolder();
    const std::string base = folder + "/w999999999-1";
    {
        FILE* f = std::fopen((base + ".win").c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("TBusDead\ntitle\n999999999\n", f);
        std::fclose(f);
    }
    EXPECT_FALSE(FindWindow("TBusDead"));
    EXPECT_NE(::access((base + ".win").c_str(), F_OK), 0);
}

}  // namespace
}  // namespace gatemoor::platform
