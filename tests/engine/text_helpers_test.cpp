#include "engine/engine.h"

#include <gtest/gtest.h>

TEST(ParseLeadingNumber, ReadsDigitsAtTheStartAndWrapsOnOverflow) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"500", 500},
        {"123abc", 123},
        {"007", 7},
        {"", 0},
        {"abc", 0},
        {"-5", 0},
        {"+5", 0},
        {" 5", 0},
        {"12 34", 12},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"4294967301", 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseLeadingNumber(c.text), c.value) << c.text;
    }
}

TEST(ContainsText, FindsContiguousRunsCaseSensitively) {
    struct Case {
        const char* haystack;
        const char* needle;
        bool found;
    } cases[] = {
        {"say", "say", true},
        {"essay", "say", true},
        {"display", "play", true},
        {"saycg", "cg", true},
        {"Say", "say", false},
        {"sa y", "say", false},
        {"a", "", true},
        {"", "", false},
        {"", "say", false},
        {nullptr, "say", false},
        {"say", nullptr, false},
        {"sa", "say", false},
        {"[turn~page]", "turn", true},
        {"say~RETURN", "turn", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(containsText(c.haystack, c.needle), c.found)
            << (c.haystack ? c.haystack : "(none)") << " / " << (c.needle ? c.needle : "(none)");
    }
}

TEST(IsDecimalDigit, AcceptsOnlyZeroToNine) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(isDecimalDigit(static_cast<char>(c)), c >= '0' && c <= '9') << c;
    }
}
