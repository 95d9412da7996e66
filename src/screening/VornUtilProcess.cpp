#include "screening/VornUtilProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "screening/VornUtil.h"
#include "screening/VornUtilBusyCursor.h"

extern char** environ;

namespace gatemoor {
namespace {

using namespace std::chrono_literals;

constexpr int kCloseCheckIntervalMs = 100;
constexpr std::size_t kReadBlockSize = 512;
// How often a timed wait for a console program looks whether it has ended.
constexpr auto kExitPollInterval = 5ms;

std::string ProcFile(ProcessId processId, const char* name) {
    return "/proc/" + std::to_string(processId) + "/" + name;
}

// Reads a small /proc file whole; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

bool IsValidProcessId(ProcessId processId) {
    return processId != 0 && processId <= static_cast<ProcessId>(INT_MAX);
}

std::vector<ProcessId> ListProcesses() {
    std::vector<ProcessId> ids;
    if (DIR* dir = ::opendir("/proc")) {
        while (dirent* item = ::readdir(dir)) {
            char* end = nullptr;
            const unsigned long id = std::strtoul(item->d_name, &end, 10);
            if (end != item->d_name && *end == '\0' && id > 0 && id <= INT_MAX)
                ids.push_back(static_cast<ProcessId>(id));
        }
        ::closedir(dir);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

char FoldCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool MatchesOne(char patternChar, char c) {
    switch (patternChar) {
        case '?':
            return true;
        case '#':
            return IsDigit(c);
        case '$':
            return IsLetter(c) || IsDigit(c);
        case '^':
            return IsLetter(c);
        case '~':
            return !IsLetter(c) && !IsDigit(c) && c != ' ';
        default:
            return FoldCase(patternChar) == FoldCase(c);
    }
}

enum class CloseRequest { None, Window, Signal };

CloseRequest RequestClose(ProcessId processId) {
    if (const auto window = FindProcessWindow(processId)) {
        if (platform::PostMessage(*window, platform::kWmClose, 0, 0)) return CloseRequest::Window;
    }
    // Most programs here have no window on the bus; SIGTERM is their close request.
    if (IsProcessRunning(processId) && ::kill(static_cast<pid_t>(processId), SIGTERM) == 0)
        return CloseRequest::Signal;
    return CloseRequest::None;
}

// An ended process may leave its window's entry behind until it is collected.
bool RequestTookEffect(ProcessId processId, CloseRequest request) {
    if (!IsProcessRunning(processId)) return true;
    return request == CloseRequest::Window && platform::WindowsOfProcess(processId).empty();
}

bool KillProcess(ProcessId processId) {
    if (::kill(static_cast<pid_t>(processId), SIGKILL) == 0) return true;
    // Gone already counts as closed; a process we may not signal is not closed.
    return errno == ESRCH;
}

// --- starting programs ----------------------------------------------------------------

struct ProgramCall {
    std::string program;            // a path, or a name to look up on PATH
    std::vector<std::string> argv;  // argv[0] is the name the program sees
};

// The program a command line names: its first word, or, when that names no executable
// file and the line is unquoted, the shortest run of first words that does (a path with
// blanks written without quotes).
std::optional<ProgramCall> ChooseProgram(std::string_view programPath,
                                         std::string_view commandLine) {
    ProgramCall call;
    call.argv = SplitCommandLine(commandLine);
    if (!programPath.empty()) {
        call.program = std::string(programPath);
        if (call.argv.empty()) call.argv.push_back(call.program);
        return call;
    }
    if (call.argv.empty()) return std::nullopt;
    call.program = call.argv.front();
    const std::string_view trimmed = commandLine.substr(commandLine.find_first_not_of(" \t"));
    if (trimmed.front() == '"' || IsExecutableFile(call.program)) return call;
    std::string joined = call.program;
    for (std::size_t words = 2; words <= call.argv.size(); ++words) {
        joined += " " + call.argv[words - 1];
        if (joined.find('/') == std::string::npos || !IsExecutableFile(joined)) continue;
        call.program = joined;
        call.argv.erase(call.argv.begin() + 1, call.argv.begin() + static_cast<long>(words));
        call.argv.front() = joined;
        break;
    }
    return call;
}

// Starts the call in a session of its own with the given standard streams (-1: this
// process's own). 0 when it could not be started.
pid_t Spawn(const ProgramCall& call, const int (&streams)[3]) {
    std::vector<char*> argv;
    for (const std::string& word : call.argv)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int target = 0; target < 3; ++target)
        if (streams[target] >= 0)
            posix_spawn_file_actions_adddup2(&actions, streams[target], target);
    // The program starts clean: no signal blocked or ignored because this process is.
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal :
         {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#endif
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = 0;
    const bool searchPath = call.program.find('/') == std::string::npos;
    const int error = searchPath ? ::posix_spawnp(&pid, call.program.c_str(), &actions, &attributes,
                                                  argv.data(), environ)
                                 : ::posix_spawn(&pid, call.program.c_str(), &actions, &attributes,
                                                 argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : 0;
}

// Nobody waits for a program that was started and let go; this thread collects its end
// so that it does not linger as a zombie.
void CollectWhenEnded(pid_t pid) {
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the ended program stays a zombie until this process ends.
    }
}

// --- console programs -------------------------------------------------------------------

// The three stream files of a console run; closed and deleted at the end.
class TStreamFiles {
public:
    TStreamFiles() = default;
    ~TStreamFiles() {
        for (int i = 0; i < 3; ++i) {
            if (fds_[i] >= 0) ::close(fds_[i]);
            if (!paths_[i].empty()) ::unlink(paths_[i].c_str());
        }
    }
    TStreamFiles(const TStreamFiles&) = delete;
    TStreamFiles& operator=(const TStreamFiles&) = delete;

    bool Create(std::string& message) {
        static const char* const kBaseNames[3] = {"VornsmithyIn", "VornsmithyOut", "VornsmithyErr"};
        for (int i = 0; i < 3; ++i) {
            GetUniquePath("", kBaseNames[i], ".tmp", paths_[i]);
            // Replaces an old file of that name, but never follows a link planted there.
            fds_[i] = ::open(paths_[i].c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                             0600);
            if (fds_[i] < 0) {
                message =
                    "WinApi function CreateFile returned an invalid file handle for " + paths_[i];
                paths_[i].clear();  // not ours to delete
                return false;
            }
        }
        return true;
    }
    [[nodiscard]] int In() const { return fds_[0]; }
    [[nodiscard]] int Out() const { return fds_[1]; }
    [[nodiscard]] int Err() const { return fds_[2]; }
    [[nodiscard]] const int (&All() const)[3] { return fds_; }

private:
    int fds_[3] = {-1, -1, -1};
    std::string paths_[3];
};

bool WriteInput(int fd, std::string_view input, std::string& message) {
    std::size_t written = 0;
    while (written < input.size()) {
        const ssize_t put = ::write(fd, input.data() + written, input.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && written == 0) {
            message = "Error writing to input file";
            return false;
        }
        if (put <= 0) {
            message = "Wrote " + std::to_string(written) + " bytes to input file rather than " +
                      std::to_string(input.size()) + " bytes";
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        message = "Error reseting input file pointer";
        return false;
    }
    return true;
}

// Waits for the program's end, at most timeoutMs (0: without limit).
bool WaitForEnd(pid_t pid, int timeoutMs, std::string& message) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t done = ::waitpid(pid, nullptr, timeoutMs == 0 ? 0 : WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {
            message =
                std::string("CreateDOSProcessRedirected 1 excepted with: ") + std::strerror(errno);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            message = "Timed out waiting for process to complete";
            CollectWhenEnded(pid);  // it keeps running; its end is still collected
            return false;
        }
        std::this_thread::sleep_for(kExitPollInterval);
    }
}

bool RunRedirected(std::string_view commandLine, const TStreamFiles& files, int timeoutMs,
                   std::string& message) {
    const auto call = ChooseProgram({}, commandLine);
    const pid_t pid = call ? Spawn(*call, files.All()) : 0;
    if (pid == 0) {
        message = "Failed to create process";
        return false;
    }
    return WaitForEnd(pid, std::max(0, timeoutMs), message);
}

bool ReadBack(int fd, std::string& text, std::string& message) {
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        message = "Error reseting Output file pointer";
        return false;
    }
    char block[kReadBlockSize];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            message = "Error reading output file";
            return false;
        }
        text.append(block, static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < sizeof block) return true;
    }
}

}  // namespace

