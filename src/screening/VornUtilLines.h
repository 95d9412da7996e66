// Line layout for plain text: wrapping, padding, and the tidy-up used when mail is
// converted to plain text.
#pragma once

#include <string>
#include <vector>

namespace gatemoor {

// Wraps every line longer than `width` at the last blank within the first `width`
// characters (when there is none, or it belongs to the indentation, at the first blank
// after the indentation); the blank goes, and the rest, preceded by the line's leading
// blanks when `keepIndent`, becomes the next line and is wrapped in its turn. A line
// without such a blank before its last character stays long.
void WrapLines(std::vector<std::string>& list, int width, bool keepIndent);

// Fills lines shorter than `width` up to it with `fill`.
void PadLines(std::vector<std::string>& list, int width, char fill);

// The plain-text tidy-up: every line loses double blanks, " ." and one leading blank;
// a line of 72 characters or more also loses "-----original message-----", doubled
// punctuation and the full stops of common abbreviations, and is cut into sentences
// (after the first `!`, `.` or `?` from its 50th character on) while what remains is
// longer than 70 characters. Then no two empty lines stay next to each other.
void ReflowText(std::vector<std::string>& list);

}  // namespace gatemoor
