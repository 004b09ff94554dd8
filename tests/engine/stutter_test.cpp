#include "engine/engine.h"
#include "support/story_driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string stuttered(const char* text, uint32_t intensity, uint32_t seed) {
    char* out = stutterText(text, intensity, &seed);
    std::string result = out != nullptr ? out : "(none)";
    platformFree(out);
    return result;
}

std::vector<std::string> split(const char* text, char delimiter) {
    TextPieces pieces;
    EXPECT_TRUE(splitOn(text, delimiter, &pieces));
    std::vector<std::string> result(pieces.pieces, pieces.pieces + pieces.count);
    freePieces(&pieces);
    return result;
}
} // namespace

TEST(NextRandomByte, FollowsTheLinearCongruentialSequence) {
    uint32_t seed = 0;
    for (uint8_t expected : {0, 220, 4, 101, 170}) {
        EXPECT_EQ(nextRandomByte(&seed), expected);
    }
    seed = 123456789;
    for (uint8_t expected : {208, 43, 200, 185, 109}) {
        EXPECT_EQ(nextRandomByte(&seed), expected);
    }
}

TEST(StutterText, RepeatsFirstLettersAsTheRandomBytesSay) {
    // Seed 24 draws 151, 26 and 205: stammers of 1, 0 and 2 for I, don't and know.
    EXPECT_EQ(stuttered("I/don't know", 3, 24), "I-Idon't k-k-know");
}

TEST(StutterText, WithoutStammersOnlyTheMarksGo) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"hel/lo %wor/ld", "hello world"},
        {"Hi/there", "Hithere"},
        {"%/%", ""},
        {"%", ""},
        {"%%x", "%x"},
        {"a  b", "a  b"},
        {" a ", " a "},
        {"a//b", "ab"},
        {"", ""},
        {"~12 x~y", "~12 x~y"},
        {"50%", "50%"},
    };
    for (uint32_t seed : {0u, 7u, 99999u}) {
        for (const Case& c : cases) {
            EXPECT_EQ(stuttered(c.text, 1, seed), c.expected) << c.text;
        }
    }
}

TEST(StutterText, KeepsEverySpaceAndStammersOnlyUnmarkedParts) {
    for (uint32_t seed = 0; seed < 200; ++seed) {
        std::string out = stuttered("a  b %c/d", 5, seed);
        // The letters stay in order; stammers are "x-" pairs in front of a part's first letter.
        std::string letters;
        for (size_t i = 0; i < out.size(); ++i) {
            if (i + 1 < out.size() && out[i + 1] == '-') {
                EXPECT_TRUE(out[i] == 'a' || out[i] == 'b' || out[i] == 'd') << out;
                ++i;
                continue;
            }
            letters += out[i];
        }
        EXPECT_EQ(letters, "a  b cd") << out;
    }
}

TEST(StutterText, StammersStayBelowTheIntensity) {
    for (uint32_t intensity : {2u, 3u, 10u, 4294967295u}) {
        for (uint32_t seed = 0; seed < 100; ++seed) {
            std::string out = stuttered("word", intensity, seed);
            size_t repeats = (out.size() - 4) / 2;
            EXPECT_LT(repeats, std::min<uint32_t>(intensity, 256 + 1)) << out;
            EXPECT_EQ(out.substr(out.size() - 4), "word");
        }
    }
}

TEST(StutterText, DrawsNoRandomByteForMarkedParts) {
    uint32_t seed = 5;
    char* out = stutterText("%a %b/%c", 3, &seed);
    platformFree(out);
    EXPECT_EQ(seed, 5u);
    out = stutterText("a/", 3, &seed); // the empty part still draws
    platformFree(out);
    seed = 5;
    nextRandomByte(&seed);
    uint32_t afterOne = seed;
    nextRandomByte(&seed);
    uint32_t afterTwo = seed;
    seed = 5;
    out = stutterText("a/", 3, &seed);
    platformFree(out);
    EXPECT_EQ(seed, afterTwo);
    EXPECT_NE(afterOne, afterTwo);
}

TEST(StutterText, GrowsPastItsFirstCapacity) {
    std::string longText(1000, 'x');
    longText += " y/z";
    EXPECT_EQ(stuttered(longText.c_str(), 1, 0), std::string(1000, 'x') + " yz");
}

TEST(StutterText, FailsCleanlyWhereverMemoryRunsOut) {
    std::string text = "the/quick br/own fox " + std::string(600, 'j');
    std::string expected = stuttered(text.c_str(), 4, 11);
    for (uint32_t nth = 1; nth < 60; ++nth) {
        uint32_t seed = 11;
        platformFailAllocation(nth);
        char* out = stutterText(text.c_str(), 4, &seed);
        platformFailAllocation(0);
        if (out != nullptr) {
            EXPECT_EQ(out, expected) << nth;
        }
        platformFree(out);
    }
}

TEST(SplitOn, GivesOnePieceMoreThanDelimiters) {
    struct Case {
        const char* text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a b", {"a", "b"}},
        {" a", {"", "a"}},
        {"a ", {"a", ""}},
        {"  ", {"", "", ""}},
        {"a b c d e f g h i j", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(c.text, ' '), c.pieces) << c.text;
    }
}

TEST(StutterIntensity, ReadsTheFirstDigitsOfTheName) {
    struct Case {
        const char* command;
        uint32_t intensity;
    } cases[] = {
        {"stutter3~Hello", 3},
        {"stutter~Hello 5", 0},
        {"stutter", 0},
        {"stutter12~x", 12},
        {"st3ut4ter~x", 3},
        {"stutter0~a/b", 0},
        {"4294967295stutter~x", 4294967295u},
        {"stutter4294967296~x", 0},
        {"stutter4294967297~x", 1},
        {"~5", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stutterIntensity(c.command), c.intensity) << c.command;
    }
}

// The generator starts from the tick count at start-up: the same start, the same stammers.
TEST(StutterText, StammersAreSeededFromTheStartTick) {
    const char line[] = "a/b/c/d/e/f/g/h/i/j";
    std::string first = stuttered(line, 5, 100000);
    std::string second = stuttered(line, 5, 123457);
    ASSERT_NE(first, second);
    for (uint32_t start : {100000u, 123457u}) {
        StoryOptions options;
        options.startTick = start;
        StoryResult result = playScript(std::string("{0[stutter5~") + line + "]}", options);
        ASSERT_EQ(result.waits.size(), 1u) << start;
        EXPECT_EQ(result.waits[0].dialogue, (start == 100000u ? first : second) + "\n");
    }
}
