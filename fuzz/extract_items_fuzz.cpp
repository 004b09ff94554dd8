// Cutting a block into bracketed items, with any opening and closing byte, and with
// an allocation made to fail anywhere: the list is either whole and right, or none.
//
// Input: byte 0 arms a failing allocation (bit 7 set: the nth from now, n = low 6 bits + 1)
// and asks where the items stand (bit 6), byte 1 the opening byte, byte 2 the closing
// byte, the rest the text up to its first zero.
#include "engine/engine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Expected {
    std::vector<std::string> items;
    std::vector<uint32_t> starts;
    uint32_t unclosed = UINT32_MAX;
};

Expected expectedItems(const std::string& text, char open, char close) {
    Expected expected;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == open) {
            size_t k = text.find(close, i + 1);
            if (k != std::string::npos) {
                expected.items.push_back(text.substr(i + 1, k - i - 1));
                expected.starts.push_back(static_cast<uint32_t>(i + 1));
                i = k + 1;
                continue;
            }
            if (expected.unclosed == UINT32_MAX) {
                expected.unclosed = static_cast<uint32_t>(i);
            }
        }
        ++i;
    }
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    bool failing = (data[0] & 0x80) != 0;
    ItemPlaces places = {};
    ItemPlaces* asked = (data[0] & 0x40) != 0 ? &places : nullptr;
    char open = static_cast<char>(data[1]);
    char close = static_cast<char>(data[2]);
    std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
    text = text.c_str();

    if (failing) {
        platformFailAllocation((data[0] & 0x3Fu) + 1);
    }
    CommandList list = extractItems(text.c_str(), open, close, asked);
    platformFailAllocation(0);
    if (list == nullptr) {
        if (!failing) {
            fprintf(stderr, "extractItems gave none without a failing allocation\n");
            abort();
        }
        return 0;
    }
    Expected model = expectedItems(text, open, close);
    const std::vector<std::string>& expected = model.items;
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
    if (asked != nullptr) {
        bool same = places.unclosed == model.unclosed;
        for (size_t i = 0; same && i < count; ++i) {
            same = places.starts[i] == model.starts[i];
        }
        platformFree(places.starts);
        if (!same) {
            fprintf(stderr, "the places differ\n");
            abort();
        }
    }
    return 0;
}
