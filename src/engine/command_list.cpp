// Cuts a block into its bracketed commands.
#include "engine/engine.h"

#include <cstring>

void freeCommandList(CommandList list) {
    if (list == nullptr) {
        return;
    }
    for (char** item = list; *item != nullptr; ++item) {
        platformFree(*item);
    }
    platformFree(list);
}

namespace {

enum class Item { Found, None, Unclosed };

// Where the next item starts and ends, from `i` on. Unclosed: an opening byte at
// *start - 1 with no closing byte after it.
Item findItem(const char* text, size_t length, size_t i, char open, char close, size_t* start,
              size_t* end) {
    const char* opening = static_cast<const char*>(memchr(text + i, open, length - i));
    if (opening == nullptr) {
        return Item::None;
    }
    *start = static_cast<size_t>(opening - text) + 1;
    // No closing byte after this opening one means none after any later one either.
    const char* closing = static_cast<const char*>(memchr(text + *start, close, length - *start));
    if (closing == nullptr) {
        return Item::Unclosed;
    }
    *end = static_cast<size_t>(closing - text);
    return Item::Found;
}

size_t countItems(const char* text, size_t length, char open, char close, ItemPlaces* places) {
    size_t count = 0;
    size_t start = 0;
    size_t end = 0;
    for (size_t i = 0;; i = end + 1) {
        Item item = i < length ? findItem(text, length, i, open, close, &start, &end) : Item::None;
        if (item != Item::Found) {
            if (places != nullptr) {
                places->unclosed =
                    item == Item::Unclosed ? static_cast<uint32_t>(start - 1) : UINT32_MAX;
            }
            return count;
        }
        ++count;
    }
}

} // namespace

CommandList extractItems(const char* text, char open, char close, ItemPlaces* places) {
    size_t length = strlen(text);
    // Counted first: room for length / 2 items would cost four times a large block's size.
    size_t count = countItems(text, length, open, close, places);
    auto list = static_cast<CommandList>(platformAllocate((count + 1) * sizeof(char*), true));
    if (list == nullptr) {
        return nullptr;
    }
    if (places != nullptr) {
        places->starts =
            static_cast<uint32_t*>(platformAllocate(count * sizeof(uint32_t) + 1, false));
        if (places->starts == nullptr) {
            freeCommandList(list);
            return nullptr;
        }
    }
    size_t made = 0;
    size_t start = 0;
    size_t end = 0;
    for (size_t i = 0;
         made < count && findItem(text, length, i, open, close, &start, &end) == Item::Found;
         i = end + 1) {
        size_t itemLength = end - start;
        char* item = static_cast<char*>(platformAllocate(itemLength + 1, false));
        if (item == nullptr) {
            freeCommandList(list);
            if (places != nullptr) {
                platformFree(places->starts);
                places->starts = nullptr;
            }
            return nullptr;
        }
        memcpy(item, text + start, itemLength);
        item[itemLength] = '\0';
        if (places != nullptr) {
            places->starts[made] = static_cast<uint32_t>(start);
        }
        list[made++] = item;
    }
    return list;
}
