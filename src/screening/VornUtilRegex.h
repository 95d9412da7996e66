// Regular expressions in Perl syntax over byte strings. Unless the greedy flag is
// given, plain quantifiers are lazy; an explicit lazy quantifier ("*?") is lazy always.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace gatemoor {

// Flag bits of the regular-expression routines.
namespace regex_flags {
inline constexpr int kCaseInsensitive = 1;
inline constexpr int kMultiLine = 2;  // ^ and $ also at line breaks
inline constexpr int kDotAll = 4;     // . also matches line breaks
inline constexpr int kGreedy = 8;     // plain quantifiers greedy (otherwise lazy)
inline constexpr int kExtended = 16;  // white space and # comments in the expression ignored
}  // namespace regex_flags

// A bad expression, or a search that gave up (for example at the library's backtracking
// limit): a failed search is never reported as "no match".
class ERegexException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TRegexMatch {
    std::size_t position = 0;  // 0-based index of the match in the searched text
    std::size_t length = 0;
    // groups[0] is the whole match, then the groups in order; a group that took no
    // part in the match is empty.
    std::vector<std::string> groups;
};

// The first match starting at or after index `start`; nullopt when there is none.
// Throws ERegexException.
[[nodiscard]] std::optional<TRegexMatch> RegexSearch(std::string_view expression,
                                                     std::string_view text, int flags = 0,
                                                     std::size_t start = 0);

// True when the expression matches anywhere in the text. Throws ERegexException.
[[nodiscard]] bool RegexContains(std::string_view expression, std::string_view text, int flags = 0);

// The text of the first match followed by the texts of its groups in order, stopping
// at the first empty one; empty when there is no match. Throws ERegexException.
[[nodiscard]] std::string RegexFirstMatch(std::string_view expression, std::string_view text,
                                          int flags = 0);

// Adds each match to `list` or, with `allGroups`, each match's groups (an expression
// without groups adds the whole match); then, when `exclude` is not empty, deletes the
// lines of `list` that `exclude` matches (same flags). True when there was a match.
// Throws ERegexException, leaving `list` as far as it got.
bool RegexAllMatches(std::string_view expression, std::string_view text,
                     std::vector<std::string>& list, bool allGroups, int flags = 0,
                     std::string_view exclude = {});

// The expression with every plain quantifier made lazy ("?" appended), leaving lazy and
// possessive quantifiers, character classes, escapes, quoted text, comments and verbs
// as they are. `extended` says whether white space and # comments are ignored at the
// start (inline option settings are followed). What the routines above compile without
// the greedy flag.
[[nodiscard]] std::string MakeQuantifiersLazy(std::string_view expression, bool extended);

}  // namespace gatemoor
