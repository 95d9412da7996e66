#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Application.h"
#include "foundation/VornThread.h"
#include "platform/BusEndpoint.h"
#include "screening/VornUtil.h"
#include "screening/VornUtilSystem.h"
#include "support/TestSupport.h"

extern char** environ;

namespace gatemoor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

template <class Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

IpAddress Bytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    IpAddress address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// A child process that the test starts and, whatever happens, stops by its pid.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv,
                   const std::vector<std::string>& extraEnv = {},
                   const std::string& outputFile = "/dev/null") {
        std::vector<char*> args;
        for (const auto& word : argv)
            args.push_back(const_cast<char*>(word.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> envText(extraEnv);
        for (char** item = environ; *item; ++item)
            envText.emplace_back(*item);
        std::vector<char*> env;
        for (auto& entry : envText)
            env.push_back(entry.data());
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ == 0 || reaped_) return;
        ::kill(pid_, SIGKILL);
        Wait();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    [[nodiscard]] ProcessId Pid() const { return static_cast<ProcessId>(pid_); }
    // The wait status once the child has ended (bounded: it is killed after 10 s).
    int Wait() {
        if (reaped_) return status_;
        const auto deadline = Clock::now() + 10s;
        while (::waitpid(pid_, &status_, WNOHANG) == 0) {
            if (Clock::now() > deadline) ::kill(pid_, SIGKILL);
            std::this_thread::sleep_for(5ms);
        }
        reaped_ = true;
        return status_;
    }

private:
    pid_t pid_ = 0;
    int status_ = 0;
    bool reaped_ = false;
};

bool KilledBy(int status, int signal) {
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

// A private copy of a system program under a name no other process has.
std::string UniqueProgramCopy(const test::TempFolder& folder, const std::string& source) {
    const std::string path =
        folder.File("gm-" + RandomAlphanumeric(8) + "-" + fs::path(source).filename().string());
    fs::copy_file(source, path);
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

// --- addresses --------------------------------------------------------------------------

struct AddressCase {
    const char* name;
    const char* text;
    const char* expected;  // nullptr: not a dotted address
};

const AddressCase kAddressCases[] = {
    {"four decimal bytes", "192.168.1.10", "192.168.1.10"},
    {"one 32-bit number", "3232235786", "192.168.1.10"},
    {"octal bytes", "0300.0250.1.10", "192.168.1.10"},
    {"hex first, third fills two bytes", "0xc0.168.266", "192.168.1.10"},
    {"second fills three bytes", "192.11010058", "192.168.0.10"},
    {"second fills three bytes, middle byte set", "192.11010826", "192.168.3.10"},
    {"trailing dot dropped", "1.2.3.4.", "1.2.3.4"},
    {"hex counts its last eight digits", "0x1c0a8010a", "192.168.1.10"},
    {"largest single number", "4294967295", "255.255.255.255"},
    {"zero is readable", "0.0.0.0", "0.0.0.0"},
    {"lone zero is octal", "0", "0.0.0.0"},
    {"five pieces", "1.2.3.4.5", nullptr},
    {"byte too large", "256.1.1.1", nullptr},
    {"two-byte part too large", "1.2.65536", nullptr},
    {"three-byte part too large", "1.16777216", nullptr},
    {"single number too large", "4294967296", nullptr},
    {"huge number", "99999999999999999999999", nullptr},
    {"eight and nine are not octal", "09.1.1.1", nullptr},
    {"empty piece", "1..2", nullptr},
    {"empty text", "", nullptr},
    {"only a dot", ".", nullptr},
    {"bare 0x", "0x.1.1.1", nullptr},
    {"upper-case X is not hex", "0X10.1.1.1", nullptr},
    {"bad hex digit", "0x1g.1.1.1", nullptr},
    {"letters", "mail.example.invalid", nullptr},
    {"sign", "+1.2.3.4", nullptr},
    {"negative", "1.2.3.-4", nullptr},
    {"leading blank", " 1.2.3.4", nullptr},
    {"trailing blank", "1.2.3.4 ", nullptr},
    {"port attached", "1.2.3.4:110", nullptr},
};

TEST(Addresses, TextToAddressReadsTheClassicDottedForms) {
    for (const auto& c : kAddressCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsDottedAddress(c.text), c.expected != nullptr);
        const IpAddress address = TextToAddress(c.text);
        if (c.expected) {
            EXPECT_EQ(AddressToText(address), c.expected);
        } else {
            EXPECT_EQ(address, 0u);
        }
    }
}

TEST(Addresses, TextToAddressSurvivesJunkBytes) {
    const std::string junk[] = {std::string("1.2\0.3", 6), "\xff\xfe.1.1.1",
                                std::string(10000, '1'), std::string(5000, '.'),
                                "0x" + std::string(400, 'g')};
    for (const auto& text : junk)
        EXPECT_EQ(TextToAddress(text), 0u) << text.substr(0, 20);
    // However long a number is written, only its value counts: leading zeros are octal
    // digits like any other, and hex keeps its last eight digits.
    EXPECT_EQ(AddressToText(TextToAddress(std::string(300, '0') + "1.2.3.4")), "1.2.3.4");
    EXPECT_EQ(AddressToText(TextToAddress("0x" + std::string(400, 'f'))), "255.255.255.255");
}

TEST(Addresses, AddressIsInNetworkByteOrder) {
    EXPECT_EQ(TextToAddress("192.168.1.10"), Bytes(192, 168, 1, 10));
    EXPECT_EQ(AddressToText(Bytes(10, 0, 255, 7)), "10.0.255.7");
}

TEST(Addresses, RandomLoopbackAddressStaysInRange) {
    bool varies = false;
    const IpAddress first = RandomLoopbackAddress();
    for (int i = 0; i < 2000; ++i) {
        const IpAddress address = RandomLoopbackAddress();
        std::uint8_t bytes[4];
        std::memcpy(bytes, &address, sizeof bytes);
        ASSERT_EQ(bytes[0], 127);
        ASSERT_LE(bytes[1], 254);
        ASSERT_LE(bytes[2], 254);
        ASSERT_LE(bytes[3], 254);
        varies = varies || address != first;
    }
    EXPECT_TRUE(varies);
}

TEST(Addresses, ParseQuerySplitsAtAmpersandsAndDecodes) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"plain pieces", "Cmd=GetReport&CId=ab12", {"Cmd=GetReport", "CId=ab12"}},
        {"empty pieces kept, empty tail dropped", "a&&b%20c+d&", {"a", "", "b c d"}},
        {"a lone ampersand", "&", {""}},
        {"nothing", "", {}},
        {"no ampersand", "x%41", {"xA"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> list = {"left over"};
        ParseQuery(c.text, list);
        EXPECT_EQ(list, c.expected);
    }
}

// --- lookups ----------------------------------------------------------------------------

TEST(Lookups, LocalHostIsAskedOnceThenAnsweredFromTheCache) {
    ClearHostCaches();
    const std::uint64_t before = HostLookupsStarted();
    const IpAddress first = ResolveHost("LocalHost", 5000);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(AddressToText(first).rfind("127.", 0), 0u) << AddressToText(first);
    EXPECT_EQ(HostLookupsStarted(), before + 1);

    EXPECT_EQ(ResolveHost("LocalHost", 5000), first);
    EXPECT_EQ(ResolveHost("localhost", 1), first);
    std::vector<IpAddress> addresses = {Bytes(1, 1, 1, 1)};
    std::vector<std::string> aliases;
    EXPECT_TRUE(LookupHost("LOCALHOST", 5000, addresses, aliases));
    EXPECT_EQ(addresses, (std::vector<IpAddress>{Bytes(1, 1, 1, 1), first}));
    EXPECT_TRUE(aliases.empty());
    EXPECT_EQ(HostLookupsStarted(), before + 1);
}

TEST(Lookups, MachineNameIsCachedLikeLocalHost) {
    ClearHostCaches();
    const std::uint64_t before = HostLookupsStarted();
    const IpAddress first = ResolveHost(MachineName(), 5000);
    if (first == 0) GTEST_SKIP() << "this machine's name " << MachineName() << " does not resolve";
    EXPECT_EQ(ResolveHost(MachineName(), 5000), first);
    EXPECT_EQ(HostLookupsStarted(), before + 1);
}

TEST(Lookups, DottedTextNeedsNoLookup) {
    const std::uint64_t before = HostLookupsStarted();
    EXPECT_EQ(ResolveHost("10.1.2.3", 5000), Bytes(10, 1, 2, 3));
    EXPECT_EQ(ResolveHost("0x7f.1", 5000), Bytes(127, 0, 0, 1));
    EXPECT_EQ(HostLookupsStarted(), before);
}

TEST(Lookups, NameWithoutAnswerGivesNothingWithinItsTimeLimit) {
    for (int timeoutMs : {1, 300}) {
        SCOPED_TRACE(timeoutMs);
        const auto start = Clock::now();
        EXPECT_EQ(ResolveHost("no-such-host.gatemoor.invalid", timeoutMs), 0u);
        EXPECT_LE(MsSince(start), timeoutMs + 100);
    }
    std::vector<IpAddress> addresses;
    std::vector<std::string> aliases;
    const auto start = Clock::now();
    EXPECT_FALSE(LookupHost("another.gatemoor.invalid", 300, addresses, aliases));
    EXPECT_LE(MsSince(start), 400);
    EXPECT_TRUE(addresses.empty());
    EXPECT_EQ(ResolveHost(std::string("local\0host", 10), 300), 0u);
}

TEST(Lookups, ConcurrentLookupsKeepTheirOwnAnswers) {
    ClearHostCaches();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([i, &wrong] {
            const bool local = i % 2 == 0;
            std::vector<IpAddress> addresses;
            std::vector<std::string> aliases;
            const bool found = LookupHost(local ? "localhost" : "nothing.gatemoor.invalid", 3000,
                                          addresses, aliases);
            if (found != local || addresses.empty() == local) ++wrong;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Lookups, RequestAnswersOnceAndCanBeAbandoned) {
    THostLookupRequest request;
    std::vector<IpAddress> addresses;
    std::vector<std::string> aliases;
    int error = 0;
    EXPECT_TRUE(request.Collect(addresses, aliases, error));  // never started
    EXPECT_NE(error, 0);

    ASSERT_TRUE(request.Start("localhost"));
    EXPECT_FALSE(request.Start("localhost"));  // one request at a time
    ASSERT_TRUE(request.Collect(addresses, aliases, error, 5000));
    EXPECT_EQ(error, 0);
    ASSERT_FALSE(addresses.empty());
    const std::size_t count = addresses.size();
    ASSERT_TRUE(request.Collect(addresses, aliases, error));
    EXPECT_EQ(addresses.size(), count);  // the answer is handed out once
    EXPECT_FALSE(request.Outstanding());

    ASSERT_TRUE(request.Start("localhost"));
    request.Cancel();
    EXPECT_FALSE(request.Outstanding());
}

TEST(Lookups, LocalAddressTextIsJudgedByTheAddress) {
    const std::uint64_t before = HostLookupsStarted();
    EXPECT_TRUE(IsLocalAddressText("127.66.1.2"));
    EXPECT_TRUE(IsLocalAddressText("0177.1"));
    EXPECT_TRUE(IsLocalAddressText("2130706433"));
    EXPECT_EQ(HostLookupsStarted(), before);  // loopback needs no lookup

    EXPECT_FALSE(IsLocalAddressText("localhost"));  // a name, not an address
    EXPECT_FALSE(IsLocalAddressText("127000001"));  // 7.145.221.193
    EXPECT_FALSE(IsLocalAddressText("0.0.0.0"));
    EXPECT_FALSE(IsLocalAddressText("192.0.2.1"));
}

// --- threads, handles, bits, environment ---------------------------------------------------

class TProgressWorker : public TVornThread {
public:
    TProgressWorker() : TVornThread(false) {}
    std::atomic<int> firstAnswer{-1};
    std::atomic<bool> stopSeen{false};

protected:
    void Execute() override {
        firstAnswer = ReportProgress("step", 1, 10) ? 1 : 0;
        const auto deadline = Clock::now() + 10s;
        while (!ReportProgress("step", 2, 10) && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        stopSeen = Clock::now() < deadline;
    }
};

TEST(ProgressHook, RegisteredWorkerLearnsThatItMustStop) {
    auto* worker = NewThread<TProgressWorker>();
    ASSERT_TRUE(WaitUntil([&] { return worker->firstAnswer != -1; }));
    EXPECT_EQ(worker->firstAnswer.load(), 0);
    EXPECT_NE(worker->LastAlive(), 0);
    worker->Terminate();
    EXPECT_TRUE(WaitUntil([&] { return worker->Finished(); }));
    EXPECT_TRUE(worker->stopSeen.load());
    TThread::Free(worker);
}

TEST(ProgressHook, UnlistedThreadsAlwaysGoOn) {
    EXPECT_FALSE(ReportProgress("main", 1, 2));
    bool answer = true;
    std::thread([&] { answer = ReportProgress(); }).join();
    EXPECT_FALSE(answer);
}

TEST(Threads, MainThreadAndItsMessages) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_TRUE(ProcessMessagesInMainThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = IsMainThread() || ProcessMessagesInMainThread(); }).join();
    EXPECT_FALSE(elsewhere);
}

TEST(Handles, OnlyOpenDescriptorsAreValid) {
    EXPECT_FALSE(IsValidHandle(0));
    EXPECT_FALSE(IsValidHandle(-1));
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsValidHandle(fd));
    ::close(fd);
    EXPECT_FALSE(IsValidHandle(fd));
}

TEST(Bits, BitsZeroToSevenOnly) {
    std::uint8_t byte = 0;
    SetBit(byte, 0);
    SetBit(byte, 7);
    SetBit(byte, 8);
    SetBit(byte, -1);
    EXPECT_EQ(byte, 0x81);
    EXPECT_TRUE(TestBit(byte, 7));
    EXPECT_FALSE(TestBit(byte, 6));
    EXPECT_FALSE(TestBit(0xFF, 8));
    ClearBit(byte, 7);
    ClearBit(byte, 8);
    EXPECT_EQ(byte, 0x01);
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
}

TEST(Environment, VariablesOfAnyLength) {
    const std::string value(20000, 'v');
    ::setenv("GATEMOOR_TEST_LONG", value.c_str(), 1);
    EXPECT_EQ(EnvironmentVariable("GATEMOOR_TEST_LONG"), value);
    ::unsetenv("GATEMOOR_TEST_LONG");
    EXPECT_EQ(EnvironmentVariable("GATEMOOR_TEST_LONG"), "");
    EXPECT_EQ(EnvironmentVariable(""), "");
}

TEST(Environment, FoldersOfTheSystemAndOfModules) {
    EXPECT_TRUE(fs::exists(SystemFolder() + "/libc.so.6")) << SystemFolder();
    EXPECT_EQ(ModuleFileName(nullptr), fs::read_symlink("/proc/self/exe").string());
}

// --- wildcards ----------------------------------------------------------------------------

TEST(Wildcards, MatchesAsTheExecutablePatternsNeed) {
    struct Case {
        const char* name;
        const char* text;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"ending in the pattern", "C:\\Tools\\Zone.zlclient.exe", "*.ZLCLIENT.EXE", true},
        {"any letter case", "C:\\TOOLS\\ZONE.ZlClient.Exe", "*.zlclient.exe", true},
        {"the dot is an ordinary character", "C:\\Tools\\zlclient.exe", "*.ZLCLIENT.EXE", false},
        {"must end where the pattern ends", "C:\\x.ZLCLIENT.EXE.bak", "*.ZLCLIENT.EXE", false},
        {"a later occurrence can end it", "/a.exe/b.exe", "*.exe", true},
        {"must begin where the pattern begins", "x/usr/bin/sleep", "/usr/*", false},
        {"star alone, any text", "a", "*", true},
        {"star alone, empty text", "", "*", false},
        {"empty pattern", "abc", "", false},
        {"star takes nothing", "ab", "a*b", true},
        {"several stars", "axxbyyc", "a*b*c", true},
        {"question mark", "abc", "a?c", true},
        {"question mark needs a character", "ac", "a?c", false},
        {"hash is a digit", "v7", "v#", true},
        {"hash is not a letter", "vx", "v#", false},
        {"dollar is a letter or digit", "a1b", "$$$", true},
        {"dollar is not a dot", "a.b", "$$$", false},
        {"caret is a letter", "ab", "^^", true},
        {"caret is not a digit", "a1", "^^", false},
        {"tilde is a sign", "a-b", "a~b", true},
        {"tilde is not a blank", "a b", "a~b", false},
        {"tilde is not a letter", "axb", "a~b", false},
        {"only A to Z fold", "\xC4", "\xE4", false},
        {"trailing star", "/usr/bin/sleep", "/usr/*", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WildcardMatch(c.text, c.pattern), c.matches);
    }
}

