#include "foundation/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/Application.h"
#include "foundation/CommaText.h"
#include "foundation/VornCriticalSections.h"
#include "platform/SystemServices.h"

namespace gatemoor {
namespace {

constexpr int kPreWaitMs = 3000;
constexpr int kPreWaitStepMs = 250;
constexpr std::uint8_t kNeverWrittenLevel = 11;

struct LogState {
    TMutexCriticalSection lock{"Log_CS"};
    std::FILE* file = nullptr;
    std::string fileName;       // full path of the open file
    TDateTime fileDate = 0;
    bool createdThisRun = false;
    bool wroteToFile = false;
    std::atomic<int> detailLevel{10};
    std::atomic<int> retentionDays{7};
};

std::atomic<LogState*> gState{nullptr};

// A state taken out of service at module end stays allocated until the process exits:
// a WriteLog that loaded it just before module end may still be using it.
std::vector<std::unique_ptr<LogState>>& RetiredStates() {
    static std::vector<std::unique_ptr<LogState>> retired;
    return retired;
}

std::string FileNameFor(TDateTime date) {
    return ApplicationTitle() + " - " + FormatDateTime("dd mmm yyyy", date) + ".log";
}

bool EndsWithLogIgnoringCase(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".log";
}

// Creation time where the file system records it, else the last change.
std::time_t CreationTime(const std::string& path) {
    struct statx info {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) == 0) {
        if (info.stx_mask & STATX_BTIME) return static_cast<std::time_t>(info.stx_btime.tv_sec);
        return static_cast<std::time_t>(info.stx_mtime.tv_sec);
    }
    return std::numeric_limits<std::time_t>::max();
}

// Files created before the cut-off are deleted. The cut-off is converted from local
// time to the file system's universal time stamps, so no zone offset creeps in.
void DeleteOldLogFiles(LogState& state) {
    const std::time_t cutoff = UnixFromLocalDateTime(Now() - state.retentionDays.load());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(LogFolder(), ec)) {
        const std::string path = entry.path().string();
        if (!EndsWithLogIgnoringCase(entry.path().filename().string())) continue;
        if (path == state.fileName) continue;  // the open file is never old enough
        if (CreationTime(path) < cutoff) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

void OpenTodaysFile(LogState& state) {
    const TDateTime today = Today();
    const std::string path = LogFolder() + "/" + FileNameFor(today);
    const bool existed = std::filesystem::exists(path);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) throw ELogFileError("cannot open " + path + ": " + std::strerror(errno));
    if (state.file && std::fclose(state.file) != 0) {
        std::fclose(file);
        throw ELogFileError("cannot close " + state.fileName + ": " + std::strerror(errno));
    }
    state.file = file;
    state.fileName = path;
    state.fileDate = today;
    state.createdThisRun = !existed;
    state.wroteToFile = false;
}

void CloseFile(LogState& state) {
    if (!state.file) return;
    std::FILE* file = state.file;
    state.file = nullptr;
    const bool unused = state.createdThisRun && !state.wroteToFile;
    const std::string path = state.fileName;
    state.fileName.clear();
    if (std::fclose(file) != 0) throw ELogFileError("cannot close " + path);
    if (unused) std::remove(path.c_str());
}

std::string BuildLine(std::string_view service, const std::string& text, std::uint8_t level,
                      bool isError) {
    std::vector<std::string> items;
    if (!service.empty()) items.push_back("S=" + std::string(service));
    if (!text.empty()) items.push_back("T=" + text);
    items.push_back("D=" + std::to_string(level));
    items.push_back(std::string("E=") + (isError ? "1" : "0"));
    items.push_back("Ti=" + std::to_string(EncodeTimeOfDay(Now())));
    items.push_back("I=" + std::to_string(platform::CurrentThreadId()));
    return ToCommaText(items);
}

std::string ReplaceCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "<CRLF>";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void Append(LogState& state, const std::string& line) {
    const std::string record = line + "\r\n";
    if (std::fwrite(record.data(), 1, record.size(), state.file) != record.size() ||
        std::fflush(state.file) != 0)
        throw ELogFileError("cannot write " + state.fileName + ": " + std::strerror(errno));
    state.wroteToFile = true;
}

// A decimal integer with an optional sign, nothing else around it.
bool ParseInteger(const std::string& text, long long& value) {
    if (text.empty()) return false;
    std::size_t pos = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        pos = 1;
    }
    if (pos == text.size()) return false;
    long long result = 0;
    for (; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
        if (result > (std::numeric_limits<long long>::max() - 9) / 10) return false;
        result = result * 10 + (text[pos] - '0');
    }
    value = negative ? -result : result;
    return true;
}

