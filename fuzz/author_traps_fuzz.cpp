// The checker's readings of how a story is written (brackets in commands, UTF-8 text,
// long lines, title files, misspelt names) on any bytes: every finding must point
// inside what it was given, at the byte it is about.
//
// Input: the whole input is the text; for the bracket reading, the command runs from
// byte 1 to the first ']' after it (or the end), as the command cutter would cut it.
#include "check/author_traps.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        abort();
    }
}

void readBrackets(const std::string& bytes) {
    if (bytes.size() < 2 || bytes[0] != '[') {
        return;
    }
    size_t close = bytes.find(']', 1);
    auto end = static_cast<uint32_t>(close == std::string::npos ? bytes.size() : close);
    TrapFinding finding;
    PlaceOf placeOf = [&](uint32_t offset) {
        require(offset <= bytes.size());
        return std::to_string(offset);
    };
    if (bracketTrap(bytes, 1, end, static_cast<uint32_t>(bytes.size()), placeOf, &finding)) {
        require(finding.offset == 0 || bytes[finding.offset] == '[');
        require(finding.offset < end);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    readBrackets(text);
    TrapFinding finding;
    if (utf8Trap(text, &finding)) {
        require(finding.offset < size && static_cast<unsigned char>(text[finding.offset]) >= 0xC2);
    }
    for (const TrapFinding& note : longLineNotes(text)) {
        auto c = static_cast<unsigned char>(text[note.offset]);
        require(note.offset < size && c >= 32 && c <= 122);
    }
    for (const TrapFinding& trap : titleTraps(text)) {
        require(trap.offset < size);
    }
    std::string meant = likelyKeyword(text);
    require(meant.empty() || strncmp(meant.c_str(), "stutter", 7) == 0 || meant.size() <= 4);
    return 0;
}