// --- processes --------------------------------------------------------------------------

TEST(Processes, ProcessWithoutWindowIsAskedThenEnds) {
    EXPECT_FALSE(IsProcessRunning(0));
    EXPECT_TRUE(CloseProcess(0, 1000));

    Child child({"/bin/sleep", "30"});
    ASSERT_NE(child.Pid(), 0u);
    EXPECT_TRUE(IsProcessRunning(child.Pid()));
    EXPECT_EQ(ProcessExePath(child.Pid()), fs::canonical("/bin/sleep").string());
    EXPECT_FALSE(FindProcessWindow(child.Pid()));

    EXPECT_TRUE(CloseProcess(child.Pid(), 3000));
    // Ended but not yet collected by us, its parent: that counts as not running.
    EXPECT_FALSE(IsProcessRunning(child.Pid()));
    EXPECT_TRUE(KilledBy(child.Wait(), SIGTERM));
    EXPECT_FALSE(IsProcessRunning(child.Pid()));
    EXPECT_EQ(ProcessExePath(child.Pid()), "");
}

TEST(Processes, ProcessIgnoringTheRequestIsKilledAfterTheWait) {
    Child child({"/bin/sh", "-c", "trap '' TERM; exec /bin/sleep 30"});
    ASSERT_NE(child.Pid(), 0u);
    // Once the shell has become sleep, SIGTERM is ignored for good.
    ASSERT_TRUE(
        WaitUntil([&] { return ProcessExePath(child.Pid()) == fs::canonical("/bin/sleep"); }));
    EXPECT_TRUE(CloseProcess(child.Pid(), 300));
    EXPECT_TRUE(KilledBy(child.Wait(), SIGKILL));
}

