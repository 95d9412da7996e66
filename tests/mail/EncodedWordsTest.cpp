#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "mail/EncodedWords.h"

namespace gatemoor {
namespace {

using namespace std::string_literals;

struct TCodecCase {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(DecodeHeaderText, DecodesWordsByItsRules) {
    const TCodecCase cases[] = {
        {"q with hex and underscore", "=?ISO-8859-1?Q?Caf=E9_au_lait?=", "Caf\xE9 au lait"},
        {"q lower-case hex", "=?iso-8859-1?q?=e9t=E9?=", "\xE9t\xE9"},
        {"b padding gives no bytes", "=?utf-8?B?SGVsbG8=?=", "Hello"},
        {"b unknown letter is b", "=?utf-8?X?SGk=?=", "Hi"},
        {"adjacent words join", "=?a?Q?x?==?a?Q?y?=", "xy"},
        {"blank between words stays", "=?a?Q?x?= =?a?Q?y?=", "x y"},
        {"text before a word stays", "Re: =?iso-8859-1?Q?Caf=E9?= ok", "Re: Caf\xE9 ok"},
        {"preferred charset is chosen", "=?utf-8?Q?x?= =?iso-8859-1?Q?y?=", "=?utf-8?Q?x?= y"},
        // The rest after a word is trimmed when it began with "=?".
        {"rest starting with a word is trimmed", "=?a?Q?x?==?a?Q?_y_?=", "xy"},
        {"rest after a blank is not trimmed", "=?a?Q?x?= =?a?Q?_y_?=", "x  y "},
        {"empty encoded text", "a=?a?Q?" "?=b", "ab"},
        {"no closing", "Price =?iso-8859-1?Q?100", "Price =?iso-8859-1?Q?100"},
        {"damaged chosen word leaves all", "=?utf-8?Q?x?= =?iso-8859-1?Q",
         "=?utf-8?Q?x?= =?iso-8859-1?Q"},
        {"q equals near the end stays", "=?iso-8859-1?Q?a=4?=", "a=4"},
        // A non-hex "=XY" stays: throwing here would leave the message unscreened.
        {"q bad hex stays", "=?iso-8859-1?Q?100=ZZ_off?=", "100=ZZ off"},
        {"nul bytes removed", "a\0b"s, "ab"},
        {"plain text unchanged", "Hello world", "Hello world"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeHeaderText(c.input), c.expected);
    }
}

TEST(DecodeHeaderText, ConvertsIso2022JpToShiftJis) {
    // "テスト" in JIS, Base64-encoded.
    EXPECT_EQ(DecodeHeaderText("Re: =?iso-2022-jp?B?GyRCJUYlOSVIGyhC?="),
              "Re: \x83\x65\x83\x58\x83\x67");
    // Other charsets keep the bytes.
    EXPECT_EQ(DecodeHeaderText("=?iso-2022-kr?B?GyRCJUYlOSVIGyhC?="), "\x1b$B%F%9%H\x1b(B");
}

TEST(DecodeHeaderText, ManyWordsDecodeAndNeverGrow) {
    std::string text;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        text += "=?iso-8859-1?Q?a=41?=";
        expected += "aA";
    }
    EXPECT_EQ(DecodeHeaderText(text), expected);
}

TEST(Iso2022JpToShiftJis, MapsWhatTheConverterRefusesArithmetically) {
    const TCodecCase cases[] = {
        {"ascii and two-byte", "a\x1b$B\x30\x21\x1b(Bz",
         "a\x88\x9f"
         "z"},
        // Row 13 is not JIS X 0208; the arithmetic rule still maps it.
        {"unassigned row", "\x1b$B\x2d\x21\x1b(B", "\x87\x40"},
        {"last byte without partner", "\x1b$B\x30\x21\x30", "\x88\x9f"},
        {"cut-off escape", "x\x1b$", "x$"},
        {"stray 8-bit byte", "x\x80y", "x\x80y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Iso2022JpToShiftJis(c.input), c.expected);
    }
}

TEST(DecodeEncodedWords, DecodesFileNameWords) {
    const TCodecCase cases[] = {
        {"q", "  =?iso-8859-1?Q?r=E9sum=E9.doc?=  ", "r\xE9sum\xE9.doc"},
        {"q underscore", "=?x?q?a_b.txt?=", "a b.txt"},
        {"q lower-case hex stays", "=?x?Q?=e9?=", "=e9"},
        {"q soft breaks", "=?x?Q?a=\r\nb=\nc?=", "abc"},
        {"q final equals goes", "=?x?Q?ab=?=", "ab"},
        {"encoded text starting with equals", "=?x?Q?=41B?=", "AB"},
        {"b", "=?utf-8?B?SGVsbG8=?=", "Hello"},
        {"b cut-off group", "=?utf-8?B?SGk?=", "Hi"},
        {"b ends at nul", "=?utf-8?B?QQBC?=", "A"},
        {"u", "=?x?U?#86)C?=.txt", "abc.txt"},
        {"u bad line stays", "=?x?U?begin?=.exe", "=?x?U?begin?=.exe"},
        {"other letter is q", "=?x?X?a_b?=", "a b"},
        {"adjacent words", "=?a?Q?x?==?a?Q?y?=", "xy"},
        {"words with a blank", "=?a?Q?x?= =?a?Q?y?=", "x y"},
        {"decoded word decoded again", "=?x?Q?=3D=3Fx=3FQ=3Fy=3F=3D?=", "y"},
        {"word formed across the join", "a==?x?Q?=3Fx=3FQ=3Fz?=?=", "az"},
        {"no closer", "=?x?Q?abc", "=?x?Q?abc"},
        {"only spaces trimmed", " \tname ", "\tname"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeEncodedWords(c.input), c.expected);
    }
}

TEST(DecodeEncodedWords, StopsAfterThePassLimit) {
    std::string text;
    for (int i = 0; i < kMaxEncodedWordPasses + 3; ++i)
        text += "=?a?Q?x?=";
    const std::string expected =
        std::string(kMaxEncodedWordPasses, 'x') + "=?a?Q?x?==?a?Q?x?==?a?Q?x?=";
    EXPECT_EQ(DecodeEncodedWords(text), expected);
}

TEST(DecodeEncodedWords, GrowingWordsStillEnd) {
    // Every U word announces 65 bytes from one character.
    std::string text;
    for (int i = 0; i < 2 * kMaxEncodedWordPasses; ++i)
        text += "=?x?U?a?=";
    const std::string decoded = DecodeEncodedWords(text);
    EXPECT_EQ(decoded.size(), 65u * kMaxEncodedWordPasses + 9u * kMaxEncodedWordPasses);
}

TEST(UUEncode, KeepsToTheLineLimit) {
    const std::string full(kUULineBytes, 'x');
    const std::string line = UUEncode(full);
    EXPECT_EQ(line.size(), 61u);
    EXPECT_EQ(line.front(), 'M');
    try {
        (void)UUEncode(full + "x");
        FAIL() << "46 bytes were encoded";
    } catch (const EUUCodeError& e) {
        EXPECT_STREQ(e.what(), "UUEncode: String too long");
    }
    EXPECT_EQ(UUEncode(""), "`");
    EXPECT_EQ(UUEncode("abc"), "#86)C");
    // A 6-bit 0 is the grave accent, never a blank.
    EXPECT_EQ(UUEncode(std::string(3, '\0')), "#````");
}

TEST(UUEncode, RoundTripsEveryLengthAndByte) {
    for (std::size_t length = 0; length <= kUULineBytes; ++length) {
        std::string bytes;
        for (std::size_t i = 0; i < length; ++i)
            bytes += static_cast<char>((i * 97 + length * 31) & 0xFF);
        SCOPED_TRACE(length);
        const std::string line = UUEncode(bytes);
        EXPECT_EQ(line.size(), (length + 2) / 3 * 4 + 1);
        EXPECT_EQ(UUDecode(line), bytes);
    }
}

TEST(UUDecode, ChecksTheLengthCharacter) {
    for (const char* line : {"begin 644 x", "end", "", " abc", "b"}) {
        SCOPED_TRACE(line);
        try {
            (void)UUDecode(line);
            FAIL() << "accepted";
        } catch (const EUUCodeError& e) {
            EXPECT_STREQ(e.what(), "UUDecode: Incorrect string format");
        }
    }
    const TCodecCase cases[] = {
        {"grave only", "`", ""},
        {"exact", "#86)C", "abc"},
        {"announces more", "%86)C", "abc\0\0"s},
        {"announces less", "!86)C", "a"},
        {"grave keeps every byte", "`86)C", "abc"},
        {"short last group", "\"86(", "ab"},
        {"highest length", "a", std::string(65, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UUDecode(c.input), c.expected);
    }
}

}  // namespace
}  // namespace gatemoor
