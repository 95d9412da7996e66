#include "screening/VornUtilRegex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace gatemoor {

namespace {

// Compiled expressions kept for reuse; the cache starts afresh when it is full.
constexpr std::size_t kRegexCacheLimit = 256;

bool IsPatternSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDecimal(char c) {
    return c >= '0' && c <= '9';
}
bool IsLower(char c) {
    return c >= 'a' && c <= 'z';
}

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) {
        return "error " + std::to_string(code);
    }
    return reinterpret_cast<const char*>(buffer);
}

// Which brace forms the installed library reads as quantifiers: newer releases also
// take "{,n}" and blanks inside the braces. Asked once, by compiling both forms.
struct TBraceRules {
    bool minOmitted = false;
    bool spaces = false;
};

bool ProbeMatches(const char* expression, const char* subject) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression), PCRE2_ZERO_TERMINATED,
                      PCRE2_ANCHORED | PCRE2_ENDANCHORED, &error, &offset, nullptr);
    if (code == nullptr) return false;
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject), std::strlen(subject), 0,
                               0, data, nullptr);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    return rc >= 0;
}

const TBraceRules& BraceRules() {
    static const TBraceRules rules{ProbeMatches("a{,2}", "aa"), ProbeMatches("a{ 2 }", "aa")};
    return rules;
}

// Rewrites an expression so that its plain quantifiers are lazy. It follows the
// library's own reading of escapes, classes, groups and option settings closely enough
// that it never mistakes a literal for a quantifier or the reverse.
class TLazyRewriter {
public:
    TLazyRewriter(std::string_view pattern, bool extended)
        : p_(pattern), extended_(extended), rules_(BraceRules()) {
        out_.reserve(pattern.size() + pattern.size() / 4);
    }

    std::string Run() {
        while (i_ < p_.size()) {
            const char c = p_[i_];
            std::size_t end = 0;
            if (c == '\\') {
                CopyEscape();
            } else if (c == '[') {
                CopyClass();
            } else if (c == '(') {
                OpenGroup();
            } else if (c == ')') {
                Copy(1);
                if (!outer_.empty()) {
                    extended_ = outer_.back();
                    outer_.pop_back();
                }
            } else if (extended_ && c == '#') {
                CopyTo(LineEnd(i_));
            } else if (c == '*' || c == '+' || c == '?') {
                CopyQuantifier(i_ + 1);
            } else if (c == '{' && BraceQuantifierEnd(i_, end)) {
                CopyQuantifier(end);
            } else {
                Copy(1);
            }
        }
        return std::move(out_);
    }

private:
    void Copy(std::size_t count) {
        count = std::min(count, p_.size() - i_);
        out_.append(p_.substr(i_, count));
        i_ += count;
    }
    void CopyTo(std::size_t end) { Copy(end - i_); }

    // Index after the first `close` at or after `from`; the pattern's end when none.
    std::size_t After(char close, std::size_t from) const {
        const std::size_t at = p_.find(close, from);
        return at == std::string_view::npos ? p_.size() : at + 1;
    }
    std::size_t LineEnd(std::size_t from) const { return After('\n', from); }
    // Index after the "\E" that ends quoted text starting at `from`.
    std::size_t QuoteEnd(std::size_t from) const {
        const std::size_t at = p_.find("\\E", from);
        return at == std::string_view::npos ? p_.size() : at + 2;
    }

    // At `i_` a backslash.
    void CopyEscape() {
        if (i_ + 1 >= p_.size()) return Copy(1);
        const char e = p_[i_ + 1];
        const char next = i_ + 2 < p_.size() ? p_[i_ + 2] : '\0';
        if (e == 'Q') return CopyTo(QuoteEnd(i_ + 2));
        if (e == 'c') return Copy(3);  // \c takes the next character, whatever it is
        if (next == '{' && std::string_view("xoNpPgk").find(e) != std::string_view::npos) {
            return CopyTo(After('}', i_ + 3));
        }
        if ((e == 'g' || e == 'k') && (next == '<' || next == '\'')) {
            return CopyTo(After(next == '<' ? '>' : '\'', i_ + 3));
        }
        Copy(2);
    }

