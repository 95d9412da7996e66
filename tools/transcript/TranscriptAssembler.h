// Reassembles transcript lines from the viewer protocol's messages: everything from a
// line's begin message to its end message, collected per tag, since lines of several
// threads and processes may interleave.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/WindowBus.h"

namespace gatemoor::tools {

struct AssembledLine {
    std::uint32_t tag = 0;
    std::int32_t id = 0;
    std::uint32_t threadId = 0;
    std::uint32_t threadCpuTime = 0;
    std::uint32_t processId = 0;
    bool hasMemory = false;
    std::array<std::uint32_t, 8> memory{};
    std::string service;
    std::string text;
    std::uint32_t level = 0;
    bool isError = false;
};

class TranscriptAssembler {
public:
    // Takes one message; answers the finished line when it was a line's end.
    std::optional<AssembledLine> Feed(const platform::BusMessage& message);
    [[nodiscard]] std::size_t Unfinished() const { return open_.size(); }

    // One printable line: "[id] service L<level>[ ERROR] tid=.. pid=.. cpu=..: text".
    [[nodiscard]] static std::string Format(const AssembledLine& line);

private:
    std::map<std::uint32_t, AssembledLine> open_;
};

}  // namespace gatemoor::tools
