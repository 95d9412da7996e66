// Hostile and extreme messages: deep nesting, very many parts, a huge line, NUL bytes,
// delimiters that never close, header lines without ':'. Each one parses without a
// crash, and writing it back (full form) keeps every line that the parsing rules keep.
// Nothing here is timed: how the cost grows is measured by bench/bench_message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/EmailMsg.h"
#include "mail/EmailMsgPart.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

std::unique_ptr<TEmailMsg> Parsed(Lines lines) {
    auto message = std::make_unique<TEmailMsg>();
    message->SetSaveOnDestroy(false);
    message->SetEnsureTextBodyFlag(false);
    (void)message->SetRawMail(lines);
    (void)message->Parts();
    return message;
}

Lines Written(TEmailMsg& message, bool full = true) {
    Lines lines;
    (void)message.SaveToLines(lines, full);
    return lines;
}

// Pre-order, without recursion: the test must not be the one that overflows the stack.
std::vector<TEmailMsgPart*> AllParts(TEmailMsg& message) {
    std::vector<TEmailMsgPart*> parts;
    std::vector<std::pair<TEmailMsgPartCollection*, int>> stack{{&message.Parts(), 0}};
    while (!stack.empty()) {
        auto& [collection, next] = stack.back();
        if (next >= collection->Count()) {
            stack.pop_back();
            continue;
        }
        TEmailMsgPart* part = collection->Items(next++);
        parts.push_back(part);
        stack.emplace_back(&part->Children(), 0);
    }
    return parts;
}

std::string Decoded(TEmailMsgPart& part) {
    std::string bytes;
    (void)part.DecodeToBytes(bytes);
    return bytes;
}

// "b" + the number in five digits + "x": no boundary is a prefix of another, since the
// delimiter is searched anywhere in the text.
std::string Boundary(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "b%05dx", n);
    return text;
}

// Every operation that walks the whole tree once, on a message that must survive them.
void WalkEverything(TEmailMsg& message) {
    Lines text;
    message.GetPlainText(text, true);
    (void)message.FindBodyParts();
    (void)message.FindAlternative();
    (void)message.FindPartByField("Content-Type", "text/plain");
    Lines locations;
    message.GetContentLocations(locations);
    int parts = 0;
    (void)message.ForEachPart([&](TEmailMsgPart&) {
        ++parts;
        return std::string();
    });
    EXPECT_GT(parts, 0);
    (void)Written(message, false);
}

// --- Nesting ---

struct NestingCase {
    const char* name;
    bool multipart;  // nested multiparts; else nested attached messages
};

// 10,000 levels of multiparts (or of attached messages): parsing stops building
// children at the depth bound, the deeper levels stay one opaque body that still holds
// the innermost text, and the message is written back line for line.
TEST(MessageStress, TenThousandLevelsStayBoundedAndAreWrittenBackWhole) {
    constexpr int kLevels = 10000;
    const NestingCase cases[] = {{"multiparts", true}, {"attached messages", false}};
    for (const NestingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Lines original;
        if (c.multipart) {
            original = {"Content-Type: multipart/mixed; boundary=\"" + Boundary(0) + "\"", ""};
            for (int k = 0; k < kLevels; ++k) {
                original.push_back("--" + Boundary(k));
                original.push_back(k + 1 < kLevels ? "Content-Type: multipart/mixed; boundary=\"" +
                                                         Boundary(k + 1) + "\""
                                                   : "Content-Type: text/plain");
                original.emplace_back();
            }
            original.emplace_back("innermost body");
            for (int k = kLevels - 1; k >= 0; --k) original.push_back("--" + Boundary(k) + "--");
        } else {
            for (int k = 0; k < kLevels; ++k) {
                original.push_back("Subject: level " + std::to_string(k));
                original.emplace_back("Content-Type: message/rfc822");
                original.emplace_back();
            }
            original.emplace_back("Subject: innermost");
            original.emplace_back();
            original.emplace_back("innermost body");
        }

        auto message = Parsed(original);
        const std::vector<TEmailMsgPart*> parts = AllParts(*message);
        int deepest = 0;
        TEmailMsgPart* opaque = nullptr;
        for (TEmailMsgPart* part : parts) {
            if (part->Depth() > deepest) deepest = part->Depth();
            const bool container = part->Header()->IsMultipart() || part->Header()->IsRfc822();
            if (container && !part->IsPreamble() && part->Children().Empty()) opaque = part;
        }
        EXPECT_LE(deepest, kMaxPartDepth);
        EXPECT_GE(deepest, kMaxPartDepth - 1) << "parsing stopped well before the bound";
        ASSERT_NE(opaque, nullptr) << "no container was left opaque at the bound";
        EXPECT_NE(TextOfLines(opaque->StoredRawText()).find("innermost body"), std::string::npos)
            << "the levels below the bound lost the innermost text";

        WalkEverything(*message);
        EXPECT_EQ(Written(*message), original);
    }
}