bool IsProcessRunning(ProcessId processId) {
    if (!IsValidProcessId(processId)) return false;
    const std::string stat = ReadSmallFile(ProcFile(processId, "stat"));
    // The state follows the command name in parentheses, which may itself hold ")".
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    return state != 'Z' && state != 'X' && state != 'x';
}

std::optional<platform::BusWindow> FindProcessWindow(ProcessId processId) {
    if (processId == 0) return std::nullopt;
    auto windows = platform::WindowsOfProcess(processId);
    if (windows.empty()) return std::nullopt;
    return std::move(windows.front());
}

bool CloseProcessWindow(ProcessId processId) {
    return IsValidProcessId(processId) && RequestClose(processId) != CloseRequest::None;
}

bool CloseProcess(ProcessId processId, int waitMs) {
    if (processId == 0) return true;
    if (!IsValidProcessId(processId)) return false;
    const CloseRequest request = RequestClose(processId);
    if (request != CloseRequest::None) {
        const int checks = std::max(0, waitMs) / kCloseCheckIntervalMs + 1;
        for (int check = 0; check < checks; ++check) {
            if (RequestTookEffect(processId, request)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(kCloseCheckIntervalMs));
        }
    }
    return KillProcess(processId);
}

std::string ProcessExePath(ProcessId processId) {
    if (!IsValidProcessId(processId)) return {};
    const std::string link = ProcFile(processId, "exe");
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0) break;
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);  // cut short: read again with more room
    }
    std::string name = ReadSmallFile(ProcFile(processId, "comm"));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return name;
}

