#include <gtest/gtest.h>

#include <QByteArray>
#include <random>

#include "screening/VornUtilPack.h"

namespace gatemoor {
namespace {

// Base64 decoded by Qt, a decoder independent of the one under test.
std::string Unbase64(const std::string& text) {
    auto result = QByteArray::fromBase64Encoding(QByteArray::fromStdString(text),
                                                 QByteArray::AbortOnBase64DecodingErrors);
    EXPECT_TRUE(result) << text;
    return result.decoded.toStdString();
}

std::string Base64(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toBase64().toStdString();
}

std::string RandomBytes(std::mt19937& engine, std::size_t length) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text(length, '\0');
    for (auto& c : text)
        c = static_cast<char>(byte(engine));
    return text;
}

TEST(PackText, ShortTextIsStoredBehindDots) {
    EXPECT_EQ(PackText("ab"), "Ai4uYWI=");
    EXPECT_EQ(Unbase64(PackText("ab")), std::string("\x02..ab"));
    EXPECT_EQ(UnpackText("Ai4uYWI="), "ab");
    EXPECT_EQ(PackText(""), "");
    EXPECT_EQ(UnpackText(""), "");
}

TEST(PackText, DotsGoInFrontOfShortOrDottedText) {
    struct Case {
        const char* name;
        std::string text;
        std::string stored;
    } cases[] = {
        {"one character", "x", "..x"},        {"only dots", "..", "...."},
        {"three characters", "abc", "abc"},   {"begins with two dots", "..abc", "....abc"},
        {"one dot in front", ".abc", ".abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string packed = PackText(c.text);
        EXPECT_EQ(Unbase64(packed), std::string(1, '\x02') + c.stored);
        EXPECT_EQ(UnpackText(packed), c.text);
    }
}

TEST(PackText, LongTextIsSplayCoded) {
    const std::string address =
        "http://127.0.0.1:6173/GetReport?id=" + std::string(100, 'x') + "&user=SingleUser&part=7";
    ASSERT_GE(address.size(), 100u);
    const std::string packed = PackText(address);
    const std::string bytes = Unbase64(packed);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], '\0');
    EXPECT_LT(bytes.size(), address.size());  // the run of x codes short
    EXPECT_EQ(UnpackText(packed), address);
}

TEST(PackText, CodeFollowsTheSplayTree) {
    // In the fresh tree "a" (leaf 353) sits at 0-1-1-0-0-0-1-0 from the root; splaying
    // brings it to 1-0-1-0, then 0-0, then right below the root, where it stays.
    const std::string bytes = Unbase64(PackText(std::string(100, 'a')));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x00);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0x46);
    EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0xC5);
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 0xFF);
}

TEST(PackText, RoundTripsEveryLengthUpTo5000) {
    std::mt19937 engine(20240611);
    for (std::size_t length = 0; length <= 5000; ++length) {
        // Alternate random bytes with a small alphabet, which codes short.
        std::string text = RandomBytes(engine, length);
        if (length % 2 == 1) {
            for (auto& c : text)
                c = "ab. \r\n"[static_cast<unsigned char>(c) % 6];
        }
        const std::string packed = PackText(text);
        if (length > 0) {
            const bool dots = length < 3 || text.starts_with("..");
            const std::size_t stored = length + (dots ? 2 : 0);
            const std::string bytes = Unbase64(packed);
            ASSERT_FALSE(bytes.empty());
            EXPECT_EQ(bytes[0], stored < 100 ? '\x02' : '\0') << "length " << length;
        }
        ASSERT_EQ(UnpackText(packed), text) << "length " << length;
    }
}

TEST(PackText, RoundTripsAcrossBlocks) {
    std::mt19937 engine(7);
    for (std::size_t length : {32766u, 32767u, 32768u, 65534u, 65535u, 100000u}) {
        SCOPED_TRACE(length);
        const std::string text = RandomBytes(engine, length);
        EXPECT_EQ(UnpackText(PackText(text)), text);
    }
}

TEST(UnpackText, BadInput) {
    struct Case {
        const char* name;
        std::string text;
        std::string result;
    } cases[] = {
        {"not Base64 is unpacked itself", "\x02hello!", "hello!"},
        {"not Base64 with an unknown method", "hello!", ""},
        {"unknown method", Base64("\x05payload"), ""},
        {"method byte only", Base64(std::string(1, '\0')), ""},
        {"stored, two dots and one character", Base64("\x02..x"), "x"},
        {"stored, just two dots", Base64("\x02.."), ".."},
        {"padding inside is not Base64", "Ai==Ai4u", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UnpackText(c.text), c.result);
    }
}

TEST(UnpackText, JunkNeverCrashesAndStaysBounded) {
    std::mt19937 engine(99);
    std::uniform_int_distribution<std::size_t> length(0, 3000);
    for (int round = 0; round < 3000; ++round) {
        std::string junk = RandomBytes(engine, length(engine));
        if (round % 3 == 0 && !junk.empty()) junk[0] = '\0';  // as method 0
        // Raw junk, and the same junk as valid Base64 so that it reaches the decoder.
        const std::string raw = UnpackText(junk);
        const std::string decoded = UnpackText(Base64(junk));
        EXPECT_LE(raw.size(), 8 * junk.size());
        EXPECT_LE(decoded.size(), 8 * junk.size());
    }
}

}  // namespace
}  // namespace gatemoor