    // At `i_` the "[" of a character class: copied whole, it holds no quantifier.
    void CopyClass() {
        Copy(1);
        if (i_ < p_.size() && p_[i_] == '^') Copy(1);
        if (i_ < p_.size() && p_[i_] == ']') Copy(1);  // a leading "]" is a member
        while (i_ < p_.size()) {
            const char c = p_[i_];
            std::size_t end = 0;
            if (c == '\\') {
                if (i_ + 1 < p_.size() && p_[i_ + 1] == 'Q') {
                    CopyTo(QuoteEnd(i_ + 2));
                } else {
                    Copy(2);
                }
            } else if (c == '[' && PosixClassEnd(i_, end)) {
                CopyTo(end);
            } else {
                Copy(1);
                if (c == ']') return;
            }
        }
    }

    // "[:name:]" (or with "." or "="): only when the terminator comes before any "]".
    bool PosixClassEnd(std::size_t at, std::size_t& end) const {
        if (at + 1 >= p_.size()) return false;
        const char terminator = p_[at + 1];
        if (terminator != ':' && terminator != '.' && terminator != '=') return false;
        for (std::size_t k = at + 2; k < p_.size(); ++k) {
            const char next = k + 1 < p_.size() ? p_[k + 1] : '\0';
            if (p_[k] == '\\' && (next == ']' || next == '\\')) {
                ++k;
            } else if ((p_[k] == '[' && next == terminator) || p_[k] == ']') {
                return false;
            } else if (p_[k] == terminator && next == ']') {
                end = k + 2;
                return true;
            }
        }
        return false;
    }

    // At `i_` a "(": a group, a comment, a verb, a callout or an option setting.
    void OpenGroup() {
        const char next = i_ + 1 < p_.size() ? p_[i_ + 1] : '\0';
        const char third = i_ + 2 < p_.size() ? p_[i_ + 2] : '\0';
        if (next == '*') {
            // "(*pla:" and its kin hold an expression; "(*VERB:NAME)" is copied whole.
            if (IsLower(third)) {
                CopyTo(After(':', i_ + 2));
                outer_.push_back(extended_);
            } else {
                CopyTo(After(')', i_ + 2));
            }
            return;
        }
        if (next != '?') {
            Copy(1);
            outer_.push_back(extended_);
            return;
        }
        if (third == '#') return CopyTo(After(')', i_ + 3));
        if (third == 'C') return OpenCallout();
        // "(?*" and "(?<*" open non-atomic assertions: that "*" quantifies nothing.
        const std::size_t star = p_.substr(i_ + 2, 2) == "<*" ? 4 : third == '*' ? 3 : 0;
        if (star > 0) {
            Copy(star);
            outer_.push_back(extended_);
            return;
        }

        bool set = true;
        bool extended = extended_;
        std::size_t k = i_ + 2;
        for (; k < p_.size() && std::string_view("imnsxJU^-").find(p_[k]) != std::string_view::npos;
             ++k) {
            if (p_[k] == '^') extended = false;
            if (p_[k] == '-') set = false;
            if (p_[k] == 'x') extended = set;
        }
        if (k < p_.size() && p_[k] == ')') {
            // "(?x)" changes the options for the rest of the enclosing group.
            CopyTo(k + 1);
            extended_ = extended;
        } else if (k < p_.size() && p_[k] == ':') {
            CopyTo(k + 1);
            outer_.push_back(extended_);
            extended_ = extended;
        } else {
            Copy(2);
            outer_.push_back(extended_);
        }
    }

    // At `i_` "(?C": a numbered callout or one with a delimited text.
    void OpenCallout() {
        Copy(3);
        outer_.push_back(extended_);
        if (i_ >= p_.size()) return;
        const char open = p_[i_];
        if (std::string_view("`'\"^%#${").find(open) == std::string_view::npos) return;
        const char close = open == '{' ? '}' : open;
        Copy(1);
        while (i_ < p_.size()) {
            if (p_[i_] == close) {
                if (i_ + 1 < p_.size() && p_[i_ + 1] == close) {
                    Copy(2);  // a doubled delimiter stands for itself
                    continue;
                }
                Copy(1);
                return;
            }
            Copy(1);
        }
    }