TEST(Processes, FindsProcessByExecutablePattern) {
    test::TempFolder folder;
    const std::string program = UniqueProgramCopy(folder, "/bin/sleep");
    Child child({program, "30"});
    ASSERT_NE(child.Pid(), 0u);
    const std::string name = fs::path(program).filename().string();
    ASSERT_TRUE(WaitUntil([&] { return ProcessExePath(child.Pid()) == program; }));
    EXPECT_EQ(FindProcessByExePattern("*/" + name), child.Pid());
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FindProcessByExePattern("*/" + upper), child.Pid());
    EXPECT_EQ(FindProcessByExePattern("*/" + name + ".bak"), 0u);
}

TEST(Processes, WindowOfThisProcessGetsTheCloseRequest) {
    std::atomic<int> closeRequests{0};
    platform::BusEndpoint window("TGatemoorSelfWindow", "self", [&](const platform::BusMessage& m) {
        if (m.message == platform::kWmClose) ++closeRequests;
        return 0;
    });
    ASSERT_TRUE(window.IsRegistered()) << window.ErrorText();
    const auto pid = static_cast<ProcessId>(::getpid());
    const auto found = FindProcessWindow(pid);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->className, "TGatemoorSelfWindow");
    ASSERT_TRUE(FindWindowByClass("tgatemoorselfwindow"));
    EXPECT_EQ(FindWindowByClass("tgatemoorselfwindow")->endpointPath, window.Window().endpointPath);

    ASSERT_TRUE(CloseProcessWindow(pid));
    EXPECT_TRUE(WaitUntil([&] {
        window.DispatchPending();
        return closeRequests == 1;
    }));
    EXPECT_EQ(FindProcessByExePattern(ModuleFileName(nullptr)), pid);
}

