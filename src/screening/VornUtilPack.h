// The reversible text packing used in links and records: a method byte and payload,
// in Base64.
#pragma once

#include <string>
#include <string_view>

namespace gatemoor {

// Empty text stays empty. A text shorter than 3 characters, or beginning with "..",
// gets ".." in front. Below 100 bytes the bytes are stored as they are (method 2);
// longer texts are coded in blocks of at most 32767 bytes with an adaptive splay-tree
// prefix code (method 0). The result is Base64 with "=" padding.
[[nodiscard]] std::string PackText(std::string_view text);

// Undoes PackText. Text that is not Base64 (after "=" padding to 4 characters) is
// unpacked as it is; an unknown method gives an empty text; a method 0 payload is
// decoded up to the end of the data, whatever it holds. A result longer than 2
// characters loses a leading "..". Never fails.
[[nodiscard]] std::string UnpackText(std::string_view text);

}  // namespace gatemoor
