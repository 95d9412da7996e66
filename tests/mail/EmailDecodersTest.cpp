// The content-transfer decoder family: class lookup and family tests, each codec on its
// line rules, fed whole and in pieces, round trips, sniffing, the list functions, the
// cooperative stop, and the choice of a decoder from a header.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/VornCriticalSections.h"
#include "foundation/VornThread.h"
#include "mail/EmailDecoders.h"
#include "mail/EmailHeader.h"
#include "mail/HeaderOwner.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;

// Every byte value, so that codecs meet control characters, '=' and 8-bit bytes.
std::string AllBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 37 + 11) % 256);
    return bytes;
}

// What a class's Decode writes into a fresh memory stream.
std::string Decoded(TMIMEDecoderClass decoder, const Lines& lines, bool* result = nullptr) {
    std::stringstream stream;
    const bool ok = decoder->Decode(lines, stream);
    if (result) *result = ok;
    return stream.str();
}

// What a class's Encode appends to an empty list for the bytes.
Lines Encoded(TMIMEDecoderClass decoder, const std::string& bytes, bool* result = nullptr) {
    std::stringstream stream(bytes);
    Lines lines;
    const bool ok = decoder->Encode(stream, lines);
    if (result) *result = ok;
    return lines;
}

// --- The family ---

struct ClassCase {
    const char* name;
    TMIMEDecoderClass decoder;
    const char* transferEncodingName;
    const char* className;
    bool binaryFamily;
};

const ClassCase kClasses[] = {
    {"base64", TBase64Decoder::Class(), "base64", "TBase64Decoder", false},
    {"uuencode", TUUDecoder::Class(), "uuencode", "TUUDecoder", false},
    {"x-uuencode", TXUUDecoder::Class(), "x-uuencode", "TXUUDecoder", false},
    {"quoted-printable", TQuotedPrintableDecoder::Class(), "quoted-printable",
     "TQuotedPrintableDecoder", false},
    {"default", TDefaultDecoder::Class(), "default", "TDefaultDecoder", false},
    {"binary", TBinaryDecoder::Class(), "binary", "TBinaryDecoder", true},
    {"7bit", T7BitDecoder::Class(), "7bit", "T7BitDecoder", true},
    {"8bit", T8BitDecoder::Class(), "8bit", "T8BitDecoder", true},
};

TEST(DecoderFamily, EveryClassHasOneDescriptorWithItsNameAndFamily) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.decoder, nullptr);
        EXPECT_EQ(c.decoder->TransferEncodingName(), c.transferEncodingName);
        EXPECT_EQ(c.decoder->ClassName(), c.className);
        EXPECT_EQ(IsBinaryFamily(c.decoder), c.binaryFamily);
        EXPECT_TRUE(c.decoder->InheritsFrom(c.decoder));
        EXPECT_EQ(FindDecoderClass(c.transferEncodingName), c.decoder);
    }
    EXPECT_FALSE(IsBinaryFamily(nullptr));
    // The descriptors are distinct objects, one per class.
    for (const ClassCase& a : kClasses)
        for (const ClassCase& b : kClasses)
            if (&a != &b) {
                EXPECT_NE(a.decoder, b.decoder) << a.name << " " << b.name;
            }
}

TEST(DecoderFamily, DerivedClassesInheritFromTheirBaseOnly) {
    EXPECT_TRUE(TXUUDecoder::Class()->InheritsFrom(TUUDecoder::Class()));
    EXPECT_FALSE(TUUDecoder::Class()->InheritsFrom(TXUUDecoder::Class()));
    EXPECT_TRUE(T7BitDecoder::Class()->InheritsFrom(TBinaryDecoder::Class()));
    EXPECT_TRUE(T8BitDecoder::Class()->InheritsFrom(TBinaryDecoder::Class()));
    EXPECT_FALSE(T7BitDecoder::Class()->InheritsFrom(T8BitDecoder::Class()));
    EXPECT_FALSE(TBase64Decoder::Class()->InheritsFrom(TBinaryDecoder::Class()));
    EXPECT_FALSE(TDefaultDecoder::Class()->InheritsFrom(T7BitDecoder::Class()));
    EXPECT_EQ(TBase64Decoder::Class()->ClassParent(), nullptr);
    EXPECT_EQ(TXUUDecoder::Class()->ClassParent(), TUUDecoder::Class());
}