ProcessId FindProcessByExePattern(std::string_view pattern) {
    std::vector<ProcessId> candidates;
    for (const auto& window : platform::ListWindows())
        if (std::find(candidates.begin(), candidates.end(), window.processId) == candidates.end())
            candidates.push_back(window.processId);
    // Few programs here own a bus window, so every other process is looked at too.
    for (ProcessId id : ListProcesses())
        if (std::find(candidates.begin(), candidates.end(), id) == candidates.end())
            candidates.push_back(id);
    for (ProcessId id : candidates) {
        const std::string path = ProcessExePath(id);
        if (!path.empty() && WildcardMatch(path, pattern)) return id;
    }
    return 0;
}

bool WildcardMatch(std::string_view text, std::string_view pattern) {
    if (text.empty() || pattern.empty()) return false;
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starAt = std::string_view::npos;  // the last "*" seen and where it began
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            starText = t;
        } else if (p < pattern.size() && MatchesOne(pattern[p], text[t])) {
            ++p;
            ++t;
        } else if (starAt != std::string_view::npos) {
            // The last "*" takes one more character and the rest is tried again.
            p = starAt + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::optional<platform::BusWindow> FindWindowByClass(std::string_view className) {
    return platform::FindWindow(className);
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

ProcessId StartProgram(std::string_view programPath, std::string_view commandLine, bool show) {
    const auto call = ChooseProgram(programPath, commandLine);
    if (!call) return 0;
    int streams[3] = {-1, -1, -1};
    int nullDevice = -1;
    if (!show) {
        nullDevice = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (nullDevice < 0) return 0;
        std::fill(std::begin(streams), std::end(streams), nullDevice);
    }
    const pid_t pid = Spawn(*call, streams);
    if (nullDevice >= 0) ::close(nullDevice);
    if (pid == 0) return 0;
    CollectWhenEnded(pid);
    return static_cast<ProcessId>(pid);
}

bool RunConsoleProgram(std::string_view commandLine, std::string_view input, int timeoutMs,
                       std::string& output, std::string& errorOutput, std::string& message) {
    output.clear();
    errorOutput.clear();
    message.clear();
    TBusyCursor busy;
    TStreamFiles files;
    if (!files.Create(message) || !WriteInput(files.In(), input, message)) return false;
    const bool ranToEnd = RunRedirected(commandLine, files, timeoutMs, message);
    // What a program wrote is read back even when it failed or is still running; output
    // that cannot be read back makes the run a failure.
    std::string readMessage;
    if (!ReadBack(files.Out(), output, readMessage) ||
        !ReadBack(files.Err(), errorOutput, readMessage)) {
        message = readMessage;
        return false;
    }
    return ranToEnd;
}

}  // namespace gatemoor
