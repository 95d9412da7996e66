#include <gtest/gtest.h>

#include "foundation/CommaText.h"

namespace gatemoor {
namespace {

using Items = std::vector<std::string>;

TEST(CommaText, WritesQuotesOnlyWhereNeeded) {
    struct Case {
        const char* name;
        Items items;
        const char* text;
    } cases[] = {
        {"empty list", {}, ""},
        {"one empty item", {""}, "\"\""},
        {"bare items", {"a", "b=c"}, "a,b=c"},
        {"blank", {"T=Access denied"}, "\"T=Access denied\""},
        {"comma and quote", {"x,\"y\""}, "\"x,\"\"y\"\"\""},
        {"control", {std::string("a\tb")}, "\"a\tb\""},
        {"empty in the middle", {"a", "", "b"}, "a,,b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToCommaText(c.items), c.text);
    }
}

TEST(CommaText, ReadsItsOwnOutputBack) {
    const Items samples[] = {
        {"plain"}, {"  leading blanks", "trailing  "}, {"with, comma", "\"quoted\""},
        {"", "x", ""}, {"a\r\nb", "1=TXT"},
    };
    for (const auto& items : samples) EXPECT_EQ(FromCommaText(ToCommaText(items)), items);
}

TEST(CommaText, ReadingRules) {
    struct Case {
        const char* name;
        std::string text;
        Items items;
    } cases[] = {
        {"unquoted blank splits", "a b", {"a", "b"}},
        {"blanks around items", "  a ,  b  ", {"a", "b"}},
        {"trailing comma adds an empty item", "a,", {"a", ""}},
        {"unclosed quote runs to the end", "\"abc,def", {"abc,def"}},
        {"doubled quote", "\"a\"\"b\"", {"a\"b"}},
        {"only blanks", "   ", {}},
        {"lone commas", ",,", {"", "", ""}},
        {"nul outside quotes ends the text", std::string("a\0b", 3), {"a"}},
        {"nul inside quotes is kept", std::string("\"a\0b\",c", 7), {std::string("a\0b", 3), "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromCommaText(c.text), c.items);
    }
}

TEST(CommaText, ValueOfNameIgnoresCaseAndSplitsAtTheFirstEquals) {
    Items items{"S=Error", "ti=12", "T=a=b", "X"};
    EXPECT_EQ(ValueOfName(items, "s"), "Error");
    EXPECT_EQ(ValueOfName(items, "Ti"), "12");
    EXPECT_EQ(ValueOfName(items, "T"), "a=b");
    EXPECT_FALSE(ValueOfName(items, "X"));
    EXPECT_FALSE(ValueOfName(items, "D"));
}

}  // namespace
}  // namespace gatemoor