// --- Width and size ---

// 20,000 parts in one multipart: every part is found, in order, with its own text.
TEST(MessageStress, TwentyThousandPartsAreAllKeptInOrder) {
    constexpr int kParts = 20000;
    Lines original = {"Content-Type: multipart/mixed; boundary=\"many\"", "", "preamble"};
    for (int i = 0; i < kParts; ++i) {
        original.emplace_back("--many");
        original.emplace_back("Content-Type: text/plain");
        original.emplace_back();
        original.push_back("part " + std::to_string(i));
    }
    original.emplace_back("--many--");
    original.emplace_back("epilogue");

    auto message = Parsed(original);
    TEmailMsgPartCollection& top = message->Parts();
    ASSERT_EQ(top.Count(), kParts + 1);
    EXPECT_TRUE(top.Items(0)->IsPreamble());
    for (int i = 0; i < kParts; ++i) {
        ASSERT_EQ(Decoded(*top.Items(i + 1)), "part " + std::to_string(i) + "\r\n") << i;
    }
    WalkEverything(*message);
    EXPECT_EQ(Written(*message), original);
}

struct HugeLineCase {
    const char* name;
    std::function<Lines(const std::string& line)> message;
};

// A line of 30 MiB, in the body of a single-part message, in a header field, and in a
// part of a multipart, is kept whole.
TEST(MessageStress, ThirtyMebibyteLineIsKeptWhole) {
    const std::string line(30u << 20, 'q');
    const HugeLineCase cases[] = {
        {"single-part body",
         [](const std::string& l) { return Lines{"Subject: big", "", "before", l, "after"}; }},
        {"header field",
         [](const std::string& l) { return Lines{"Subject: big", "X-Huge: " + l, "", "body"}; }},
        {"part of a multipart",
         [](const std::string& l) {
             return Lines{"Content-Type: multipart/mixed; boundary=\"z\"",
                          "",
                          "--z",
                          "Content-Type: text/plain",
                          "",
                          l,
                          "--z",
                          "Content-Type: text/plain",
                          "",
                          "small",
                          "--z--"};
         }},
    };
    for (const HugeLineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Lines original = c.message(line);
        auto message = Parsed(original);
        EXPECT_TRUE(Written(*message) == original) << "the written message differs";
    }
}

// --- Malformed structure ---

// The original lines in order, each found again in `written`; the lines in between
// that are new must satisfy `added`.
::testing::AssertionResult KeptInOrder(const Lines& original, const Lines& written,
                                       const std::function<bool(const std::string&)>& added) {
    std::size_t at = 0;
    for (const std::string& line : written) {
        if (at < original.size() && line == original[at]) {
            ++at;
        } else if (!added(line)) {
            return ::testing::AssertionFailure() << "unexpected line \"" << line << "\"";
        }
    }
    if (at < original.size())
        return ::testing::AssertionFailure() << "line " << at << " \"" << original[at] << "\" was lost";
    return ::testing::AssertionSuccess();
}

