#include "foundation/Transcript.h"

#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/SettingsCatalogue.h"
#include "foundation/Time.h"
#include "foundation/VornReg.h"
#include "foundation/VornThread.h"
#include "platform/SystemServices.h"
#include "platform/WindowBus.h"

namespace gatemoor {
namespace {

namespace proto = transcript_protocol;

constexpr std::size_t kMaxTextLength = 500;

// Settings are read by every thread without a lock; atomics keep that well defined.
struct AtomicSettings {
    std::atomic<bool> sendAnything{true};
    std::atomic<bool> sendErrorsOnly{false};
    std::atomic<int> minimumLevel{1};
    std::atomic<int> beepOnErrorLevel{0};
    std::atomic<bool> sendMemory{false};
    std::atomic<bool> sendUdp{true};
    std::atomic<int> compressUdp{0};
    std::atomic<int> udpPacketSize{512};
};

AtomicSettings gSettings;
std::atomic<std::int32_t> gSequence{0};
std::atomic<bool> gInsideDispatch{false};

// The memory manager's heap status, in the order the viewer protocol numbers it.
struct MemoryStats {
    std::uint32_t totalAddressSpace = 0, totalUncommitted = 0, totalCommitted = 0,
                  totalAllocated = 0, totalFree = 0, freeSmall = 0, freeBig = 0, unused = 0,
                  overhead = 0, heapErrorCode = 0;
};

// Where the allocator keeps no statistics (a replaced allocator, as under the address
// sanitizer), the process's own sizes stand in, so that the switch still shows something.
MemoryStats ProcessMemoryStats() {
    MemoryStats stats;
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file) return stats;
    unsigned long long size = 0, resident = 0;
    if (std::fscanf(file, "%llu %llu", &size, &resident) == 2) {
        const auto page = static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE));
        stats.totalAddressSpace = static_cast<std::uint32_t>(size * page);
        stats.totalCommitted = static_cast<std::uint32_t>(resident * page);
        stats.totalUncommitted = stats.totalAddressSpace - stats.totalCommitted;
        stats.totalAllocated = stats.totalCommitted;
    }
    std::fclose(file);
    return stats;
}

MemoryStats ReadMemoryStats() {
    struct mallinfo2 info = ::mallinfo2();
    if (info.arena + info.hblkhd == 0) return ProcessMemoryStats();
    auto low32 = [](std::size_t v) { return static_cast<std::uint32_t>(v); };
    MemoryStats stats;
    stats.totalCommitted = low32(info.arena + info.hblkhd);
    stats.totalAddressSpace = stats.totalCommitted;
    stats.totalUncommitted = 0;  // the allocator maps what it holds
    stats.totalAllocated = low32(info.uordblks + info.hblkhd);
    stats.totalFree = low32(info.fordblks);
    stats.freeSmall = low32(info.fsmblks);
    stats.freeBig = low32(info.fordblks - info.fsmblks);
    stats.unused = low32(info.keepcost);
    stats.overhead = low32(info.arena - info.uordblks - info.fordblks);
    return stats;
}

std::string TruncatedText(std::string_view text) {
    if (text.size() <= kMaxTextLength) return std::string(text);
    return "TRUNCATED(" + std::to_string(text.size()) +
           "bytes):" + std::string(text.substr(0, kMaxTextLength));
}

void ReplaceEvery(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

// CR LF pairs first, so that a pair becomes one marker and never "<CR><LF>".
std::string EscapeLineBreaks(std::string text) {
    ReplaceEvery(text, "\r\n", "<CRLF>");
    ReplaceEvery(text, "\r", "<CR>");
    ReplaceEvery(text, "\n", "<LF>");
    return text;
}

// Four characters per message, the first in the lowest byte, the last chunk padded
// with zero bytes; an empty text sends nothing.
void AddChunks(std::vector<platform::PostItem>& burst, std::uint32_t message, std::uint32_t tag,
               std::string_view text) {
    for (std::size_t pos = 0; pos < text.size(); pos += 4) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4 && pos + i < text.size(); ++i)
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[pos + i]))
                     << (8 * i);
        burst.push_back({message, tag, value});
    }
}

std::uint32_t RandomTag() {
    std::uint32_t value = 0;
    platform::RandomBytes(&value, sizeof value);
    return value % 2147483647u;  // 0 to 2147483646
}

struct TranscriptLine {
    std::int32_t id = 0;
    std::string service;
    std::string text;
    std::uint8_t level = 5;
    bool isError = false;
    TDateTime createdAt = 0;
    std::uint32_t threadId = 0;
    std::uint32_t processId = 0;
    std::uint32_t threadCpuTime = 0;
    std::uint32_t tag = 0;
    MemoryStats memory;
};

// The messages of one line travel as one burst, so that a viewer gets all of a line or
// none of it.
void PostLine(const platform::BusWindow& viewer, const TranscriptLine& line) {
    std::vector<platform::PostItem> burst;
    burst.reserve(24 + (line.service.size() + line.text.size()) / 4);
    auto add = [&](std::uint32_t message, std::int64_t value) {
        burst.push_back({message, line.tag, value});
    };
    add(proto::kBegin, line.tag);
    add(proto::kId, line.id);
    add(proto::kThreadId, line.threadId);
    add(proto::kCpuTime, line.threadCpuTime);
    add(proto::kProcessId, line.processId);
    if (line.memory.totalAddressSpace != 0) {
        const std::array<std::uint32_t, 8> group{line.memory.totalAddressSpace,
                                                 line.memory.totalUncommitted,
                                                 line.memory.totalCommitted,
                                                 line.memory.totalFree,
                                                 line.memory.freeSmall,
                                                 line.memory.freeBig,
                                                 line.memory.unused,
                                                 line.memory.overhead};
        for (std::size_t i = 0; i < group.size(); ++i)
            add(proto::kMemoryFirst + static_cast<std::uint32_t>(i), group[i]);
    }
    AddChunks(burst, proto::kService, line.tag, line.service);
    AddChunks(burst, proto::kText, line.tag, line.text);
    add(proto::kLevel, line.level);
    add(proto::kIsError, line.isError ? 1 : 0);
    add(proto::kEnd, 0);
    platform::PostMessages(viewer, burst);
    sched_yield();
}

