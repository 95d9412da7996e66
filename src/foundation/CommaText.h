// Comma text: the one-line encoding of a list of strings that the risk database file,
// the information records, the message properties and the activity log share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

// Items joined by ","; an item holding a character 0..32, a double quote or a comma is
// quoted with inner quotes doubled. An empty list gives ""; a list of one empty item
// gives `""`.
[[nodiscard]] std::string ToCommaText(const std::vector<std::string>& items);
[[nodiscard]] std::string QuoteCommaItem(std::string_view item);

// Reads comma text: blanks and controls (1..32) are skipped around items; a quoted item
// runs to its lone closing quote (or the end); an unquoted one ends at a comma or any
// character 0..32, so `a b` reads as two items; a trailing comma adds an empty item.
[[nodiscard]] std::vector<std::string> FromCommaText(std::string_view text);

// Name/value items ("name=value"): the value of the first item whose name (text before
// the first "=") equals `name` ignoring case.
[[nodiscard]] std::optional<std::string> ValueOfName(const std::vector<std::string>& items,
                                                     std::string_view name);

}  // namespace gatemoor
