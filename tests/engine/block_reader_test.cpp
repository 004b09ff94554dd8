#include "engine/engine.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// A block as the reader reports it: found or not, its content and where the next search starts.
struct BlockRead {
    bool found;
    std::string content;
    int32_t resumeOffset;
    bool operator==(const BlockRead& other) const {
        return found == other.found && content == other.content &&
               resumeOffset == other.resumeOffset;
    }
};

std::ostream& operator<<(std::ostream& out, const BlockRead& read) {
    return out << (read.found ? "found '" + read.content + "'" : std::string("none")) << " resume "
               << read.resumeOffset;
}

// The reading rules applied byte by byte in 128-byte chunks, without any shortcut:
// the model the real reader is checked against.
BlockRead modelReadBlock(const std::string& file, int32_t wanted, int32_t resumeOffset) {
    bool readingNumber = false;
    bool inBlock = false;
    std::string digits;
    std::string output;
    size_t position = static_cast<size_t>(resumeOffset);
    while (position < file.size()) {
        size_t chunkEnd = std::min(position + 128, file.size());
        for (; position < chunkEnd; ++position) {
            char c = file[position];
            if (c == '{' && !inBlock) {
                readingNumber = true;
                digits.clear();
                continue;
            }
            if (c == '}' && inBlock) {
                return {true, output, static_cast<int32_t>(position + 1)};
            }
            if (readingNumber) {
                if (c >= '0' && c <= '9' && digits.size() < 7) {
                    digits += c;
                    continue;
                }
                int32_t value = digits.empty() ? 0 : std::stoi(digits);
                if (value == wanted) {
                    inBlock = true;
                }
                readingNumber = false;
            }
            if (inBlock) {
                output += c;
            }
        }
    }
    if (inBlock && !output.empty()) {
        return {true, output, resumeOffset};
    }
    return {false, "", resumeOffset};
}

// Reads block after block through one window, as the player does.
struct ScriptFile {
    std::string folder = makeTempFolder();
    PlatformFile* file = nullptr;
    ScriptWindow window = {};
    explicit ScriptFile(const std::string& content) {
        writeFile(folder + "/script.bexu", content);
        file = platformOpenFile((folder + "/script.bexu").c_str());
    }
    ~ScriptFile() {
        platformCloseFile(file);
        removeFolder(folder);
    }
    BlockRead read(int32_t wanted, int32_t resumeOffset) {
        char* text = readBlockThrough(&window, wanted, file, &resumeOffset);
        BlockRead result{text != nullptr, text != nullptr ? text : "", resumeOffset};
        platformFree(text);
        return result;
    }
};

std::vector<std::string> items(const char* text) {
    std::vector<std::string> found;
    CommandList list = extractItems(text, '[', ']');
    for (char** item = list; *item != nullptr; ++item) {
        found.push_back(*item);
    }
    freeCommandList(list);
    return found;
}

} // namespace

