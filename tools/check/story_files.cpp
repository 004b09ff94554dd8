// Lists the files a script names. The blocks and commands come from the engine's
// reader; where a name stands is found afterwards in the file's own bytes.
#include "check/story_files.h"

#include "engine/engine.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kUnknown = UINT32_MAX;
// Bytes the block searches may read in all: unclosed blocks make every later
// search read the rest of the file again.
constexpr uint64_t kScanBudget = uint64_t{256} << 20;
constexpr uint32_t kChunk = 64 * 1024;

// The keywords in the order the interpreter tries them: a name acts as the first it holds.
const char* const kKeywordOrder[] = {"say", "cg", "wait", "play", "stutter", "turn"};

const char* keywordOf(const char* name) {
    for (const char* keyword : kKeywordOrder) {
        if (containsText(name, keyword)) {
            return keyword;
        }
    }
    return nullptr;
}

bool readAt(PlatformFile* file, uint32_t offset, char* buffer, uint32_t count) {
    if (!platformSeekFile(file, offset)) {
        return false;
    }
    uint32_t done = 0;
    while (done < count) {
        uint32_t got = 0;
        if (!platformReadFile(file, buffer + done, count - done, &got) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

// Where a block's content starts in the file, given where it ends (its `}`, or the
// end of the file for a block never closed). The content the reader returns stops
// at a zero byte; when the file's bytes before the end are not that content, the
// block held one and the start is not told.
uint32_t contentStart(PlatformFile* file, const char* content, uint32_t end) {
    auto length = static_cast<uint32_t>(strlen(content));
    if (length == 0 || length > end) {
        return kUnknown;
    }
    char buffer[kChunk];
    for (uint32_t done = 0; done < length;) {
        uint32_t count = std::min(kChunk, length - done);
        if (!readAt(file, end - length + done, buffer, count) ||
            memcmp(buffer, content + done, count) != 0) {
            return kUnknown;
        }
        done += count;
    }
    return end - length;
}

struct Found {
    std::string name;
    bool scene;
    uint32_t offset; // kUnknown when not told
};

// Adds the scene and sound names of one block. Returns false at a command without
// an argument: the play holds there for good.
bool collectBlock(const char* content, uint32_t start, std::vector<Found>* found) {
    CommandList list = extractItems(content, '[', ']');
    if (list == nullptr) {
        return false;
    }
    bool goesOn = true;
    size_t from = 0;
    for (char** item = list; *item != nullptr; ++item) {
        // The first `[` after the previous item begins this one, so its text is found there.
        std::string bracketed = std::string("[") + *item + "]";
        const char* at = strstr(content + from, bracketed.c_str());
        auto itemAt = static_cast<size_t>(at == nullptr ? 0 : at - content);
        from = at == nullptr ? from : itemAt + bracketed.size();
        const char* tilde = strchr(*item, '~');
        if (tilde == nullptr || tilde[1] == '\0') {
            goesOn = false;
            break;
        }
        std::string name(*item, static_cast<size_t>(tilde - *item));
        const char* keyword = keywordOf(name.c_str());
        if (keyword == nullptr || (strcmp(keyword, "cg") != 0 && strcmp(keyword, "play") != 0)) {
            continue;
        }
        uint32_t offset = kUnknown;
        if (start != kUnknown && at != nullptr) {
            offset = start + static_cast<uint32_t>(itemAt + 1 + (tilde - *item) + 1);
        }
        found->push_back(Found{tilde + 1, strcmp(keyword, "cg") == 0, offset});
    }
    freeCommandList(list);
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
    auto pending = [&](size_t next) {
        return next < order.size() && found[order[next]].offset != kUnknown;
    };
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
    PlatformFile* file = platformOpenFile((folder + "/script.bexu").c_str());
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
        if (scanned > kScanBudget) {
            break;
        }
        char* content = readBlock(number, file, &resume);
        if (content == nullptr) {
            break;
        }
        uint32_t end = resume != before ? static_cast<uint32_t>(resume) - 1 : size;
        bool goesOn = collectBlock(content, contentStart(file, content, end), &found);
        platformFree(content);
        if (!goesOn) {
            break;
        }
    }
    placeAll(file, found, &result.uses);
    platformCloseFile(file);
    return result;
}
