// The block reader over a whole script file, asking for block 0, 1, 2, ... as the
// player does, each answer checked against the reading rules applied byte by byte.
#include "engine/engine.h"
#include "fuzz_files.h"

#include <cstring>
#include <string>

namespace {

struct Expected {
    bool found;
    std::string content; // as far as a caller sees it: up to the first zero byte
    int32_t resumeOffset;
};

// The rules, one byte at a time from the resume offset; chunking does not change them.
Expected expectedBlock(const std::string& file, int32_t wanted, int32_t resumeOffset) {
    bool readingNumber = false;
    bool inBlock = false;
    uint32_t digits = 0;
    uint32_t value = 0;
    std::string output;
    for (size_t at = static_cast<size_t>(resumeOffset); at < file.size(); ++at) {
        char c = file[at];
        if (c == '{' && !inBlock) {
            readingNumber = true;
            digits = 0;
            value = 0;
            continue;
        }
        if (c == '}' && inBlock) {
            return {true, output.c_str(), static_cast<int32_t>(at + 1)};
        }
        if (readingNumber) {
            if (c >= '0' && c <= '9' && digits < 7) {
                value = value * 10 + static_cast<uint32_t>(c - '0');
                ++digits;
                continue;
            }
            readingNumber = false;
            inBlock = value == static_cast<uint32_t>(wanted);
        }
        if (inBlock) {
            output += c;
        }
    }
    return {inBlock && !output.empty(), output.c_str(), resumeOffset};
}

// The place names the `{` and digits of the block's number, its content in the file,
// and its closing brace.
bool placeFits(const std::string& file, const BlockPlace& place, int32_t wanted, int32_t before,
               int32_t after) {
    uint32_t end = place.closed ? static_cast<uint32_t>(after) - 1 : file.size();
    if (place.number != wanted || place.open < static_cast<uint32_t>(before) ||
        file[place.open] != '{' || place.contentStart != place.open + 1 + place.digits ||
        place.contentEnd != end || (place.closed && file[end] != '}')) {
        return false;
    }
    for (uint32_t i = place.open + 1; i < place.contentStart; ++i) {
        if (file[i] < '0' || file[i] > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = writeFuzzFile(kScriptFileName, data, size);
    PlatformFile* file = platformOpenFile(path.c_str());
    if (file == nullptr) {
        abort();
    }
    std::string content(reinterpret_cast<const char*>(data), size);
    int32_t offset = 0;
    static ScriptWindow window;
    window = ScriptWindow{};
    // Each found block needs a number of its own in the file, so this ends.
    for (int32_t wanted = 0;; ++wanted) {
        Expected expected = expectedBlock(content, wanted, offset);
        // Odd blocks are read with their place asked for, even ones through the window
        // the earlier ones left: every way reads the same.
        BlockPlace place = {};
        int32_t before = offset;
        char* text = wanted % 2 == 1 ? readBlock(wanted, file, &offset, &place)
                                     : readBlockThrough(&window, wanted, file, &offset);
        if ((text != nullptr) != expected.found || offset != expected.resumeOffset ||
            (text != nullptr && expected.content != text)) {
            fprintf(stderr, "block %d: reader and rules disagree\n", wanted);
            abort();
        }
        if (text != nullptr && wanted % 2 == 1 &&
            !placeFits(content, place, wanted, before, offset)) {
            fprintf(stderr, "block %d: its place is wrong\n", wanted);
            abort();
        }
        if (text == nullptr) {
            break;
        }
        CommandList commands = extractItems(text, '[', ']');
        if (commands == nullptr) {
            abort();
        }
        freeCommandList(commands);
        platformFree(text);
    }
    platformCloseFile(file);
    return 0;
}
