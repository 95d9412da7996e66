#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "TranscriptAssembler.h"
#include "foundation/Transcript.h"
#include "platform/BusEndpoint.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

namespace proto = transcript_protocol;
using namespace std::chrono_literals;

// A viewer inside the test: records every message of the protocol.
class Viewer {
public:
    Viewer()
        : endpoint_(proto::kViewerClass, "test viewer", [this](const platform::BusMessage& m) {
              messages_.push_back(m);
              return 0;
          }) {}
    std::vector<platform::BusMessage> Take() {
        endpoint_.DispatchPending();
        return std::exchange(messages_, {});
    }
    std::vector<tools::AssembledLine> Lines() {
        tools::TranscriptAssembler assembler;
        std::vector<tools::AssembledLine> lines;
        for (const auto& m : Take())
            if (auto line = assembler.Feed(m)) lines.push_back(*line);
        return lines;
    }

private:
    platform::BusEndpoint endpoint_;
    std::vector<platform::BusMessage> messages_;
};

class TranscriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTranscriptSettings(TranscriptSettings{});
        platform::SetBeepHandler([this] { ++beeps_; });
    }
    void TearDown() override {
        platform::SetBeepHandler({});
        SetTranscriptSettings(TranscriptSettings{});
        SetInsideMessageDispatch(false);
    }
    int beeps_ = 0;
};

TEST_F(TranscriptTest, MessagesOfOneLineInProtocolOrder) {
    Viewer viewer;
    ASSERT_TRUE(Transcript("LSP", "Hello", 5, false));
    auto messages = viewer.Take();
    std::vector<std::uint32_t> numbers;
    for (const auto& m : messages)
        numbers.push_back(m.message);
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{proto::kBegin, proto::kId, proto::kThreadId,
                                                   proto::kCpuTime, proto::kProcessId,
                                                   proto::kService, proto::kText, proto::kText,
                                                   proto::kLevel, proto::kIsError, proto::kEnd}));
    ASSERT_FALSE(messages.empty());
    const auto tag = messages[0].wParam;
    EXPECT_LE(tag, 2147483646u);
    for (const auto& m : messages)
        EXPECT_EQ(m.wParam, tag);
    EXPECT_EQ(messages[0].lParam, static_cast<std::int64_t>(tag));
    EXPECT_EQ(messages[1].lParam, TranscriptLinesProduced());
    EXPECT_EQ(messages[2].lParam, platform::CurrentThreadId());
    EXPECT_EQ(messages[4].lParam, platform::CurrentProcessId());
    EXPECT_EQ(messages[5].lParam, 'L' | 'S' << 8 | 'P' << 16);
    EXPECT_EQ(messages[6].lParam,
              'H' | 'e' << 8 | 'l' << 16 | static_cast<std::int64_t>('l') << 24);
    EXPECT_EQ(messages[7].lParam, 'o');
    EXPECT_EQ(messages[8].lParam, 5);
    EXPECT_EQ(messages[9].lParam, 0);
    EXPECT_EQ(messages[10].lParam, 0);
}

TEST_F(TranscriptTest, FiveCharacterServiceTakesTwoChunks) {
    Viewer viewer;
    Transcript("ABCDE", "", 5, true);
    std::vector<std::int64_t> chunks;
    bool textChunk = false;
    for (const auto& m : viewer.Take()) {
        if (m.message == proto::kService) chunks.push_back(m.lParam);
        textChunk |= m.message == proto::kText;
    }
    EXPECT_EQ(chunks, (std::vector<std::int64_t>{0x44434241, 0x45}));
    EXPECT_FALSE(textChunk) << "an empty text sends no chunk";
}

TEST_F(TranscriptTest, TruncationAtFiveHundredCharacters) {
    Viewer viewer;
    const std::string exact(500, 'a');
    const std::string longer = std::string(500, 'b') + "c";
    Transcript("T", exact, 5, false);
    Transcript("T", longer, 5, false);
    auto lines = viewer.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, exact);
    EXPECT_EQ(lines[1].text, "TRUNCATED(501bytes):" + std::string(500, 'b'));
}

TEST_F(TranscriptTest, LineBreaksAreEscapedAfterTruncation) {
    Viewer viewer;
    Transcript("T", "a\r\nb\rc\nd", 5, false);
    Transcript("T", std::string(250, '\n') + std::string(300, 'x'), 5, false);
    auto lines = viewer.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "a<CRLF>b<CR>c<LF>d");
    EXPECT_EQ(lines[1].text.rfind("TRUNCATED(550bytes):<LF>", 0), 0u);
    EXPECT_GT(lines[1].text.size(), 500u);
}

