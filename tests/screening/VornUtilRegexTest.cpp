#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <thread>

#include "screening/VornUtilRegex.h"

namespace gatemoor {
namespace {

using Lines = std::vector<std::string>;
using namespace regex_flags;

TEST(UtilRegex, PlainQuantifiersAreLazyUnlessGreedy) {
    struct Case {
        const char* name;
        const char* expression;
        std::string text;
        int flags;
        const char* first;
    } cases[] = {
        {"star lazy", "<.*>", "<a><b>", 0, "<a>"},
        {"star greedy", "<.*>", "<a><b>", kGreedy, "<a><b>"},
        {"explicit lazy with greedy bit", "<.*?>", "<a><b>", kGreedy, "<a>"},
        {"explicit lazy without greedy bit", "<.*?>", "<a><b>", 0, "<a>"},
        {"plus lazy", "\\d+", "12345", 0, "1"},
        {"plus greedy", "\\d+", "12345", kGreedy, "12345"},
        {"braces lazy", "\\d{2,4}", "12345", 0, "12"},
        {"braces greedy", "\\d{2,4}", "12345", kGreedy, "1234"},
        {"possessive stays", "\\d++", "12345", 0, "12345"},
        {"question mark lazy", "ab?", "abc", 0, "a"},
        {"question mark greedy", "ab?", "abc", kGreedy, "ab"},
        {"lazy across lines needs dot-all", "<img.*?>", "x<IMG\r\nsrc=a>y>",
         kCaseInsensitive | kDotAll, "<IMG\r\nsrc=a>"},
        {"dot stops at line breaks", "<img.*?>", "<img\nsrc=a>", kCaseInsensitive, ""},
        {"case sensitive by default", "abc", "ABC", 0, ""},
        {"multi-line anchors", "^b", "a\nb", kMultiLine, "b"},
        {"extended ignores blanks", "a b  c", "abc", kExtended, "abc"},
        {"lazy in extended mode", "a + # digits\n", "aaa", kExtended, "a"},
        {"hex escape", "\\x41+", "AAA", kGreedy, "AAA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RegexFirstMatch(c.expression, c.text, c.flags), c.first);
    }
}

TEST(UtilRegex, FirstMatchIsFollowedByItsGroupsUpToAnEmptyOne) {
    EXPECT_EQ(RegexFirstMatch("(a)(b)", "xab", kGreedy), "abab");
    EXPECT_EQ(RegexFirstMatch("(a)(x)?(c)", "ac", kGreedy), "aca");
    EXPECT_EQ(RegexFirstMatch("(a)()(c)", "ac", kGreedy), "aca");
    EXPECT_EQ(RegexFirstMatch("q", "abc"), "");
}

TEST(UtilRegex, SearchReportsPositionAndGroups) {
    const auto match =
        RegexSearch("src *= *\"?([^ >]*)", "<img SRC = \"pic.gif\">", kCaseInsensitive | kGreedy);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->position, 5u);
    EXPECT_EQ(match->groups, (Lines{"SRC = \"pic.gif\"", "pic.gif\""}));
    EXPECT_FALSE(RegexSearch("a", "abc", 0, 1));
    EXPECT_TRUE(RegexSearch("(?<=a)b", "ab", 0, 1));  // looks behind the start
    EXPECT_TRUE(RegexContains("<[^>]*javascript:.*?>", "<ahref=javascript:x()>", kDotAll));
    EXPECT_FALSE(RegexContains("<[^>]*javascript:.*?>", "javascript:<a>", kDotAll));
}

TEST(UtilRegex, AllMatches) {
    struct Case {
        const char* name;
        const char* expression;
        std::string text;
        bool allGroups;
        int flags;
        const char* exclude;
        Lines list;
        bool any;
    } cases[] = {
        {"each match", "\\d+", "a1b22c333", false, kGreedy, "", {"1", "22", "333"}, true},
        {"each lazy match", "\\d+", "a1b22", false, 0, "", {"1", "2", "2"}, true},
        {"groups", "(\\w)=(\\d)", "a=1 b=2", true, 0, "", {"a", "1", "b", "2"}, true},
        {"no groups gives the match", "\\w=\\d", "a=1 b=2", true, 0, "", {"a=1", "b=2"}, true},
        {"empty matches move on", "x*", "axxb", false, kGreedy, "", {"", "xx", "", ""}, true},
        {"exclude",
         "<img[^>]*>",
         "<img a><IMG b><img c>",
         false,
         kCaseInsensitive,
         "b>$",
         {"<img a>", "<img c>"},
         true},
        {"no match", "z", "abc", false, 0, "", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Lines list;
        EXPECT_EQ(RegexAllMatches(c.expression, c.text, list, c.allGroups, c.flags, c.exclude),
                  c.any);
        EXPECT_EQ(list, c.list);
    }
    Lines list{"kept", "1 old"};
    EXPECT_TRUE(RegexAllMatches("\\d \\w+", "2 new", list, false, kGreedy, "old"));
    EXPECT_EQ(list, (Lines{"kept", "2 new"}));
}

TEST(UtilRegex, FailuresAreErrorsNotMisses) {
    EXPECT_THROW((void)RegexContains("(", "abc"), ERegexException);
    EXPECT_THROW((void)RegexFirstMatch("a{2,1}", "aa"), ERegexException);
    Lines list;
    EXPECT_THROW(RegexAllMatches("a", "a", list, false, 0, "["), ERegexException);
    EXPECT_EQ(list, Lines{"a"});  // as far as it got
    // Catastrophic backtracking ends at the library's limit: that is no answer at all.
    EXPECT_THROW((void)RegexContains("(a+)+$", std::string(40, 'a') + "b", kGreedy),
                 ERegexException);
}

TEST(UtilRegex, LazyRewrite) {
    struct Case {
        const char* name;
        const char* expression;
        bool extended;
        const char* lazy;
    } cases[] = {
        {"star", "a*", false, "a*?"},
        {"plus and question", "a+b?", false, "a+?b??"},
        {"braces", "a{2}b{2,}c{2,3}", false, "a{2}?b{2,}?c{2,3}?"},
        {"already lazy", "a*?b+?", false, "a*?b+?"},
        {"possessive", "a*+b{2}+", false, "a*+b{2}+"},
        {"literal braces", "a{b}c{,}d{", false, "a{b}c{,}d{"},
        {"escaped quantifier characters", "\\*\\+\\?\\{2\\}", false, "\\*\\+\\?\\{2\\}"},
        {"escape then quantifier", "\\d*\\.", false, "\\d*?\\."},
        {"class", "[*+?{2}]*", false, "[*+?{2}]*?"},
        {"class with leading bracket", "[]*]x[^]?]y", false, "[]*]x[^]?]y"},
        {"class with escaped bracket", "[\\]*]*", false, "[\\]*]*?"},
        {"posix class", "[[:alpha:]*]+", false, "[[:alpha:]*]+?"},
        {"not a posix class", "[[:a]*", false, "[[:a]*?"},
        {"quoted text", "\\Qa*b+\\E*", false, "\\Qa*b+\\E*?"},
        {"unterminated quote", "\\Qa*", false, "\\Qa*"},
        {"braced escapes", "\\x{41}\\o{101}\\p{L}\\g{1}", false, "\\x{41}\\o{101}\\p{L}\\g{1}"},
        {"named reference", "(?<n>a)\\k<n>*", false, "(?<n>a)\\k<n>*?"},
        {"control escape", "\\c*a", false, "\\c*a"},
        {"group", "(?:ab)*(c)+", false, "(?:ab)*?(c)+?"},
        {"comment", "(?#a*)b*", false, "(?#a*)b*?"},
        {"comment before the mark", "a*(?#c)?", false, "a*(?#c)?"},
        {"stray end of quoting before the mark", "a*\\E+b", false, "a*\\E+b"},
        {"empty quote before the mark", "a*\\Q\\E?b", false, "a*\\Q\\E?b"},
        {"non-atomic assertions", "(?*a+)(?<*b)c*", false, "(?*a+?)(?<*b)c*?"},
        {"verb", "(*MARK:a*)b*", false, "(*MARK:a*)b*?"},
        {"alpha assertion", "(*pla:a*)b", false, "(*pla:a*?)b"},
        {"callout text", "(?C'a*')b*", false, "(?C'a*')b*?"},
        {"blank before mark, plain", "a* ?", false, "a*? ??"},
        {"blank before mark, extended", "a* ?", true, "a* ?"},
        {"comment in extended mode", "a*#[\nb*", true, "a*?#[\nb*?"},
        {"inline extended", "(?x)a* ?", false, "(?x)a* ?"},
        {"inline extended in a group", "(?x: a* ?)b* ?", false, "(?x: a* ?)b*? ??"},
        {"inline extended switched off", "(?x)(?-x)a* ?", false, "(?x)(?-x)a*? ??"},
        {"group ends inline option", "((?x)a)b* ?", false, "((?x)a)b*? ??"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MakeQuantifiersLazy(c.expression, c.extended), c.lazy);
    }
}

// Where an expression has no explicit lazy mark, the library's own ungreedy option
// must find exactly what the rewritten expression finds.
std::optional<std::pair<std::size_t, std::size_t>> UngreedyMatch(const std::string& expression,
                                                                 const std::string& text) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression.data()),
                                     expression.size(), PCRE2_UNGREEDY, &error, &offset, nullptr);
    EXPECT_NE(code, nullptr) << expression;
    if (code == nullptr) return std::nullopt;
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                               data, nullptr);
    std::optional<std::pair<std::size_t, std::size_t>> result;
    if (rc >= 0) {
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        result.emplace(ovector[0], ovector[1] - ovector[0]);
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    return result;
}