// Runs only as the child of ProcessWhoseWindowClosesIsNotKilled: it serves a window on the
// parent's bus until asked to close, then lives on a while without it.
TEST(ProcessWindowChild, DISABLED_ServesWindowUntilClosed) {
    const char* bus = std::getenv("GATEMOOR_TEST_PARENT_BUS");
    ASSERT_TRUE(bus);
    ::setenv("GATEMOOR_BUS_DIR", bus, 1);
    bool closing = false;
    {
        platform::BusEndpoint window("TGatemoorCloseTest", "child",
                                     [&](const platform::BusMessage& m) {
                                         if (m.message == platform::kWmClose) closing = true;
                                         return 0;
                                     });
        ASSERT_TRUE(window.IsRegistered());
        ASSERT_TRUE(WaitUntil(
            [&] {
                window.DispatchPending();
                return closing;
            },
            20s));
    }
    std::this_thread::sleep_for(2s);
}

TEST(Processes, ProcessWhoseWindowClosesIsNotKilled) {
    test::TempFolder folder;
    Child child({ModuleFileName(nullptr),
                 "--gtest_filter=ProcessWindowChild.DISABLED_ServesWindowUntilClosed",
                 "--gtest_also_run_disabled_tests"},
                {"GATEMOOR_TEST_PARENT_BUS=" + platform::WindowBusFolder()},
                folder.File("child.log"));
    ASSERT_NE(child.Pid(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return FindProcessWindow(child.Pid()).has_value(); }, 20s))
        << test::ReadFile(folder.File("child.log"));

    EXPECT_TRUE(CloseProcess(child.Pid(), 5000));
    EXPECT_TRUE(IsProcessRunning(child.Pid()));  // closed its window, still finishing
    const int status = child.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << test::ReadFile(folder.File("child.log"));
}