TEST(ReadBlock, FindsBlocksAsTheFormatDescribes) {
    struct Case {
        const char* script;
        int32_t wanted;
        int32_t resumeOffset;
        BlockRead expected;
    } cases[] = {
        {"{[say~Hi]}", 0, 0, {true, "[say~Hi]", 10}},
        {"{007 [say~x]}", 7, 0, {true, " [say~x]", 13}},
        {"{00000007 [x]}", 0, 0, {true, "7 [x]", 14}},
        {"{00000007 [x]}", 7, 0, {false, "", 0}},
        {"{12345678[x]}", 1234567, 0, {true, "8[x]", 13}},
        {"{1{2 [x]}", 1, 0, {false, "", 0}},
        {"{1{2 [x]}", 2, 0, {true, " [x]", 9}},
        {"[say~a]{12", 12, 0, {false, "", 0}},
        {"{0", 0, 0, {false, "", 0}},
        {"{5}abc}", 5, 0, {true, "}abc", 7}},
        {"{0[say~a}b]}", 0, 0, {true, "[say~a", 9}},
        {"notes {0[a]} more {1[b]}", 1, 12, {true, "[b]", 24}},
        {"{0[a]} x{1 {1[b]}", 1, 6, {true, " {1[b]", 17}},
        {"{0 [say~a] {1 [say~b]", 0, 0, {true, " [say~a] {1 [say~b]", 0}},
        {"{0 [say~a] {1 [say~b]", 1, 0, {true, " [say~b]", 0}},
        {"{0[a]}{2[c]}{1[b]}", 1, 6, {true, "[b]", 18}},
        {"{0[a]}{2[c]}{1[b]}", 2, 18, {false, "", 18}},
        {"{0[a]}", 1, 6, {false, "", 6}},
        {"", 0, 0, {false, "", 0}},
        {"}}}{}", 0, 0, {true, "}", 0}},
        {"{0[a]}", -1, 0, {false, "", 0}},
        {"{0[a]}", 0, -5, {false, "", -5}},
        {"{0[a]}", 0, 100, {false, "", 100}},
    };
    for (const Case& c : cases) {
        ScriptFile script(c.script);
        EXPECT_EQ(script.read(c.wanted, c.resumeOffset), c.expected)
            << c.script << " block " << c.wanted << " from " << c.resumeOffset;
    }
}

TEST(ReadBlock, KeepsZeroBytesOutOfTheCommandsThatFollowThem) {
    ScriptFile script(std::string("{0[say~a]\0[say~b]}", 18));
    int32_t offset = 0;
    char* text = readBlock(0, script.file, &offset);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(items(text), std::vector<std::string>{"say~a"});
    EXPECT_EQ(offset, 18);
    platformFree(text);
}

// Long blocks, numbers and braces at every place around the reader's read sizes.
TEST(ReadBlock, AgreesWithTheByteByByteRulesAcrossChunkBoundaries) {
    for (size_t filler : {0, 1, 126, 127, 128, 129, 511, 512, 513, 1535, 1536, 1537, 4095, 70000}) {
        std::string pad(filler, 'x');
        std::string content = "{0" + pad + "[say~a]}" + pad + "{1" + pad + "}{00000002" + pad +
                              "}{2{3 " + pad + "[b]";
        ScriptFile script(content);
        int32_t offset = 0;
        for (int32_t block = 0; block < 5; ++block) {
            BlockRead expected = modelReadBlock(content, block, offset);
            BlockRead actual = script.read(block, offset);
            ASSERT_EQ(actual, expected) << "filler " << filler << " block " << block;
            offset = actual.resumeOffset;
        }
    }
}

TEST(ReadBlock, AgreesWithTheByteByByteRulesOnRandomScripts) {
    std::mt19937 random(20261208);
    const char alphabet[] = "{{}}[]~01234567890123456789ab \n";
    for (int round = 0; round < 300; ++round) {
        std::string content(random() % 3000, ' ');
        for (char& c : content) {
            c = alphabet[random() % (sizeof alphabet - 1)];
        }
        ScriptFile script(content);
        int32_t offset = 0;
        for (int32_t block = 0; block < 12; ++block) {
            int32_t wanted = block < 10 ? block : static_cast<int32_t>(random() % 100);
            BlockRead expected = modelReadBlock(content, wanted, offset);
            BlockRead actual = script.read(wanted, offset);
            ASSERT_EQ(actual, expected) << "round " << round << " block " << wanted;
            offset = actual.resumeOffset;
        }
    }
}

TEST(ReadBlock, RefusesScriptsTooLargeForItsOffsets) {
    std::string folder = makeTempFolder();
    std::string path = folder + "/script.bexu";
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    // Sparse: two gigabytes that take no room on the disk.
    ASSERT_EQ(fseek(file, 0x80000000L, SEEK_SET), 0);
    fputs("{0[say~a]}", file);
    fclose(file);
    PlatformFile* script = platformOpenFile(path.c_str());
    ASSERT_NE(script, nullptr);
    int32_t offset = 0;
    EXPECT_EQ(readBlock(0, script, &offset), nullptr);
    EXPECT_EQ(offset, 0);
    platformCloseFile(script);
    removeFolder(folder);
}