TEST(DecoderFamily, FindDecoderClassIgnoresCaseAndKnowsNoOtherName) {
    struct Case {
        const char* name;
        TMIMEDecoderClass expected;
    };
    const Case cases[] = {
        {"BASE64", TBase64Decoder::Class()},
        {"Quoted-Printable", TQuotedPrintableDecoder::Class()},
        {"X-UUEncode", TXUUDecoder::Class()},
        {"7BIT", T7BitDecoder::Class()},
        {"Default", TDefaultDecoder::Class()},
        {"x-token", nullptr},
        {"base64 ", nullptr},  // names are compared whole; trimming is the header's job
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindDecoderClass(c.name), c.expected);
    }
}

// --- Base64 ---

TEST(Base64, DecodeLineReadsGroupsOfFourWithinTheLine) {
    struct Case {
        const char* name;
        std::string line;
        std::string bytes;
    };
    const Case cases[] = {
        {"three bytes", "QUJD", "ABC"},
        {"fourth is padding", "QUI=", "AB"},
        {"third is padding", "QQ==", "A"},
        {"first is padding", "=QUJ", ""},
        {"padding in the middle of a line", "QQ==QUJD", "AABC"},
        {"incomplete group ignored", "QUJDRA", "ABC"},
        {"too short for a group", "QUJ", ""},
        {"empty", "", ""},
        {"outside the alphabet keeps its place as 0", "Q*JD", std::string("\x40\x02\x43", 3)},
        {"blank counts as a character", " QUJD", std::string("\x01\x05\x09", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Base64DecodeLine(c.line), c.bytes);
        EXPECT_EQ(TBase64Decoder::Class()->DecodeLine(c.line), c.bytes);
    }
}

TEST(Base64, LinesOf76DecodeLineByLineAndA77thCharacterIsLost) {
    const std::string bytes = AllBytes(57 * 3);
    const std::string text = Base64Encode(bytes);
    const Lines lines76 = {text.substr(0, 76), text.substr(76, 76), text.substr(152)};
    EXPECT_EQ(Decoded(TBase64Decoder::Class(), lines76), bytes);

    // One more character on the first line: its 77th character starts a group that the
    // line never completes, and groups do not span lines.
    Lines lines77 = lines76;
    lines77[0] += lines77[1].substr(0, 1);
    lines77[1].erase(0, 1);
    const std::string decoded = Decoded(TBase64Decoder::Class(), lines77);
    EXPECT_EQ(decoded.substr(0, 57), bytes.substr(0, 57));
    EXPECT_NE(decoded, bytes);
}

TEST(Base64, EncodesKnownVectorsAndCutsLinesOf60) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [bytes, text] : vectors) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(Base64Encode(bytes), text);
        EXPECT_EQ(TBase64Decoder::Class()->EncodeLine(bytes), text);
    }
    bool ok = false;
    const Lines lines = Encoded(TBase64Decoder::Class(), AllBytes(100), &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 60u);
    EXPECT_EQ(lines[1].size(), 60u);
    EXPECT_EQ(lines[2].size(), 16u);
    EXPECT_TRUE(Encoded(TBase64Decoder::Class(), "").empty());
    EXPECT_EQ(Base64EncodeLines(AllBytes(100), 76).size(), 2u);
}

// --- uuencode ---

TEST(UUEncode, EncodeWrites45BytesPerLineAndNoEmptyTrailingLine) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> lineSizes;
    };
    const Case cases[] = {{0, {}}, {1, {5}}, {45, {61}}, {46, {61, 5}}, {90, {61, 61}}};
    for (TMIMEDecoderClass decoder : {TUUDecoder::Class(), TXUUDecoder::Class()}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(decoder->ClassName()) + " " + std::to_string(c.size));
            bool ok = false;
            const Lines lines = Encoded(decoder, AllBytes(c.size), &ok);
            EXPECT_TRUE(ok);
            ASSERT_EQ(lines.size(), c.lineSizes.size());
            for (std::size_t i = 0; i < lines.size(); ++i)
                EXPECT_EQ(lines[i].size(), c.lineSizes[i]);
            if (!lines.empty()) {
                EXPECT_EQ(lines[0][0], c.size >= 45 ? 'M' : char(32 + c.size));
            }
        }
    }
}

