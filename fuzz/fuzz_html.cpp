// Tokenises arbitrary bytes as HTML lines and runs both conversions over them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "mail/HTMLPars.h"

namespace {

std::vector<std::string> LinesOf(std::string_view data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) end = data.size();
        lines.emplace_back(data.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = LinesOf(input);

    gatemoor::THTMLParser parser(lines);
    parser.Parse();
    std::size_t rawBytes = 0;
    for (const auto& token : parser.Tokens()) {
        rawBytes += token->Raw().size();
        if (const gatemoor::THTMLTag* tag = token->AsTag()) {
            Check(tag->Params().size() <= gatemoor::THTMLTag::kMaxParams);
            Check(tag->Name().size() <= tag->Raw().size());
        } else {
            Check(token->AsText() != nullptr && !token->Raw().empty());
            // Decoding only ever shortens the text.
            Check(token->AsText()->Text().size() <= token->Raw().size());
        }
    }
    // Nothing is invented: every raw byte came from the input, plus one space for
    // each line end inside a tag.
    Check(rawBytes <= size + lines.size());

    std::vector<std::string> text = lines;
    gatemoor::HtmlToText(text);
    std::vector<std::string> tags = lines;
    gatemoor::ExtractTags(tags);
    std::string stream(input);
    gatemoor::HtmlStreamToText(stream);
    return 0;
}
