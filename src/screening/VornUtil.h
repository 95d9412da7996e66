// The utility module's text routines: character classes, replacing and searching,
// lists of lines, comma-text merging, URL coding and small random texts. The other
// VornUtil headers hold HTML text, line layout, regular expressions, text packing and
// file names; this header brings them all in so that callers need one include.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "screening/VornUtilFiles.h"
#include "screening/VornUtilHtml.h"
#include "screening/VornUtilLines.h"
#include "screening/VornUtilPack.h"
#include "screening/VornUtilRegex.h"

namespace gatemoor {

// ASCII letter case only: bytes above 127 are never changed, whatever the locale.
[[nodiscard]] constexpr char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
[[nodiscard]] constexpr char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
[[nodiscard]] std::string AsciiUpper(std::string_view text);
[[nodiscard]] std::string AsciiLower(std::string_view text);

// The nine characters that no file name may hold.
inline constexpr std::string_view FORBIDDEN_FILENAME_CHARS = "<>?*:|\"/\\";

enum class TCharClass {
    BlankOrTab,    // space, tab
    Letter,        // A-Z, a-z
    Digit,         // 0-9
    Printable,     // codes 33 to 126
    FileNameChar,  // space, and printable characters except FORBIDDEN_FILENAME_CHARS
    UrlChar,       // printable characters except ! " # $ ( ) * , ; < > [ ] { | }
};

[[nodiscard]] constexpr bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}
[[nodiscard]] constexpr bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
[[nodiscard]] constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
[[nodiscard]] constexpr bool IsPrintable(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 33 && code <= 126;
}
[[nodiscard]] constexpr bool IsFileNameChar(char c) {
    return c == ' ' ||
           (IsPrintable(c) && FORBIDDEN_FILENAME_CHARS.find(c) == std::string_view::npos);
}
[[nodiscard]] constexpr bool IsUrlChar(char c) {
    return IsPrintable(c) &&
           std::string_view("!\"#$()*,;<>[]{|}").find(c) == std::string_view::npos;
}
[[nodiscard]] bool IsOfClass(char c, TCharClass charClass);

// Removes every character of the class; true when anything was removed.
bool DeleteChars(std::string& text, TCharClass charClass);
// Removes every character that is not of the class; true when anything was removed.
bool KeepOnlyChars(std::string& text, TCharClass charClass);

// The text without its leading spaces (tabs stay).
[[nodiscard]] std::string TrimLeadingBlanks(std::string_view text);

// After TrimLeadingBlanks: when longer than `width`, its last `width` characters; else
// `pad` put in front until it is at least `width` long. An empty `pad` pads nothing.
[[nodiscard]] std::string PadLeft(std::string_view numberText, int width, std::string_view pad);

// Replaces the first occurrence of `oldText` again and again until none is left, so
// text that a replacement forms is replaced too. Does nothing when the texts are equal
// or `newText` contains `oldText` (which would never end). True when anything changed.
bool ReplaceAll(std::string_view oldText, std::string_view newText, std::string& text);

// Replaces every occurrence in one left-to-right pass, searching on after the inserted
// text; an empty `newText` deletes. Does nothing when the texts are equal or `oldText`
// is empty. True when anything was replaced.
bool ReplaceEvery(std::string_view oldText, std::string_view newText, std::string& text);

// Index (0-based) of the first occurrence of `pattern` in `text`, ignoring ASCII case,
// where `?` in the pattern matches any character; npos when absent or `pattern` empty.
[[nodiscard]] std::size_t PosText(std::string_view pattern, std::string_view text);
// The same, searching from index `start` (0-based).
[[nodiscard]] std::size_t PosTextFrom(std::string_view text, std::string_view pattern,
                                      std::size_t start);

// Appends the pieces between separators to `list`; an empty last piece is not added.
// An empty separator gives the whole text as one piece.
void SplitText(std::string_view text, std::string_view separator, std::vector<std::string>& list);

// Removes every later line equal (case-sensitive) to an earlier one.
void RemoveDuplicateLines(std::vector<std::string>& list);

// `b` when `a` is empty or `""`; `a` when `b` is; otherwise the comma text of a's items
// followed by b's, later duplicates removed unless `keepDuplicates`.
[[nodiscard]] std::string MergeCommaTexts(std::string_view a, std::string_view b,
                                          bool keepDuplicates);

// "True" or "False".
[[nodiscard]] std::string BoolText(bool flag);

// `count` random printable characters (codes 33 to 126) / letters and digits.
[[nodiscard]] std::string RandomPrintable(int count);
[[nodiscard]] std::string RandomAlphanumeric(int count);

// "LocalHost".
[[nodiscard]] std::string LocalHostName();
// The machine's host name, else "LocalHost"; read once.
[[nodiscard]] std::string MachineName();

// URL characters other than `%` and `+` stay; every other byte becomes `%` and two
// upper-case hex digits.
[[nodiscard]] std::string UrlEncode(std::string_view text);
// The same, also encoding every character of `alsoEncoded` (e.g. "&" inside a query).
[[nodiscard]] std::string UrlEncode(std::string_view text, std::string_view alsoEncoded);
// Every `+` becomes a blank; `%` and two hex digits become that byte; a malformed `%`
// stays as it is.
[[nodiscard]] std::string UrlDecode(std::string_view text);

}  // namespace gatemoor