TEST(UUEncode, DecodeStopsAtTheFirstRejectedLineKeepingWhatCameBefore) {
    const Lines body = Encoded(TUUDecoder::Class(), AllBytes(100));
    ASSERT_EQ(body.size(), 3u);

    bool ok = true;
    Lines framed = body;
    framed.insert(framed.begin(), "begin 644 a.txt");
    EXPECT_EQ(Decoded(TUUDecoder::Class(), framed, &ok), "");
    EXPECT_FALSE(ok);

    Lines withEnd = body;
    withEnd.insert(withEnd.begin() + 2, "end");
    EXPECT_EQ(Decoded(TUUDecoder::Class(), withEnd, &ok), AllBytes(90));
    EXPECT_FALSE(ok);

    Lines withEmpty = body;
    withEmpty.insert(withEmpty.begin() + 1, "");
    EXPECT_EQ(Decoded(TXUUDecoder::Class(), withEmpty, &ok), AllBytes(45));
    EXPECT_FALSE(ok);

    EXPECT_EQ(Decoded(TUUDecoder::Class(), body, &ok), AllBytes(100));
    EXPECT_TRUE(ok);
}

TEST(UUEncode, DecodeLineLetsTheRejectionThrough) {
    EXPECT_ANY_THROW((void)TUUDecoder::Class()->DecodeLine("begin 644 a.txt"));
    EXPECT_EQ(TUUDecoder::Class()->DecodeLine("`"), "");
}

// --- Quoted-printable ---

TEST(QuotedPrintable, DecodeRules) {
    struct Case {
        const char* name;
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"soft line break joins", "abc=\r\ndef", "abcdef"},
        {"hex either case", "=41=4a=e9", "AJ\xE9"},
        {"soft break at the very end vanishes", "abc=\r\n", "abc"},
        {"lone final '='", "abc=", "abc"},
        {"'=' before other text dropped", "a= b=xy", "a bxy"},
        {"one hex digit", "=4x", "\x04x"},
        {"soft break with LF only", "a=\nb", "ab"},
        {"soft break takes two break characters at most", "a=\r\n\r\nb", "a\r\nb"},
        {"encoded space before a break", "a=20\r\nb", "a \r\nb"},
        {"encoded space before LF becomes CR LF", "a=20\nb", "a \r\nb"},
        {"encoded space in a line", "a=20b", "a b"},
        {"final blanks among the breaks go", "abc \t\r\n \r\n", "abc\r\n\r\n"},
        {"blanks before inner breaks stay", "a  \r\nb", "a  \r\nb"},
        {"final blanks without break go", "abc  ", "abc"},
        {"plain text unchanged", "Hello, world.", "Hello, world."},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuotedPrintableDecode(c.text), c.bytes);
    }
    EXPECT_EQ(TQuotedPrintableDecoder::Class()->DecodeLine("=41=4a"), "AJ");
    EXPECT_EQ(Decoded(TQuotedPrintableDecoder::Class(), {"abc=", "def"}), "abcdef\r\n");
    EXPECT_EQ(Decoded(TQuotedPrintableDecoder::Class(), {"abc", "def="}), "abc\r\ndef");
}