// A worker that reports a stack overflow is asked to stop itself; the main thread asks
// the application to shut down in order.
void ReactToStackOverflow() {
    if (platform::IsMainThread()) {
        platform::RequestApplicationQuit();
    } else if (TVornThread* worker = CurrentVornThread()) {
        worker->Terminate();
    }
}

}  // namespace

bool Transcript(std::string_view service, std::string_view text, std::uint8_t level, bool isError) {
    const int beepLevel = gSettings.beepOnErrorLevel.load();
    if (isError && beepLevel != 0 && level >= beepLevel) platform::Beep();

    if ((gSettings.sendErrorsOnly.load() && !isError) || level < gSettings.minimumLevel.load() ||
        !gSettings.sendAnything.load())
        return true;

    TranscriptLine line;
    auto viewer = platform::FindWindow(proto::kViewerClass);
    line.createdAt = Now();
    line.threadId = platform::CurrentThreadId();
    line.processId = platform::CurrentProcessId();
    line.tag = RandomTag();
    line.id = gSequence.fetch_add(1) + 1;
    line.service = std::string(service);
    line.text = TruncatedText(text);
    if (gInsideDispatch.load())
        line.text = (platform::IsMainThread() ? "." : ",") + line.text;
    line.threadCpuTime = ThreadCpuTime();
    if (gSettings.sendMemory.load()) line.memory = ReadMemoryStats();
    line.text = EscapeLineBreaks(std::move(line.text));
    line.level = level;
    line.isError = isError;
    if (viewer) PostLine(*viewer, line);

    if (text.find("Stack overflow") != std::string_view::npos) ReactToStackOverflow();
    return true;
}

TranscriptSettings CurrentTranscriptSettings() {
    TranscriptSettings s;
    s.sendAnything = gSettings.sendAnything;
    s.sendErrorsOnly = gSettings.sendErrorsOnly;
    s.minimumLevel = gSettings.minimumLevel;
    s.beepOnErrorLevel = gSettings.beepOnErrorLevel;
    s.sendMemory = gSettings.sendMemory;
    s.sendUdp = gSettings.sendUdp;
    s.compressUdp = gSettings.compressUdp;
    s.udpPacketSize = gSettings.udpPacketSize;
    return s;
}

void SetTranscriptSettings(const TranscriptSettings& s) {
    gSettings.sendAnything = s.sendAnything;
    gSettings.sendErrorsOnly = s.sendErrorsOnly;
    gSettings.minimumLevel = s.minimumLevel;
    gSettings.beepOnErrorLevel = s.beepOnErrorLevel;
    gSettings.sendMemory = s.sendMemory;
    gSettings.sendUdp = s.sendUdp;
    gSettings.compressUdp = s.compressUdp;
    gSettings.udpPacketSize = s.udpPacketSize;
}

void LoadTranscriptSettings() {
    namespace cat = settings;
    TranscriptSettings s = CurrentTranscriptSettings();
    auto flag = [](const SettingDef& def, bool current) {
        return ReadSettingBool(def.section, def.name, current);
    };
    auto number = [](const SettingDef& def, int current) {
        return ReadSettingInteger(def.section, def.name, current);
    };
    s.sendAnything = flag(cat::kTransSendAnything, s.sendAnything);
    s.sendErrorsOnly = flag(cat::kTransSendErrorsOnly, s.sendErrorsOnly);
    s.minimumLevel = number(cat::kMinimumTranscriptLevel, s.minimumLevel);
    s.beepOnErrorLevel = number(cat::kTransBeepOnErrorLevel, s.beepOnErrorLevel);
    s.sendMemory = flag(cat::kTransSendMemory, s.sendMemory);
    s.sendUdp = flag(cat::kTransSendUDP, s.sendUdp);
    s.compressUdp = number(cat::kTransCompressUDP, s.compressUdp);
    s.udpPacketSize = number(cat::kTransUDPPacketSize, s.udpPacketSize);
    SetTranscriptSettings(s);
}

void SaveTranscriptSettings() {
    namespace cat = settings;
    const TranscriptSettings s = CurrentTranscriptSettings();
    WriteSetting(cat::kTransSendAnything, s.sendAnything);
    WriteSetting(cat::kTransSendErrorsOnly, s.sendErrorsOnly);
    WriteSetting(cat::kMinimumTranscriptLevel, s.minimumLevel);
    WriteSetting(cat::kTransBeepOnErrorLevel, s.beepOnErrorLevel);
    WriteSetting(cat::kTransSendMemory, s.sendMemory);
    WriteSetting(cat::kTransSendUDP, s.sendUdp);
    WriteSetting(cat::kTransCompressUDP, s.compressUdp);
    WriteSetting(cat::kTransUDPPacketSize, s.udpPacketSize);
}

std::int32_t TranscriptLinesProduced() {
    return gSequence.load();
}

void SetInsideMessageDispatch(bool inside) {
    gInsideDispatch = inside;
}
bool InsideMessageDispatch() {
    return gInsideDispatch.load();
}

}  // namespace gatemoor
