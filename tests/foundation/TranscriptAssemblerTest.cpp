#include <gtest/gtest.h>

#include "TranscriptAssembler.h"
#include "foundation/Transcript.h"

namespace gatemoor::tools {
namespace {

namespace proto = transcript_protocol;

platform::BusMessage Msg(std::uint32_t number, std::uint32_t tag, std::int64_t value) {
    return platform::BusMessage{number, tag, value, 0, false};
}

TEST(TranscriptAssembler, InterleavedLinesAreJoinedByTag) {
    TranscriptAssembler assembler;
    const std::vector<platform::BusMessage> stream{
        Msg(proto::kBegin, 1, 1),   Msg(proto::kBegin, 2, 2),    Msg(proto::kId, 1, 10),
        Msg(proto::kId, 2, 11),     Msg(proto::kText, 2, 'Y'),   Msg(proto::kText, 1, 0x64636261),
        Msg(proto::kText, 1, 'e'),  Msg(proto::kLevel, 1, 10),   Msg(proto::kIsError, 1, 1),
        Msg(proto::kEnd, 2, 0),     Msg(proto::kEnd, 1, 0),      Msg(proto::kText, 3, 'z'),
    };
    std::vector<AssembledLine> lines;
    for (const auto& m : stream)
        if (auto line = assembler.Feed(m)) lines.push_back(*line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].id, 11);
    EXPECT_EQ(lines[0].text, "Y");
    EXPECT_EQ(lines[1].id, 10);
    EXPECT_EQ(lines[1].text, "abcde");
    EXPECT_TRUE(lines[1].isError);
    EXPECT_EQ(assembler.Unfinished(), 0u) << "a chunk without its begin is ignored";
    EXPECT_EQ(TranscriptAssembler::Format(lines[1]), "[10]  L10 ERROR tid=0 pid=0 cpu=0: abcde");
}

}  // namespace
}  // namespace gatemoor::tools