    // At `at` a "{": true with `end` after its "}" when it forms a quantifier.
    bool BraceQuantifierEnd(std::size_t at, std::size_t& end) const {
        std::size_t k = at + 1;
        auto skipSpaces = [&] {
            while (rules_.spaces && k < p_.size() && (p_[k] == ' ' || p_[k] == '\t'))
                ++k;
        };
        auto digits = [&] {
            const std::size_t from = k;
            while (k < p_.size() && IsDecimal(p_[k]))
                ++k;
            return k > from;
        };
        skipSpaces();
        const bool minimum = digits();
        skipSpaces();
        bool maximum = false;
        bool comma = false;
        if (k < p_.size() && p_[k] == ',') {
            comma = true;
            ++k;
            skipSpaces();
            maximum = digits();
            skipSpaces();
        }
        if (k >= p_.size() || p_[k] != '}') return false;
        if (!minimum && !(comma && maximum && rules_.minOmitted)) return false;
        end = k + 1;
        return true;
    }

    // Index of the first character at or after `from` that the library does not skip
    // between a quantifier and its lazy or possessive mark.
    std::size_t SkipIgnored(std::size_t from) const {
        std::size_t k = from;
        while (k < p_.size()) {
            if (p_.substr(k, 3) == "(?#") {
                k = After(')', k + 3);
            } else if (p_.substr(k, 2) == "\\E") {
                k += 2;  // a stray end of quoting
            } else if (p_.substr(k, 4) == "\\Q\\E") {
                k += 4;  // empty quoted text
            } else if (extended_ && IsPatternSpace(p_[k])) {
                ++k;
            } else if (extended_ && p_[k] == '#') {
                k = LineEnd(k);
            } else {
                break;
            }
        }
        return k;
    }

    // Copies the quantifier from `i_` to `end`, with its mark or a lazy mark added.
    void CopyQuantifier(std::size_t end) {
        CopyTo(end);
        const std::size_t mark = SkipIgnored(i_);
        if (mark < p_.size() && (p_[mark] == '?' || p_[mark] == '+')) {
            CopyTo(mark + 1);
        } else {
            out_.push_back('?');
        }
    }

    std::string_view p_;
    std::size_t i_ = 0;
    std::string out_;
    bool extended_;
    std::vector<bool> outer_;  // the extended option of each enclosing group
    const TBraceRules& rules_;
};

using TCode = std::shared_ptr<pcre2_code>;

TCode CompileUncached(std::string_view expression, int flags) {
    const bool extended = (flags & regex_flags::kExtended) != 0;
    const std::string pattern = (flags & regex_flags::kGreedy) != 0
                                    ? std::string(expression)
                                    : MakeQuantifiersLazy(expression, extended);
    // Byte strings: never switch to UTF, whatever the expression asks for.
    std::uint32_t options = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;
    if (flags & regex_flags::kCaseInsensitive) options |= PCRE2_CASELESS;
    if (flags & regex_flags::kMultiLine) options |= PCRE2_MULTILINE;
    if (flags & regex_flags::kDotAll) options |= PCRE2_DOTALL;
    if (extended) options |= PCRE2_EXTENDED;
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     options, &error, &offset, nullptr);
    if (code == nullptr) {
        throw ERegexException("Bad regular expression \"" + std::string(expression) +
                              "\": " + ErrorText(error) + " at offset " + std::to_string(offset));
    }
    // Machine code where the platform has it: the screening searches every HTML body
    // with a dozen expressions. Without it the interpreter runs, with the same answers.
    (void)pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    return TCode(code, pcre2_code_free);
}

TCode Compile(std::string_view expression, int flags) {
    static std::mutex mutex;
    static std::unordered_map<std::string, TCode> cache;
    flags &= 31;
    std::string key = std::to_string(flags) + ':';
    key.append(expression);
    {
        std::lock_guard lock(mutex);
        if (auto found = cache.find(key); found != cache.end()) return found->second;
    }
    TCode code = CompileUncached(expression, flags);
    std::lock_guard lock(mutex);
    if (cache.size() >= kRegexCacheLimit) cache.clear();
    cache.emplace(std::move(key), code);
    return code;
}

// One compiled expression with its match data, searched repeatedly.
class TMatcher {
public:
    TMatcher(std::string_view expression, int flags)
        : code_(Compile(expression, flags)),
          data_(pcre2_match_data_create_from_pattern(code_.get(), nullptr), pcre2_match_data_free) {
        if (!data_) throw ERegexException("Out of memory for a regular expression match");
    }