TEST(QuotedPrintable, EncodeLineRules) {
    struct Case {
        const char* name;
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        {"final space escaped", "a b ", "a b=20"},
        {"equals sign", "x=y", "x=3Dy"},
        {"tab and 8-bit bytes", "\t\xE9~\x7F", "=09=E9~=7F"},
        {"100 letters break after 72", std::string(100, 'a'),
         std::string(72, 'a') + "=\r\n" + std::string(28, 'a')},
        {"72 letters end in a soft break", std::string(72, 'a'), std::string(72, 'a') + "=\r\n"},
        {"71 letters stay whole", std::string(71, 'a'), std::string(71, 'a')},
        {"an escape may cross the limit", std::string(70, 'a') + "=",
         std::string(70, 'a') + "=3D=\r\n"},
        {"split at CR LF, each half escaped", "a \r\nb\r\n", "a=20\r\nb\r\n"},
        {"lone CR and LF escaped", "a\rb\nc", "a=0Db=0Ac"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuotedPrintableEncodeLine(c.text), c.encoded);
        EXPECT_EQ(TQuotedPrintableDecoder::Class()->EncodeLine(c.text), c.encoded);
    }
}

TEST(QuotedPrintable, EncodeGivesOnePhysicalLinePerEntry) {
    const Lines lines =
        Encoded(TQuotedPrintableDecoder::Class(),
                std::string(100, 'a') + "\r\nx \n" + std::string(72, 'b') + "\rlast");
    const Lines expected = {std::string(72, 'a') + "=",
                            std::string(28, 'a'),
                            "x=20",
                            std::string(72, 'b') + "=",
                            "",
                            "last"};
    EXPECT_EQ(lines, expected);
}

// --- Round trips: what each family promises ---

TEST(RoundTrip, Base64AndUUencodeGiveBackEveryByte) {
    for (TMIMEDecoderClass decoder :
         {TBase64Decoder::Class(), TUUDecoder::Class(), TXUUDecoder::Class()}) {
        for (std::size_t size : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 59u, 60u, 61u, 1000u}) {
            SCOPED_TRACE(std::string(decoder->ClassName()) + " " + std::to_string(size));
            const std::string bytes = AllBytes(size);
            bool ok = false;
            EXPECT_EQ(Decoded(decoder, Encoded(decoder, bytes), &ok), bytes);
            EXPECT_TRUE(ok);
        }
    }
}

TEST(RoundTrip, QuotedPrintableAndBinaryGiveBackTheTextAsCrLfLines) {
    const std::string texts[] = {
        "",
        "plain",
        "ends in blanks  \r\n\tand tabs\t\r\n",
        std::string(71, 'x') + " \r\n" + std::string(72, 'y') + "\r\n\r\n" + std::string(73, 'z'),
        std::string(70, '=') + "\n" + std::string(150, ' ') + "\r",
        AllBytes(600),
        "a=20\r\n=\r\n==\r\n",
    };
    for (TMIMEDecoderClass decoder :
         {TQuotedPrintableDecoder::Class(), TBinaryDecoder::Class(), T8BitDecoder::Class()}) {
        for (const std::string& text : texts) {
            SCOPED_TRACE(std::string(decoder->ClassName()) + " " + text.substr(0, 20));
            bool ok = false;
            EXPECT_EQ(Decoded(decoder, Encoded(decoder, text), &ok), TextOfLines(SplitLines(text)));
            EXPECT_TRUE(ok);
        }
    }
}

// --- Whole and in pieces: a Decode appends, so pieces of a list give the same bytes ---

TEST(Pieces, DecodingPiecesOfTheListGivesTheBytesOfTheWhole) {
    struct Case {
        const char* name;
        TMIMEDecoderClass decoder;
        Lines lines;
    };
    const std::string sample = AllBytes(700);
    const Case cases[] = {
        {"base64", TBase64Decoder::Class(), Encoded(TBase64Decoder::Class(), sample)},
        {"uuencode", TUUDecoder::Class(), Encoded(TUUDecoder::Class(), sample)},
        {"quoted-printable", TQuotedPrintableDecoder::Class(),
         Encoded(TQuotedPrintableDecoder::Class(), sample + "\r\n" + std::string(200, 'q'))},
        {"binary", TBinaryDecoder::Class(), SplitLines("one\r\ntwo\nthree\r\n\r\nfive")},
    };
    for (const Case& c : cases) {
        const std::string whole = Decoded(c.decoder, c.lines);
        ASSERT_FALSE(whole.empty()) << c.name;
        for (std::size_t piece : {1u, 2u, 3u, 7u}) {
            SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
            std::stringstream stream;
            for (std::size_t start = 0; start < c.lines.size(); start += piece) {
                const auto end = c.lines.begin() + std::min(c.lines.size(), start + piece);
                EXPECT_TRUE(c.decoder->Decode(Lines(c.lines.begin() + start, end), stream));
            }
            EXPECT_EQ(stream.str(), whole);
        }
    }
}

