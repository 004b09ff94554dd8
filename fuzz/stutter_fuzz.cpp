// The stutter transform with any intensity and seed, checked against the rules; an
// allocation may be made to fail anywhere, and then the result is none.
//
// Input: bytes 0-3 the intensity, 4-7 the random seed (little-endian), byte 8 arms a
// failing allocation (0: none, else the nth from now), the rest the text up to its first zero.
#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string expectedStutter(const std::string& text, uint32_t intensity, uint32_t seed) {
    if (intensity == 0) {
        intensity = 1;
    }
    std::string out;
    uint32_t w = 0;
    size_t wordStart = 0;
    for (;;) {
        size_t wordEnd = text.find(' ', wordStart);
        std::string word = text.substr(
            wordStart, wordEnd == std::string::npos ? std::string::npos : wordEnd - wordStart);
        uint32_t p = 0;
        size_t partStart = 0;
        for (;;) {
            size_t partEnd = word.find('/', partStart);
            std::string part = word.substr(
                partStart, partEnd == std::string::npos ? std::string::npos : partEnd - partStart);
            if (!part.empty() && part[0] == '%') {
                out += part.substr(1);
            } else {
                seed = seed * 1103515245u + 12345u;
                uint32_t k = (((seed >> 16) & 255u) + w + p) % intensity;
                for (uint32_t i = 0; !part.empty() && i < k; ++i) {
                    out += part[0];
                    out += '-';
                }
                out += part;
            }
            ++p;
            if (partEnd == std::string::npos) {
                break;
            }
            partStart = partEnd + 1;
        }
        out += ' ';
        ++w;
        if (wordEnd == std::string::npos) {
            break;
        }
        wordStart = wordEnd + 1;
    }
    out.pop_back();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) {
        return 0;
    }
    uint32_t intensity = read32(data);
    uint32_t seed = read32(data + 4);
    uint8_t failAt = data[8];
    std::string text(reinterpret_cast<const char*>(data + 9), size - 9);
    text = text.c_str();

    uint32_t generator = seed;
    platformFailAllocation(failAt);
    char* line = stutterText(text.c_str(), intensity, &generator);
    platformFailAllocation(0);
    if (line == nullptr) {
        if (failAt == 0) {
            fprintf(stderr, "stutterText gave none without a failing allocation\n");
            abort();
        }
        return 0;
    }
    if (expectedStutter(text, intensity, seed) != line) {
        fprintf(stderr, "stuttered line differs from the rules\n");
        abort();
    }
    platformFree(line);
    return 0;
}