TEST(UtilRegex, LazyRewriteAgreesWithTheLibrarysUngreedyMode) {
    const char* expressions[] = {
        "<[^>]*(onclick|onload).*>",
        "src *= *\"?[^ >]*",
        "a{1,3}b",
        "(ab|a)+c",
        "[a-c]+(x|y)?\\d{2,}",
        "^begin \\d+\\x09",
        "\\w+@\\w+\\.\\w{2,3}",
        "(<[^>]+>)+",
    };
    const char* texts[] = {
        "<a onclick=x>y>", "<img src = \"pic.gif\" alt>", "aaab",    "ababac", "abcy123",
        "begin 644\tf",    "mail me@host.com.au now",     "<a><b>c", "",
    };
    for (const char* expression : expressions) {
        for (const char* text : texts) {
            SCOPED_TRACE(std::string(expression) + " on " + text);
            const auto expected = UngreedyMatch(expression, text);
            const auto match = RegexSearch(expression, text);
            ASSERT_EQ(match.has_value(), expected.has_value());
            if (match) {
                EXPECT_EQ(match->position, expected->first);
                EXPECT_EQ(match->length, expected->second);
            }
        }
    }
}

TEST(UtilRegex, SharedCacheServesThreads) {
    // More distinct expressions than the cache keeps, so it is emptied while in use.
    auto work = [](int seed) {
        for (int i = 0; i < 600; ++i) {
            const std::string expression = "x" + std::to_string((i * 7 + seed) % 300) + "y+";
            const std::string text = "a" + expression.substr(0, expression.size() - 1) + "yy";
            if (!RegexContains(expression, text)) return false;
        }
        return true;
    };
    bool ok[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] { ok[t] = work(t); });
    for (auto& thread : threads)
        thread.join();
    for (bool result : ok)
        EXPECT_TRUE(result);
}

}  // namespace
}  // namespace gatemoor