// --- Sniffing ---

TEST(Sniffing, PicksQuotedPrintableOrUuencodeOr7bit) {
    struct Case {
        const char* name;
        std::string text;
        TMIMEDecoderClass expected;
    };
    const Case cases[] = {
        {"soft break after a letter", "Hello wor=\r\nld\r\n", TQuotedPrintableDecoder::Class()},
        {"doubled '=' before the break", "a==\r\nb\r\n", T7BitDecoder::Class()},
        {"soft break at the first character", "=\r\nab=\r\n", T7BitDecoder::Class()},
        {"soft break without CR", "a=\nb\n", T7BitDecoder::Class()},
        {"begin and end line", "begin 644 x\r\nM86)C\r\nend\r\n", TUUDecoder::Class()},
        {"end without a following break", "begin 644 x\r\nM86)C\r\nend", T7BitDecoder::Class()},
        {"end inside a word", "begin 644 x\r\nlegend\r\n", T7BitDecoder::Class()},
        {"quoted-printable outranks uuencode", "begin 644 x\r\na=\r\nend\r\n",
         TQuotedPrintableDecoder::Class()},
        {"plain", "just text\r\n", T7BitDecoder::Class()},
        {"empty", "", T7BitDecoder::Class()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SniffDecoderClass(c.text), c.expected);
    }
}

TEST(Sniffing, DefaultDecoderDecodesWhatItSniffs) {
    const TMIMEDecoderClass sniffing = TDefaultDecoder::Class();
    EXPECT_EQ(Decoded(sniffing, {"Caf=E9 wor=", "ld", "end"}), "Caf\xE9 world\r\nend\r\n");
    EXPECT_EQ(Decoded(sniffing, {"a==", "b=41"}), "a==\r\nb=41\r\n");
    EXPECT_EQ(sniffing->DecodeLine("a=41"), "a=41\r\n");
    EXPECT_EQ(sniffing->EncodeLine("x=y"), "x=y\r\n");
}

TEST(Sniffing, DefaultDecoderKeepsATextWithAUuencodedBlockAsItStands) {
    // The block belongs to a plain text; the uuencode codec would reject its "begin"
    // line and keep nothing of the text, and the block could no longer be found.
    const Lines lines = {"Hello,", "", "begin 644 x.txt", "#86)C", "`", "end", "Bye"};
    bool ok = false;
    EXPECT_EQ(Decoded(TDefaultDecoder::Class(), lines, &ok), TextOfLines(lines));
    EXPECT_TRUE(ok);
}

TEST(Sniffing, DefaultDecoderEncodesAfterTheTextAlreadyInTheList) {
    // An empty list sniffs as 7bit: the list becomes the stream's lines.
    EXPECT_EQ(Encoded(TDefaultDecoder::Class(), "a\r\nb=c"), (Lines{"a", "b=c"}));
    // A list that already looks quoted-printable gets the stream quoted-printable.
    std::stringstream stream("x=y \r\nz");
    Lines lines = {"ab=", "c"};
    EXPECT_TRUE(TDefaultDecoder::Class()->Encode(stream, lines));
    EXPECT_EQ(lines, (Lines{"ab=", "c", "x=3Dy=20", "z"}));
}

// --- The binary family ---