    // PCRE2's answer for a search from `start`, with `options`; true on a match.
    bool Search(std::string_view text, std::size_t start, std::uint32_t options) {
        int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(text.data()),
                             text.size(), start, options, data_.get(), nullptr);
        // The machine code's stack is small; the interpreter then decides, within its own
        // limits, as it would have without machine code.
        if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
            rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                             start, options | PCRE2_NO_JIT, data_.get(), nullptr);
        }
        if (rc == PCRE2_ERROR_NOMATCH) return false;
        if (rc < 0) throw ERegexException("Regular expression search failed: " + ErrorText(rc));
        return true;
    }

    [[nodiscard]] std::size_t MatchStart() const { return Ovector()[0]; }
    [[nodiscard]] std::size_t MatchEnd() const { return std::max(Ovector()[0], Ovector()[1]); }

    [[nodiscard]] TRegexMatch Match(std::string_view text) const {
        TRegexMatch match;
        match.position = MatchStart();
        match.length = MatchEnd() - MatchStart();
        const PCRE2_SIZE* ovector = Ovector();
        const std::uint32_t count = pcre2_get_ovector_count(data_.get());
        match.groups.reserve(count);
        for (std::uint32_t g = 0; g < count; ++g) {
            const PCRE2_SIZE from = ovector[2 * g];
            const PCRE2_SIZE to = ovector[2 * g + 1];
            if (from == PCRE2_UNSET || to <= from) {
                match.groups.emplace_back();
            } else {
                match.groups.emplace_back(text.substr(from, to - from));
            }
        }
        return match;
    }

    // Calls `onMatch` for every match from left to right. After an empty match the
    // next search first asks for a non-empty one at the same place, as Perl does.
    template <typename OnMatch>
    bool ForEach(std::string_view text, OnMatch&& onMatch) {
        bool any = false;
        std::size_t start = 0;
        std::uint32_t options = 0;
        while (start <= text.size()) {
            if (!Search(text, start, options)) {
                if (options == 0) break;
                options = 0;
                ++start;
                continue;
            }
            any = true;
            onMatch(Match(text));
            start = MatchEnd();
            options = MatchStart() == MatchEnd() ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : 0;
        }
        return any;
    }

private:
    [[nodiscard]] const PCRE2_SIZE* Ovector() const {
        return pcre2_get_ovector_pointer(data_.get());
    }

    TCode code_;
    std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data_;
};

}  // namespace

std::string MakeQuantifiersLazy(std::string_view expression, bool extended) {
    return TLazyRewriter(expression, extended).Run();
}

std::optional<TRegexMatch> RegexSearch(std::string_view expression, std::string_view text,
                                       int flags, std::size_t start) {
    if (start > text.size()) return std::nullopt;
    TMatcher matcher(expression, flags);
    if (!matcher.Search(text, start, 0)) return std::nullopt;
    return matcher.Match(text);
}

bool RegexContains(std::string_view expression, std::string_view text, int flags) {
    return TMatcher(expression, flags).Search(text, 0, 0);
}

std::string RegexFirstMatch(std::string_view expression, std::string_view text, int flags) {
    std::string result;
    if (auto match = RegexSearch(expression, text, flags)) {
        for (const auto& group : match->groups) {
            if (group.empty()) break;
            result += group;
        }
    }
    return result;
}

bool RegexAllMatches(std::string_view expression, std::string_view text,
                     std::vector<std::string>& list, bool allGroups, int flags,
                     std::string_view exclude) {
    TMatcher matcher(expression, flags);
    const bool any = matcher.ForEach(text, [&](TRegexMatch&& match) {
        if (!allGroups || match.groups.size() == 1) {
            list.push_back(std::move(match.groups[0]));
        } else {
            list.insert(list.end(), std::make_move_iterator(match.groups.begin() + 1),
                        std::make_move_iterator(match.groups.end()));
        }
    });
    if (!exclude.empty()) {
        TMatcher excluded(exclude, flags);
        std::erase_if(list, [&](const std::string& line) { return excluded.Search(line, 0, 0); });
    }
    return any;
}

}  // namespace gatemoor