TEST(Processes, StartProgramDoesNotWait) {
    const ProcessId pid = StartProgram("", "/bin/sleep 30", false);
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(IsProcessRunning(pid));
    EXPECT_EQ(ProcessExePath(pid), fs::canonical("/bin/sleep").string());
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessRunning(pid); }));

    EXPECT_EQ(StartProgram("", "/nonexistent/gatemoor-program", false), 0u);
    EXPECT_EQ(StartProgram("", "   ", false), 0u);
}

TEST(Processes, StartProgramPassesTheCommandLine) {
    test::TempFolder folder;
    const std::string blankFolder = folder.File("with blank");
    fs::create_directories(blankFolder);
    const std::string shell = blankFolder + "/my sh";
    fs::copy_file("/bin/sh", shell);
    fs::permissions(shell, fs::perms::owner_all);
    struct Case {
        const char* name;
        std::string programPath;
        std::string commandLine;
    };
    const Case cases[] = {
        {"program path given", "/bin/sh", "sh -c \"echo $0 one > " + folder.File("a") + "\""},
        {"program from the command line", "", "/bin/sh -c \"echo two > " + folder.File("b") + "\""},
        {"unquoted path with a blank", "", shell + " -c \"echo three > " + folder.File("c") + "\""},
    };
    const std::pair<std::string, std::string> expected[] = {
        {folder.File("a"), "sh one\n"}, {folder.File("b"), "two\n"}, {folder.File("c"), "three\n"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        ASSERT_NE(StartProgram(cases[i].programPath, cases[i].commandLine, false), 0u);
        const auto& [file, text] = expected[i];
        EXPECT_TRUE(WaitUntil([&] {
            std::error_code error;
            return fs::file_size(file, error) == text.size();
        }));
        EXPECT_EQ(test::ReadFile(file), text);
    }
}

TEST(Processes, SplitCommandLineHonoursQuotes) {
    EXPECT_EQ(SplitCommandLine("  a \"b c\"\td\"e f\" \"\" "),
              (std::vector<std::string>{"a", "b c", "de f", ""}));
    EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

// --- console programs ---------------------------------------------------------------------

class ConsoleProgram : public ::testing::Test {
protected:
    // The stream files go to a folder of our own, so that we can see them go.
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
        ::setenv("TMPDIR", folder_.Path().c_str(), 1);
    }
    void TearDown() override {
        EXPECT_TRUE(fs::is_empty(folder_.Path())) << "stream files left behind";
        if (oldTmp_.empty()) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        }
    }
    test::TempFolder folder_;
    std::string oldTmp_;
    std::string output_, errors_, message_;
};

