// Runs the header text codecs over arbitrary bytes: the header reader's decoder never
// lengthens its input, and uuencoding a line's worth of bytes decodes back to them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/EncodedWords.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    Check(gatemoor::DecodeHeaderText(input).size() <= input.size());
    Check(gatemoor::Iso2022JpToShiftJis(input).size() <= input.size());
    (void)gatemoor::DecodeEncodedWords(input);

    try {
        (void)gatemoor::UUDecode(input);
    } catch (const gatemoor::EUUCodeError&) {
    }
    if (input.size() <= gatemoor::kUULineBytes)
        Check(gatemoor::UUDecode(gatemoor::UUEncode(input)) == input);
    return 0;
}