TEST_F(TranscriptTest, FiltersAndTheCounter) {
    Viewer viewer;
    struct Case {
        const char* name;
        TranscriptSettings settings;
        std::uint8_t level;
        bool isError;
        bool produced;
    } cases[] = {
        {"default", {}, 5, false, true},
        {"level 0 below the minimum", {}, 0, false, false},
        {"errors only drops a plain line", {.sendErrorsOnly = true}, 5, false, false},
        {"errors only keeps an error", {.sendErrorsOnly = true}, 5, true, true},
        {"master switch off", {.sendAnything = false}, 10, true, false},
        {"raised minimum", {.minimumLevel = 6}, 5, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetTranscriptSettings(c.settings);
        const auto before = TranscriptLinesProduced();
        EXPECT_TRUE(Transcript("F", "x", c.level, c.isError));
        EXPECT_EQ(TranscriptLinesProduced(), before + (c.produced ? 1 : 0));
        EXPECT_EQ(viewer.Lines().size(), c.produced ? 1u : 0u);
    }
}

TEST_F(TranscriptTest, BeepRule) {
    struct Case {
        const char* name;
        TranscriptSettings settings;
        std::uint8_t level;
        bool isError;
        bool beeps;
    } cases[] = {
        {"never by default", {}, 10, true, false},
        {"error at the level", {.beepOnErrorLevel = 10}, 10, true, true},
        {"even when nothing is sent",
         {.sendAnything = false, .beepOnErrorLevel = 10},
         10,
         true,
         true},
        {"below the level", {.beepOnErrorLevel = 10}, 9, true, false},
        {"not an error", {.beepOnErrorLevel = 10}, 10, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetTranscriptSettings(c.settings);
        beeps_ = 0;
        Transcript("B", "x", c.level, c.isError);
        EXPECT_EQ(beeps_, c.beeps ? 1 : 0);
    }
}

TEST_F(TranscriptTest, MemoryGroupOnlyWhenAskedFor) {
    Viewer viewer;
    auto memoryMessages = [&] {
        int count = 0;
        for (const auto& m : viewer.Take())
            count += m.message >= proto::kMemoryFirst && m.message <= proto::kMemoryLast;
        return count;
    };
    Transcript("M", "x", 5, false);
    EXPECT_EQ(memoryMessages(), 0);
    SetTranscriptSettings({.sendMemory = true});
    std::vector<int> keep(1000, 1);  // make sure the heap is in use
    Transcript("M", "x", 5, false);
    EXPECT_EQ(memoryMessages(), 8);
}

TEST_F(TranscriptTest, NoViewerStillCountsTheLine) {
    const auto before = TranscriptLinesProduced();
    EXPECT_TRUE(Transcript("N", "nobody listens", 5, false));
    EXPECT_EQ(TranscriptLinesProduced(), before + 1);
}

TEST_F(TranscriptTest, DispatchMarkerTellsMainThreadFromWorkers) {
    Viewer viewer;
    Transcript("D", "outside", 5, false);
    SetInsideMessageDispatch(true);
    Transcript("D", "main", 5, false);
    std::thread([] { Transcript("D", "worker", 5, false); }).join();
    SetInsideMessageDispatch(false);
    auto lines = viewer.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "outside");
    EXPECT_EQ(lines[1].text, ".main");
    EXPECT_EQ(lines[2].text, ",worker");
}

TEST_F(TranscriptTest, ConcurrentCallersGetDistinctIds) {
    Viewer viewer;
    std::atomic<int> running{4};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                Transcript("C", "line", 5, false);
            --running;
        });
    std::vector<tools::AssembledLine> lines;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((running > 0 || lines.size() < 200) && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (auto& line : viewer.Lines())
            lines.push_back(line);
    }
    for (auto& t : threads)
        t.join();
    std::set<std::int32_t> ids;
    for (const auto& line : lines)
        ids.insert(line.id);
    EXPECT_EQ(ids.size(), 200u);
}

// The real viewer program in a second process prints the line exactly.
TEST_F(TranscriptTest, LineReachesTheViewerProgram) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::execl(GATEMOOR_TRANSCRIPT_VIEWER, "gatemoor-transcript", "--count", "1", "--seconds",
                "20", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::optional<platform::BusWindow> window;
    for (int i = 0; i < 100 && !window; ++i) {
        for (auto& w : platform::WindowsOfProcess(static_cast<std::uint32_t>(pid)))
            if (w.className == proto::kViewerClass) window = w;
        if (!window) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(window) << "the viewer did not register";

    const std::string text = "Across, processes: \"quoted\" and\r\nbroken";
    Transcript("Remote", text, 7, true);

    std::string printed;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, n);
    ::close(out[0]);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);

    const std::string expectedEnd = ": Across, processes: \"quoted\" and<CRLF>broken\n";
    ASSERT_GE(printed.size(), expectedEnd.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - expectedEnd.size()), expectedEnd);
    EXPECT_EQ(printed.rfind(
                  "[" + std::to_string(TranscriptLinesProduced()) + "] Remote L7 ERROR tid=", 0),
              0u)
        << printed;
}

}  // namespace
}  // namespace gatemoor