struct LockHold {
    explicit LockHold(TMutexCriticalSection& lock) : lock_(lock) { lock_.Enter(); }
    ~LockHold() { lock_.Leave(); }
    TMutexCriticalSection& lock_;
};

}  // namespace

void WriteLog(std::string_view service, std::string_view text, std::uint8_t level, bool isError) {
    LogState* state = gState.load();
    if (!state) return;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPreWaitMs);
    while (state->lock.IsBusy() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPreWaitStepMs));
    LockHold hold(state->lock);
    if (level == kNeverWrittenLevel) return;
    if (!state->file) {
        OpenTodaysFile(*state);
    } else if (Today() != state->fileDate) {
        OpenTodaysFile(*state);
        DeleteOldLogFiles(*state);
    }
    const std::string escaped = ReplaceCrLf(text);
    if (level < 10 - state->detailLevel.load()) return;
    Append(*state, BuildLine(service, escaped, level, isError));
}

void ParseLogLine(std::string_view line, TLogRec& record) {
    LogState* state = gState.load();
    std::unique_ptr<LockHold> hold;
    if (state) hold = std::make_unique<LockHold>(state->lock);
    const std::vector<std::string> items = FromCommaText(line);
    auto value = [&](std::string_view name) { return ValueOfName(items, name).value_or(""); };
    long long number = 0;
    record.Service = value("S");
    record.Text = value("T");
    record.Detail = ParseInteger(value("D"), number) ? static_cast<int>(number) : 5;
    record.IsError = value("E") == "1";
    const std::string time = value("Ti");
    if (!ParseInteger(time, number))
        throw ELogLineError("'" + time + "' is not a valid integer value");
    record.Time = DecodeTimeOfDay(static_cast<std::int32_t>(number));
    if (ParseInteger(value("I"), number)) record.ThreadId = static_cast<std::uint32_t>(number);
}

std::string LogFileNameForToday() {
    LogState* state = gState.load();
    return FileNameFor(state ? state->fileDate : 0);
}

std::string CurrentLogFilePath() {
    LogState* state = gState.load();
    if (!state) return {};
    LockHold hold(state->lock);
    return state->fileName;
}

void FlushLog() {
    LogState* state = gState.load();
    if (!state) return;
    LockHold hold(state->lock);
    if (state->file) {
        std::fflush(state->file);
        ::fdatasync(::fileno(state->file));
    }
}

void SetDetailLevel(int level) {
    if (LogState* state = gState.load()) {
        LockHold hold(state->lock);
        state->detailLevel = level;
    }
}

void SetRetentionDays(int days) {
    if (LogState* state = gState.load()) {
        LockHold hold(state->lock);
        state->retentionDays = days;
    }
}

int DetailLevel() {
    LogState* state = gState.load();
    return state ? state->detailLevel.load() : 10;
}

int RetentionDays() {
    LogState* state = gState.load();
    return state ? state->retentionDays.load() : 7;
}

void LogModuleStart() {
    if (!gState.load()) gState.store(new LogState);
}

void LogModuleEnd() {
    LogState* state = gState.exchange(nullptr);
    if (!state) return;
    {
        LockHold hold(state->lock);
        try {
            CloseFile(*state);
        } catch (const ELogFileError&) {
            // Nothing is left to report it to at module end.
        }
    }
    RetiredStates().emplace_back(state);
}

}  // namespace gatemoor
