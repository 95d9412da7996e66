// Parses arbitrary bytes as a report-service URL, rebuilds it and parses the result
// again: rebuilding must be stable wherever the parts can be told apart.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/VornUrl.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Holds(const std::string& text, std::string_view chars) {
    return text.find_first_of(chars) != std::string::npos;
}

// The scheme is never decoded, so only characters that encoding keeps come back.
bool IsPlainScheme(const std::string& scheme) {
    for (char c : scheme) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// Parts whose decoded text holds the separators of the address cannot come back as
// the same parts: the address is decoded before it is split.
bool PartsAreSeparable(const gatemoor::TVornUrl& url) {
    if (!IsPlainScheme(url.Scheme())) return false;
    if (Holds(url.User(), "?@:/") || Holds(url.Password(), "?@/")) return false;
    if (Holds(url.Host(), "?@:/")) return false;
    // An empty document leaves out its '/', so the path's last segment reads back
    // as the document.
    if (!url.Path().empty() && url.Document().empty()) return false;
    return !Holds(url.Path(), "?") && !Holds(url.Document(), "?/");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    gatemoor::TVornUrl first;
    first.Parse(input);
    const std::string built = first.ToString();
    (void)first.IsValid();

    gatemoor::TVornUrl second;
    second.Parse(built);
    const std::string rebuilt = second.ToString();

    const bool withinLimits = built.size() < gatemoor::TVornUrl::kMaxDocumentLength;
    // The query survives whenever the first '?' of the built URL is the one that
    // starts it.
    const std::size_t question = built.find('?');
    const bool queryFound =
        question == std::string::npos || question + 1 + first.QueryString().size() == built.size();
    if (withinLimits && queryFound) Check(second.Params() == first.Params());
    if (withinLimits && PartsAreSeparable(first)) Check(rebuilt == built);
    return 0;
}