TEST(ReadBlock, ReturnsNoneWhenItsBufferCannotBeHad) {
    ScriptFile script("{0" + std::string(5000, 'x') + "}");
    for (uint32_t nth = 1; nth <= 8; ++nth) {
        platformFailAllocation(nth);
        BlockRead read = script.read(0, 0);
        platformFailAllocation(0);
        // Any failure ends the search with nothing; a success is the whole block.
        if (read.found) {
            EXPECT_EQ(read.content, std::string(5000, 'x')) << nth;
        } else {
            EXPECT_EQ(read.resumeOffset, 0) << nth;
        }
    }
}

TEST(ExtractItems, CutsBracketedCommands) {
    struct Case {
        const char* text;
        std::vector<std::string> expected;
    } cases[] = {
        {" [cg~room.bmp][say~Hello.] \n [turn~page]", {"cg~room.bmp", "say~Hello.", "turn~page"}},
        {"[say~a]b]", {"say~a"}},
        {"[a[b]", {"a[b"}},
        {"[say~a] [", {"say~a"}},
        {"[", {}},
        {"]", {}},
        {"", {}},
        {"no brackets", {}},
        {"[]", {""}},
        {"[][]", {"", ""}},
        {"x[a]y[b]z", {"a", "b"}},
        {"[a]][b", {"a"}},
        {"[say~line one\r\nline two]", {"say~line one\r\nline two"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(items(c.text), c.expected) << c.text;
    }
}

TEST(ExtractItems, ManyItemsFillTheWholeArray) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += "[]";
    }
    EXPECT_EQ(items(text.c_str()).size(), 1000u);
    std::string unclosed(100000, '[');
    EXPECT_TRUE(items(unclosed.c_str()).empty());
}

TEST(ExtractItems, ReturnsNoneWhenMemoryRunsOut) {
    for (uint32_t nth = 1; nth <= 3; ++nth) {
        platformFailAllocation(nth);
        CommandList list = extractItems("[a][b]", '[', ']');
        platformFailAllocation(0);
        EXPECT_EQ(list, nullptr) << nth;
        freeCommandList(list);
    }
}

TEST(LoadNextBlock, PlaysBlocksInOrderUntilOneIsMissing) {
    ScriptFile script("{0 [cg~room.bmp][say~Hello.] / [turn~page]} / {1 [say~Bye.]}{3[x]}");
    ASSERT_TRUE(startScriptPosition((script.folder + "/script.bexu").c_str()));
    ASSERT_TRUE(loadNextBlock());
    EXPECT_EQ(engineState.script.scriptState, ScriptState::Running);
    EXPECT_EQ(engineState.script.nextBlockNumber, 1);
    EXPECT_STREQ(engineState.script.commands[1], "say~Hello.");
    EXPECT_EQ(engineState.script.commands[3], nullptr);
    engineState.input.advanceRequested = true;
    engineState.script.commandPointer = 2;
    ASSERT_TRUE(loadNextBlock());
    EXPECT_FALSE(engineState.input.advanceRequested);
    EXPECT_EQ(engineState.script.commandPointer, 0);
    EXPECT_STREQ(engineState.script.commands[0], "say~Bye.");
    EXPECT_FALSE(loadNextBlock());
    EXPECT_EQ(engineState.script.commands, nullptr);
    releaseScriptPosition();
    releaseInput();
}

TEST(LoadNextBlock, EndsThePlayWhenTheCommandListCannotBeMade) {
    ScriptFile script("{0[say~a][say~b]}");
    ASSERT_TRUE(startScriptPosition((script.folder + "/script.bexu").c_str()));
    platformFailAllocation(2); // the block's buffer succeeds, the list does not
    EXPECT_FALSE(loadNextBlock());
    platformFailAllocation(0);
    EXPECT_EQ(engineState.script.commands, nullptr);
    releaseScriptPosition();
}