TEST(Identity, DecodeWritesTheTextAndRewindsEncodeReplacesTheList) {
    for (TMIMEDecoderClass decoder :
         {TBinaryDecoder::Class(), T7BitDecoder::Class(), T8BitDecoder::Class()}) {
        SCOPED_TRACE(decoder->ClassName());
        EXPECT_EQ(decoder->DecodeLine("x"), "x\r\n");
        EXPECT_EQ(decoder->EncodeLine("x"), "x\r\n");

        std::stringstream stream;
        stream << "head:";
        ASSERT_TRUE(decoder->Decode({"a", "", "b\xFF"}, stream));
        std::string readBack((std::istreambuf_iterator<char>(stream)), {});
        EXPECT_EQ(readBack, "head:a\r\n\r\nb\xFF\r\n");

        std::stringstream source("one\r\ntwo\nthree\rfour\r\n");
        source.get();  // Encode reads from the beginning, wherever the stream stands
        Lines lines = {"old"};
        ASSERT_TRUE(decoder->Encode(source, lines));
        EXPECT_EQ(lines, (Lines{"one", "two", "three", "four"}));
    }
}

// --- The list functions ---

TEST(ListFunctions, BinaryFamilyCopiesOthersDecodeIntoLines) {
    const Lines raw = {"SGVsbG8NCldvcmxk", "DQo="};
    Lines target = {"stale"};
    EXPECT_TRUE(DecodeLines(TBase64Decoder::Class(), raw, target));
    EXPECT_EQ(target, (Lines{"Hello", "World"}));
    EXPECT_TRUE(DecodeLines(T7BitDecoder::Class(), raw, target));
    EXPECT_EQ(target, raw);
    // No class is the sniffing default.
    EXPECT_TRUE(DecodeLines(nullptr, {"a=", "b"}, target));
    EXPECT_EQ(target, (Lines{"ab"}));
}

TEST(ListFunctions, EncodeAndDecodeInPlaceRoundTrip) {
    const Lines text = {"first line", std::string(150, 'w') + " ", "", "caf\xE9=1"};
    for (TMIMEDecoderClass decoder :
         {TBase64Decoder::Class(), TUUDecoder::Class(), TQuotedPrintableDecoder::Class()}) {
        SCOPED_TRACE(decoder->ClassName());
        Lines lines = text;
        ASSERT_TRUE(EncodeLinesInPlace(decoder, lines));
        EXPECT_NE(lines, text);
        ASSERT_TRUE(DecodeLinesInPlace(decoder, lines));
        EXPECT_EQ(lines, text);
    }
    Lines untouched = {"a\r\nb", "=41"};
    EXPECT_TRUE(EncodeLinesInPlace(TBinaryDecoder::Class(), untouched));
    EXPECT_TRUE(DecodeLinesInPlace(T8BitDecoder::Class(), untouched));
    EXPECT_EQ(untouched, (Lines{"a\r\nb", "=41"}));
}

TEST(ListFunctions, TextOfLinesAndSplitLines) {
    EXPECT_EQ(TextOfLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(TextOfLines({}), "");
    struct Case {
        const char* text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"\r\n", {""}},
        {"a\r\n\r\n", {"a", ""}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        // Runs of one kind of break before the other kind comes.
        {"a\rb\rc\nd\ne\r\n\r", {"a", "b", "c", "d", "e", ""}},
        {"a\n\n\nb\r\rc", {"a", "", "", "b", "", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitLines(c.text), c.lines);
    }
}

// --- Failures and the cooperative stop ---

TEST(Failures, AFailingStreamGivesFalseAndNeverThrows) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        std::stringstream broken;
        broken.setstate(std::ios::badbit);
        bool ok = true;
        EXPECT_NO_THROW(ok = c.decoder->Decode({"QUJD", "abc=", "M86)C"}, broken));
        EXPECT_FALSE(ok);
    }
}

// A worker told to stop before it decodes, as the progress hook sees it.
class TStoppedWorker : public TVornThread {
public:
    TStoppedWorker() : TVornThread(true) {}
    std::atomic<int> results{0};
    std::string written;

protected:
    void Execute() override {
        Terminate();
        for (const ClassCase& c : kClasses) {
            std::stringstream stream;
            if (c.decoder->Decode({"QUJD", "abc=", "M86)C"}, stream)) ++results;
            Lines lines = {"kept"};
            std::stringstream source("bytes to encode");
            if (c.decoder->Encode(source, lines) && lines == Lines{"kept"}) ++results;
            written += stream.str();
        }
    }
};

