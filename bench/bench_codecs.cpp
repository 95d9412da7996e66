// What the content-transfer codecs cost on a 10 MiB body in the line lengths that mail
// uses: Base64 in 76-character lines (decoding) and our own 60-character lines
// (encoding), quoted-printable over text lines of about 70 characters with some 8-bit
// letters, and uuencode in its 45-byte lines. Throughput counts the decoded bytes.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "mail/EmailDecoders.h"

namespace {

using gatemoor::TMIMEDecoderClass;
using Lines = std::vector<std::string>;

constexpr std::size_t kBodyBytes = 10 * 1024 * 1024;

// Binary content: every byte value, in no simple order.
const std::string& BinaryBody() {
    static const std::string body = [] {
        std::string bytes(kBodyBytes, '\0');
        unsigned state = 12345;
        for (char& c : bytes) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 23);
        }
        return bytes;
    }();
    return body;
}

// Text content: lines of 60 to 79 characters, words, now and then an 8-bit letter, an
// '=' or a line that ends in a blank.
const std::string& TextBody() {
    static const std::string body = [] {
        const std::string words[] = {"the ", "message ",      "caf\xE9 ",    "screen ",
                                     "a=b ", "r\xE9sum\xE9 ", "attachment ", "of ",
                                     "and ", "security "};
        std::string text;
        text.reserve(kBodyBytes + 100);
        unsigned state = 7;
        std::size_t lineLength = 0;
        while (text.size() < kBodyBytes) {
            state = state * 1103515245u + 12345u;
            const std::string& word = words[(state >> 16) % std::size(words)];
            text += word;
            lineLength += word.size();
            if (lineLength >= 60 + (state >> 8) % 20) {
                if ((state >> 4) % 7 != 0) text.pop_back();  // most lines end in a letter
                text += "\r\n";
                lineLength = 0;
            }
        }
        text.resize(kBodyBytes);
        return text;
    }();
    return body;
}

Lines EncodeBody(TMIMEDecoderClass decoder, const std::string& body) {
    std::stringstream stream(body);
    Lines lines;
    decoder->Encode(stream, lines);
    return lines;
}

void Decode(benchmark::State& state, TMIMEDecoderClass decoder, const Lines& lines) {
    for (auto _ : state) {
        std::stringstream stream;
        benchmark::DoNotOptimize(decoder->Decode(lines, stream));
        benchmark::DoNotOptimize(stream.view().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void Encode(benchmark::State& state, TMIMEDecoderClass decoder, const std::string& body) {
    for (auto _ : state) {
        std::stringstream stream(body);
        Lines lines;
        benchmark::DoNotOptimize(decoder->Encode(stream, lines));
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_Base64Decode76(benchmark::State& state) {
    static const Lines lines = gatemoor::Base64EncodeLines(BinaryBody(), 76);
    Decode(state, gatemoor::TBase64Decoder::Class(), lines);
}
void BM_Base64Encode(benchmark::State& state) {
    Encode(state, gatemoor::TBase64Decoder::Class(), BinaryBody());
}
void BM_QuotedPrintableDecode(benchmark::State& state) {
    static const Lines lines = EncodeBody(gatemoor::TQuotedPrintableDecoder::Class(), TextBody());
    Decode(state, gatemoor::TQuotedPrintableDecoder::Class(), lines);
}
void BM_QuotedPrintableEncode(benchmark::State& state) {
    Encode(state, gatemoor::TQuotedPrintableDecoder::Class(), TextBody());
}
void BM_UUDecode(benchmark::State& state) {
    static const Lines lines = EncodeBody(gatemoor::TUUDecoder::Class(), BinaryBody());
    Decode(state, gatemoor::TUUDecoder::Class(), lines);
}
void BM_UUEncode(benchmark::State& state) {
    Encode(state, gatemoor::TUUDecoder::Class(), BinaryBody());
}

BENCHMARK(BM_Base64Decode76)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuotedPrintableEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UUDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UUEncode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
