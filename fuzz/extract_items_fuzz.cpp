// Cutting a block into bracketed items, with any opening and closing byte, and with
// an allocation made to fail anywhere: the list is either whole and right, or none.
//
// Input: byte 0 arms a failing allocation (bit 7 set: the nth from now, n = low 7 bits + 1),
// byte 1 the opening byte, byte 2 the closing byte, the rest the text up to its first zero.
#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> expectedItems(const std::string& text, char open, char close) {
    std::vector<std::string> items;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == open) {
            size_t k = text.find(close, i + 1);
            if (k != std::string::npos) {
                items.push_back(text.substr(i + 1, k - i - 1));
                i = k + 1;
                continue;
            }
        }
        ++i;
    }
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    bool failing = (data[0] & 0x80) != 0;
    char open = static_cast<char>(data[1]);
    char close = static_cast<char>(data[2]);
    std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
    text = text.c_str();

    if (failing) {
        platformFailAllocation((data[0] & 0x7Fu) + 1);
    }
    CommandList list = extractItems(text.c_str(), open, close);
    platformFailAllocation(0);
    if (list == nullptr) {
        if (!failing) {
            fprintf(stderr, "extractItems gave none without a failing allocation\n");
            abort();
        }
        return 0;
    }
    std::vector<std::string> expected = expectedItems(text, open, close);
    // The array has room for n / 2 items and its null entry.
    if (expected.size() > text.size() / 2) {
        abort();
    }
    size_t count = 0;
    for (; list[count] != nullptr; ++count) {
        if (count >= expected.size() || expected[count] != list[count]) {
            fprintf(stderr, "item %zu differs\n", count);
            abort();
        }
    }
    if (count != expected.size()) {
        fprintf(stderr, "%zu items instead of %zu\n", count, expected.size());
        abort();
    }
    freeCommandList(list);
    return 0;
}