TEST_F(ConsoleProgram, RunsWithItsStreamsInFiles) {
    ASSERT_TRUE(RunConsoleProgram("/bin/sh -c \"tr a-z A-Z; echo oops >&2; exit 3\"",
                                  "hello\nworld", 5000, output_, errors_, message_))
        << message_;
    EXPECT_EQ(output_, "HELLO\nWORLD");
    EXPECT_EQ(errors_, "oops\n");
    EXPECT_EQ(message_, "");
}

TEST_F(ConsoleProgram, ReadsOutputOfEveryLength) {
    for (int size : {0, 511, 512, 1024, 70000}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(RunConsoleProgram("head -c " + std::to_string(size) + " /dev/zero", "", 0,
                                      output_, errors_, message_))
            << message_;
        EXPECT_EQ(output_, std::string(static_cast<std::size_t>(size), '\0'));
    }
}

TEST_F(ConsoleProgram, ProgramThatCannotStart) {
    output_ = "stale";
    EXPECT_FALSE(
        RunConsoleProgram("/nonexistent/ipconfig /all", "", 2000, output_, errors_, message_));
    EXPECT_EQ(message_, "Failed to create process");
    EXPECT_EQ(output_, "");
    EXPECT_FALSE(RunConsoleProgram("", "", 2000, output_, errors_, message_));
    EXPECT_EQ(message_, "Failed to create process");
}

