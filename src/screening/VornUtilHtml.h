// HTML text: escaping plain text for a page, and decoding the character entities that
// mail bodies use.
#pragma once

#include <string>
#include <vector>

namespace gatemoor {

// Character by character: `<` "&lt;", `>` "&gt;", `"` "&quot;", `&` "&amp;"; a space
// right after another space "&nbsp;" (the first of a run stays); a byte above 126
// "&#" + its decimal code + ";"; everything else stays. True when the text changed.
bool EscapeHtml(std::string& text);
// EscapeHtml on every line.
void EscapeHtmlLines(std::vector<std::string>& list);
// Every line escaped and followed by "<br>".
void TextToHtmlLines(std::vector<std::string>& list);

// Replaces the entities it knows by their ISO 8859-1 characters: named ones (compared
// case-sensitively), "&#" + a decimal code (taken modulo 256; a resulting 0 is left
// alone), and a few typographic code points mapped to ASCII. The closing `;` may be
// missing, and the longest known name wins; a number counts with all its digits. An
// unknown `&` stays with the character after it. True when the text changed.
bool DecodeHtmlEntities(std::string& text);

}  // namespace gatemoor
