// Feeds arbitrary bytes to every content-transfer decoder: Decode of the bytes as lines
// and DecodeLine of each line never crash, and the round trips each family promises
// hold: Base64 and uuencode give back every byte, quoted-printable and the binary
// family give back the text as CR LF lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "mail/EmailDecoders.h"

namespace {

using gatemoor::TMIMEDecoderClass;
using Lines = std::vector<std::string>;

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Decoded(TMIMEDecoderClass decoder, const Lines& lines) {
    std::stringstream stream;
    Check(decoder->Decode(lines, stream));
    return stream.str();
}

Lines Encoded(TMIMEDecoderClass decoder, std::string_view bytes) {
    std::stringstream stream{std::string(bytes)};
    Lines lines;
    Check(decoder->Encode(stream, lines));
    return lines;
}

const TMIMEDecoderClass kClasses[] = {
    gatemoor::TBase64Decoder::Class(),  gatemoor::TUUDecoder::Class(),
    gatemoor::TXUUDecoder::Class(),     gatemoor::TQuotedPrintableDecoder::Class(),
    gatemoor::TDefaultDecoder::Class(), gatemoor::TBinaryDecoder::Class(),
    gatemoor::T7BitDecoder::Class(),    gatemoor::T8BitDecoder::Class(),
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Lines lines = gatemoor::SplitLines(input);

    for (TMIMEDecoderClass decoder : kClasses) {
        std::stringstream stream;
        (void)decoder->Decode(lines, stream);  // uuencode may reject a line: false
        for (const std::string& line : lines) {
            try {
                (void)decoder->DecodeLine(line);
                (void)decoder->EncodeLine(line.substr(0, gatemoor::UU_BYTES_PER_LINE));
            } catch (const std::exception&) {
                // The uuencode codec rejects lines; that is its contract.
            }
        }
        Lines copy = lines;
        (void)gatemoor::DecodeLinesInPlace(decoder, copy);
    }

    for (TMIMEDecoderClass decoder :
         {gatemoor::TBase64Decoder::Class(), gatemoor::TUUDecoder::Class(),
          gatemoor::TXUUDecoder::Class()})
        Check(Decoded(decoder, Encoded(decoder, input)) == input);

    const std::string asLines = gatemoor::TextOfLines(lines);
    for (TMIMEDecoderClass decoder :
         {gatemoor::TQuotedPrintableDecoder::Class(), gatemoor::TBinaryDecoder::Class()})
        Check(Decoded(decoder, Encoded(decoder, input)) == asLines);

    // The line encoder on the raw bytes, CR LFs included, decodes back to them.
    Check(gatemoor::QuotedPrintableDecode(gatemoor::QuotedPrintableEncodeLine(input)) == input);
    return 0;
}