TEST(CooperativeStop, AStoppedWorkerGetsTrueAndNothingDone) {
    auto* worker = NewThread<TStoppedWorker>();
    worker->Resume();
    worker->WaitFor();
    EXPECT_EQ(worker->results.load(), 2 * static_cast<int>(std::size(kClasses)));
    EXPECT_EQ(worker->written, "");
    TThread::Free(worker);
}

// --- The decoder of a header ---

// A message with a multipart main header and no parts, enough for the disposition rules.
class TFakeOwner : public THeaderOwner {
public:
    TFakeOwner() : lock_("FakeOwner_CS"), main_(this) {
        main_.SetField("Content-Type", "multipart/mixed; boundary=b");
    }
    [[nodiscard]] const TEmailHeader* MainHeader() const override { return &main_; }
    void RegisterHeader(TEmailHeader&) override {}
    void UnregisterHeader(TEmailHeader&) override {}
    void MarkModified() override {}
    [[nodiscard]] TAbstractCriticalSection& OwnerLock() const override { return lock_; }
    void WalkParts(const TPartVisitor&) const override {}
    [[nodiscard]] int PartDepth(const TEmailMsgPart&) const override { return 0; }
    [[nodiscard]] const TEmailHeader* EnclosingHeader(const TEmailMsgPart&) const override {
        return &main_;
    }
    TEmailHeader& Main() { return main_; }

private:
    mutable TMutexCriticalSection lock_;
    TEmailHeader main_;
};

TEST(HeaderDecoder, TheTransferEncodingFieldChoosesTheClass) {
    struct Case {
        const char* name;
        const char* encoding;  // nullptr: no field
        TMIMEDecoderClass expected;
        bool found;
        bool encoded;
    };
    const Case cases[] = {
        {"base64 in any case", "Base64", TBase64Decoder::Class(), true, true},
        {"quoted-printable", "quoted-printable", TQuotedPrintableDecoder::Class(), true, true},
        {"x-uuencode is normalised to binary", "X-UUEncode", TBinaryDecoder::Class(), true, false},
        {"unknown name is binary", "x-token", TBinaryDecoder::Class(), true, false},
        {"7bit", "7bit", T7BitDecoder::Class(), true, false},
        {"8bit", "8BIT", T8BitDecoder::Class(), true, false},
        {"no field, no owner", nullptr, TDefaultDecoder::Class(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TEmailHeader header;
        header.SetField("Content-Type", "application/pdf; name=a.pdf");
        header.SetField("Content-Disposition", "attachment; filename=a.pdf");
        if (c.encoding) header.SetField("Content-Transfer-Encoding", c.encoding);
        TMIMEDecoderClass decoder = nullptr;
        EXPECT_EQ(header.GetDecoderClass(decoder), c.found);
        EXPECT_EQ(decoder, c.expected);
        EXPECT_EQ(header.IsEncoded(), c.encoded);
    }
}

TEST(HeaderDecoder, AnAttachmentWithoutEncodingIsBase64ButNotFound) {
    TFakeOwner owner;
    TEmailHeader attachment(&owner);
    attachment.SetField("Content-Type", "application/pdf; name=a.pdf");
    attachment.SetField("Content-Disposition", "attachment; filename=a.pdf");
    TMIMEDecoderClass decoder = nullptr;
    EXPECT_FALSE(attachment.GetDecoderClass(decoder));
    EXPECT_EQ(decoder, TBase64Decoder::Class());
    EXPECT_FALSE(attachment.IsEncoded());

    // The owner's main header and HTML keep the sniffing default.
    TEmailHeader html(&owner);
    html.SetField("Content-Type", "text/html");
    html.SetField("Content-Disposition", "attachment; filename=a.htm");
    owner.Main().SetField("Content-Disposition", "attachment");
    for (const TEmailHeader* header : {&owner.Main(), &html}) {
        EXPECT_FALSE(header->GetDecoderClass(decoder));
        EXPECT_EQ(decoder, TDefaultDecoder::Class());
    }
}

}  // namespace
}  // namespace gatemoor
