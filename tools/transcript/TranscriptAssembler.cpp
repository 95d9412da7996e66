#include "TranscriptAssembler.h"

#include "foundation/Transcript.h"

namespace gatemoor::tools {
namespace {

namespace proto = transcript_protocol;

// A chunk holds up to four characters, the first in the lowest byte; zero bytes pad.
void AppendChunk(std::string& text, std::int64_t lParam) {
    const auto value = static_cast<std::uint32_t>(lParam);
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((value >> (8 * i)) & 0xFF);
        if (c == '\0') break;
        text += c;
    }
}

}  // namespace

std::optional<AssembledLine> TranscriptAssembler::Feed(const platform::BusMessage& message) {
    const auto tag = static_cast<std::uint32_t>(message.wParam);
    const auto value = static_cast<std::uint32_t>(message.lParam);
    if (message.message == proto::kBegin) {
        open_[tag] = AssembledLine{};
        open_[tag].tag = tag;
        return std::nullopt;
    }
    auto it = open_.find(tag);
    if (it == open_.end()) return std::nullopt;  // its begin was lost: nothing to join
    AssembledLine& line = it->second;
    switch (message.message) {
        case proto::kId: line.id = static_cast<std::int32_t>(value); break;
        case proto::kThreadId: line.threadId = value; break;
        case proto::kCpuTime: line.threadCpuTime = value; break;
        case proto::kProcessId: line.processId = value; break;
        case proto::kService: AppendChunk(line.service, message.lParam); break;
        case proto::kText: AppendChunk(line.text, message.lParam); break;
        case proto::kLevel: line.level = value; break;
        case proto::kIsError: line.isError = value != 0; break;
        case proto::kEnd: {
            AssembledLine done = std::move(line);
            open_.erase(it);
            return done;
        }
        default:
            if (message.message >= proto::kMemoryFirst && message.message <= proto::kMemoryLast) {
                line.hasMemory = true;
                line.memory[message.message - proto::kMemoryFirst] = value;
            }
            break;
    }
    return std::nullopt;
}

std::string TranscriptAssembler::Format(const AssembledLine& line) {
    std::string out = "[" + std::to_string(line.id) + "] " + line.service + " L" +
                      std::to_string(line.level) + (line.isError ? " ERROR" : "") +
                      " tid=" + std::to_string(line.threadId) +
                      " pid=" + std::to_string(line.processId) +
                      " cpu=" + std::to_string(line.threadCpuTime);
    if (line.hasMemory)
        out += " heap=" + std::to_string(line.memory[0]) + "/" + std::to_string(line.memory[3]);
    return out + ": " + line.text;
}

}  // namespace gatemoor::tools
