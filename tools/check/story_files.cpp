// Lists the files a script names, with their places: the blocks, commands and their
// offsets come from the engine's reader and cutter.
#include "check/story_files.h"

#include "check/story_paths.h"
#include "engine/engine.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes the block searches may read beyond one pass over the file: unclosed blocks
// make every later search read the rest of the file again.
constexpr uint64_t kScanBudget = uint64_t{256} << 20;
constexpr uint32_t kChunk = 64 * 1024;

struct Found {
    std::string name;
    bool scene;
    uint32_t offset;
};

// Adds the scene and sound names of one block. Returns false at a command without
// an argument: the play holds there for good.
bool collectBlock(const char* content, const BlockPlace& place, std::vector<Found>* found) {
    ItemPlaces places = {};
    CommandList list = extractItems(content, '[', ']', &places);
    if (list == nullptr) {
        return false;
    }
    bool goesOn = true;
    for (size_t i = 0; list[i] != nullptr; ++i) {
        const char* item = list[i];
        const char* tilde = strchr(item, '~');
        if (tilde == nullptr || tilde[1] == '\0') {
            goesOn = false;
            break;
        }
        std::string name(item, static_cast<size_t>(tilde - item));
        CommandKind kind = commandKindOf(name.c_str());
        if (kind != CommandKind::Cg && kind != CommandKind::Play) {
            continue;
        }
        uint32_t offset =
            place.contentStart + places.starts[i] + static_cast<uint32_t>(tilde - item) + 1;
        found->push_back(Found{tilde + 1, kind == CommandKind::Cg, offset});
    }
    freeCommandList(list);
    platformFree(places.starts);
    return goesOn;
}

// Lines and columns for the offsets, in one pass over the file.
void placeAll(PlatformFile* file, const std::vector<Found>& found, std::vector<FileUse>* uses) {
    uses->resize(found.size());
    std::vector<size_t> order(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        order[i] = i;
        (*uses)[i] = FileUse{found[i].name, found[i].scene, 0, 0};
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return found[a].offset < found[b].offset; });
    auto pending = [&](size_t next) { return next < order.size(); };
    uint32_t line = 1;
    uint32_t lineStart = 0;
    uint32_t position = 0; // offset of the buffer's first byte
    char buffer[kChunk];
    size_t next = 0;
    if (!platformSeekFile(file, 0)) {
        return;
    }
    while (pending(next)) {
        uint32_t got = 0;
        if (!platformReadFile(file, buffer, kChunk, &got) || got == 0) {
            return;
        }
        uint32_t i = 0;
        auto countTo = [&](uint32_t stop) {
            for (; i < stop; ++i) {
                if (buffer[i] == '\n') {
                    ++line;
                    lineStart = position + i + 1;
                }
            }
        };
        for (; pending(next) && found[order[next]].offset < position + got; ++next) {
            uint32_t offset = found[order[next]].offset;
            countTo(offset - position);
            (*uses)[order[next]].line = line;
            (*uses)[order[next]].column = offset - lineStart + 1;
        }
        countTo(got);
        position += got;
    }
}

} // namespace

FileUses listFileUses(const std::string& folder) {
    FileUses result = {};
    // Never through a link out of the story folder: the script is read from the
    // descriptor that was checked.
    StoryFileOpened opened = openInStory(folder, "script.bexu");
    PlatformFile* file = nullptr;
    if (opened.result == StoryOpen::Opened) {
        file = platformOpenFile(descriptorPath(opened.descriptor, folder + "/script.bexu").c_str());
    }
    closeStoryFile(&opened);
    uint32_t size = 0;
    if (file == nullptr || !platformFileSize(file, &size)) {
        platformCloseFile(file);
        return result;
    }
    result.readable = true;
    std::vector<Found> found;
    int32_t resume = 0;
    uint64_t scanned = 0;
    for (int32_t number = 0; number <= 9999999; ++number) {
        int32_t before = resume;
        scanned += size - static_cast<uint32_t>(before);
        if (scanned > kScanBudget + size) {
            break;
        }
        BlockPlace place = {};
        char* content = readBlock(number, file, &resume, &place);
        if (content == nullptr) {
            break;
        }
        bool goesOn = collectBlock(content, place, &found);
        platformFree(content);
        if (!goesOn) {
            break;
        }
    }
    placeAll(file, found, &result.uses);
    platformCloseFile(file);
    return result;
}
