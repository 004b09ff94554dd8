// The checker's readings of how a story is written (brackets in commands, UTF-8 text,
// long lines, the stammer bound, title files, misspelt names) on any bytes: every finding
// must point inside what it was given, at the byte it is about, and no stammer may make a
// row longer than the bound.
//
// Input: the whole input is the text; for the bracket reading, the command runs from
// byte 1 to the first ']' after it (or the end), as the command cutter would cut it.
#include "check/author_traps.h"
#include "engine/engine.h"
#include "platform/platform.h"

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

// The stammer bound: the line without stammers is the transform's at intensity 1, its
// bytes map back onto the argument in order, and no drawing of random bytes gives a row
// longer than the bound. The intensity is the first byte's low bits.
void readStammers(const std::string& bytes) {
    if (bytes.empty()) {
        return;
    }
    uint32_t intensity = static_cast<unsigned char>(bytes[0]) % 12;
    // A command's text ends at its first zero byte, as the cutter hands it on.
    std::string argument = bytes.substr(1, bytes.find('\0', 1) - 1);
    StammerLayout layout = stammerLayout(argument, intensity);
    require(layout.from.size() == layout.plain.size());
    for (size_t i = 0; i < layout.from.size(); ++i) {
        require(layout.from[i] < argument.size() && argument[layout.from[i]] == layout.plain[i]);
        require(i == 0 || layout.from[i] > layout.from[i - 1]);
    }
    require(layout.worstBreak == UINT32_MAX || layout.worstBreak < argument.size());
    require(layout.shortest <= layout.longest);
    if (intensity == 0) {
        return;
    }
    for (uint32_t seed : {0u, 100000u, static_cast<uint32_t>(bytes.size()) * 2654435761u}) {
        uint32_t one = seed;
        char* plain = stutterText(argument.c_str(), 1, &one);
        require(plain != nullptr && layout.plain == plain);
        platformFree(plain);
        char* stammered = stutterText(argument.c_str(), intensity, &seed);
        require(stammered != nullptr && longestRow(stammered) <= layout.longest);
        require(longestRow(stammered) >= layout.shortest);
        platformFree(stammered);
    }
    TrapFinding finding;
    if (stammerTrap(layout, intensity, 0, &finding)) {
        require(finding.offset < argument.size());
    }
    if (readsAsNote(argument, layout, &finding)) {
        require(argument[finding.offset] == '/');
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
    for (const TrapFinding& trap : longLineTraps(text)) {
        auto c = static_cast<unsigned char>(text[trap.offset]);
        require(trap.offset < size && c >= 32 && c <= 122);
    }
    readStammers(text);
    for (const TrapFinding& trap : titleTraps(text)) {
        require(trap.offset < size);
    }
    std::string meant = likelyKeyword(text);
    require(meant.empty() || strncmp(meant.c_str(), "stutter", 7) == 0 || meant.size() <= 4);
    return 0;
}