TEST_F(ConsoleProgram, ProgramStillRunningAtTheLimitIsLeftRunning) {
    test::TempFolder programs;
    const std::string program = UniqueProgramCopy(programs, "/bin/sleep");
    const auto start = Clock::now();
    EXPECT_FALSE(RunConsoleProgram(program + " 30", "", 200, output_, errors_, message_));
    EXPECT_LE(MsSince(start), 5000);
    EXPECT_EQ(message_, "Timed out waiting for process to complete");
    const ProcessId pid = FindProcessByExePattern(program);
    ASSERT_NE(pid, 0u);
    EXPECT_TRUE(CloseProcess(pid, 1000));
    EXPECT_TRUE(WaitUntil([&] { return !IsProcessRunning(pid); }));
}

// --- module start and end, the stack-overflow hook -------------------------------------------

TEST(Module, StartSetsTheTitleAndInstallsTheHook) {
    SetApplicationTitle("Other");
    VornUtilModuleStart();
    EXPECT_EQ(ApplicationTitle(), "Gatemoor");
    EXPECT_TRUE(StackOverflowHookInstalled());
}

TEST(Module, EndClosesTheHelpViewer) {
    Child viewer({"/bin/sleep", "30"});
    ASSERT_NE(viewer.Pid(), 0u);
    SetHelpViewerProcessId(viewer.Pid());
    VornUtilModuleEnd();
    EXPECT_EQ(HelpViewerProcessId(), 0u);
    EXPECT_TRUE(KilledBy(viewer.Wait(), SIGTERM));
}

// Never false; the compiler cannot know that, so the recursion is not optimised away.
volatile bool gDeeper = true;

[[gnu::noinline]] int Recurse(volatile char* previous) {
    volatile char frame[512];
    frame[0] = static_cast<char>(previous ? previous[0] + 1 : 0);
    return gDeeper ? Recurse(frame) + frame[1] : frame[0];
}

class StackOverflowHook : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(StackOverflowHook, ReportsTheOverflowAndDiesOfIt) {
    EXPECT_EXIT(
        {
            InstallStackOverflowHook();
            Recurse(nullptr);
        },
        ::testing::KilledBySignal(SIGSEGV), "Gatemoor: Stack overflow in thread [0-9]+");
}

TEST_F(StackOverflowHook, PreparedWorkerThreadReportsItsOverflow) {
    EXPECT_EXIT(
        {
            InstallStackOverflowHook();
            std::thread([] {
                PrepareThreadForStackOverflow();
                Recurse(nullptr);
            }).join();
        },
        ::testing::KilledBySignal(SIGSEGV), "Gatemoor: Stack overflow in thread [0-9]+");
}

// AddressSanitizer reports the wild write itself and aborts; a plain build dies of the
// signal, passed on to the default action.
bool DiesOfAnOrdinaryFault(int status) {
#if defined(__SANITIZE_ADDRESS__)
    return status != 0;
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
#endif
}

TEST_F(StackOverflowHook, OtherFaultsAreNoOverflow) {
    EXPECT_EXIT(
        {
            InstallStackOverflowHook();
            volatile std::uintptr_t wild = 16;
            *reinterpret_cast<volatile int*>(wild) = 1;
        },
        DiesOfAnOrdinaryFault, ::testing::Not(::testing::HasSubstr("Stack overflow")));
}

}  // namespace
}  // namespace gatemoor