bool IsClosingDelimiter(const std::string& line) {
    return line.size() > 4 && line.starts_with("--") && line.ends_with("--");
}

bool IsEmpty(const std::string& line) {
    return line.empty();
}

struct MalformedCase {
    const char* name;
    Lines message;
    // What a line that writing adds must look like; null: nothing may be added.
    bool (*added)(const std::string& line);
};

// NUL bytes, delimiters that never close (the missing closing delimiter is added when
// writing back), boundary lines with trailing text, and header lines without ':' (no
// fields, but kept where they stood). Every line is written back, in order.
TEST(MessageStress, MalformedStructureLosesNothing) {
    using namespace std::string_literals;
    const MalformedCase cases[] = {
        // Inside header values: a header value loses the characters up to the blank at
        // its ends, NUL among them.
        {"NUL bytes in header, body and delimiter lines",
         {"Subject: a\0b"s, "Content-Type: multipart/mixed; boundary=\"n\"", "", "pre\0amble"s,
          "--n", "Content-Type: text/plain", "X-Nul: a\0\0b"s, "", "\0"s, "bo\0\0dy"s,
          "--n\0trailing"s, "Content-Type: application/octet-stream", "", "\0\0\0"s, "--n--",
          "epi\0logue"s},
         nullptr},
        {"multipart that never closes",
         {"Content-Type: multipart/mixed; boundary=\"open\"", "", "--open",
          "Content-Type: text/plain", "", "first", "--open", "Content-Type: text/plain", "",
          "last, and no closing delimiter"},
         IsClosingDelimiter},
        {"nested multipart that never closes inside a closed one",
         {"Content-Type: multipart/mixed; boundary=\"outer\"", "", "--outer",
          "Content-Type: multipart/alternative; boundary=\"inner\"", "", "--inner",
          "Content-Type: text/plain", "", "text", "--inner", "Content-Type: text/html", "",
          "<p>html</p>", "--outer", "Content-Type: text/plain", "", "after", "--outer--"},
         IsClosingDelimiter},
        {"delimiter that never appears",
         {"Content-Type: multipart/mixed; boundary=\"absent\"", "", "--other", "body", "--other--"},
         IsClosingDelimiter},
        {"closing delimiter with trailing blanks",
         {"Content-Type: multipart/mixed; boundary=\"t\"", "", "--t", "Content-Type: text/plain", "",
          "one", "--t--  ", "", "tail"},
         IsClosingDelimiter},
        {"header lines without colon",
         {"From someone Mon Jan 1 2001", "Subject: kept", "no colon here",
          "Content-Type: multipart/mixed; boundary=\"c\"", "", "--c", "Content-Type: text/plain",
          "also no colon", "", "body line", "--c--"},
         nullptr},
        // The header ends before the delimiter; writing adds the empty line it lacked.
        {"part header that runs into the next delimiter",
         {"Content-Type: multipart/mixed; boundary=\"r\"", "", "--r", "Content-Type: text/plain",
          "--r", "Content-Type: text/plain", "", "second", "--r--"},
         IsEmpty},
        {"main header that runs into the first delimiter",
         {"Content-Type: multipart/mixed; boundary=\"m\"", "not a field", "--m",
          "Content-Type: text/plain", "", "text", "--m--"},
         IsEmpty},
        {"a whole message without any line break", {std::string(1000, 'x')}, IsEmpty},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto message = Parsed(c.message);
        WalkEverything(*message);
        const Lines written = Written(*message);
        EXPECT_TRUE(KeptInOrder(c.message, written, [&](const std::string& line) {
            return c.added != nullptr && c.added(line);
        }));
        // What was written is read back the same way.
        auto again = Parsed(written);
        EXPECT_EQ(Written(*again), written);
    }
}

}  // namespace
}  // namespace gatemoor
