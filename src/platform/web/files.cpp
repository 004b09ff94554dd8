// The story's files in the browser: the page fetches the story data (story.bexw) and
// hands each file over when the player first opens it; from then on the file is kept
// here, in memory, for the rest of the run. Play begins while the data still comes in:
// opening a file that has not arrived yet waits for it (the loop sleeps, so the page
// keeps drawing and taking keys), and a file that never arrives is missing, as on a
// desktop where it is not there. Names are read as the desktop reads them: '.' and
// empty parts stand for nothing, '..' goes back up through a folder that is there.
#include "format/web_story.h"
#include "platform/platform.h"
#include "platform/soft/lossless_wave.h"

#include <emscripten.h>

#include <cstring>

struct PlatformFile {
    const uint8_t* bytes;
    uint32_t size;
    uint32_t position;
};

namespace {

// How long the player sleeps between two looks at a file that is on its way.
constexpr uint32_t kArrivalPoll = 10;

// What the page says of a name.
enum Arrival : int32_t { kNeverComes = -1, kOnItsWay = 0, kArrived = 1 };

// What the page hands over with an arrived file.
struct Handed {
    uint32_t bytes;  // handed over: the file, a coded wave, or RGBA pixels
    uint32_t coding; // WebCoding
    uint32_t fileSize;
    uint32_t width; // of the pixels, for a PNG
    uint32_t height;
};

// clang-format off
EM_JS(int32_t, storyArrival, (const char* name, uint32_t length, int32_t folder,
                              uint32_t* handed), {
    var story = Module.bexuStory;
    var facts = story ? story.arrival(HEAPU8.subarray(name, name + length), folder != 0) : 0;
    if (typeof facts == "number") return facts;
    var at = handed >> 2;
    HEAPU32[at] = facts.bytes;
    HEAPU32[at + 1] = facts.coding;
    HEAPU32[at + 2] = facts.fileSize;
    HEAPU32[at + 3] = facts.width;
    HEAPU32[at + 4] = facts.height;
    return 1;
});

EM_JS(void, storyHandOver, (const char* name, uint32_t length, uint8_t* into), {
    HEAPU8.set(Module.bexuStory.handOver(HEAPU8.subarray(name, name + length)), into);
});
// clang-format on

struct KeptFile {
    char* name;
    uint32_t length;
    uint8_t* bytes;
    uint32_t size;
};

KeptFile* kept = nullptr;
uint32_t keptCount = 0;
uint32_t keptCapacity = 0;

const KeptFile* findKept(const char* name, uint32_t length) {
    for (uint32_t i = 0; i < keptCount; ++i) {
        if (kept[i].length == length && memcmp(kept[i].name, name, length) == 0) {
            return &kept[i];
        }
    }
    return nullptr;
}

// Waits until the page knows the name's fate; the files are the page's to tell.
bool waitForArrival(const char* name, uint32_t length, bool folder, Handed* handed) {
    for (;;) {
        int32_t arrival =
            storyArrival(name, length, folder ? 1 : 0, reinterpret_cast<uint32_t*>(handed));
        if (arrival != kOnItsWay) {
            return arrival == kArrived;
        }
        emscripten_sleep(kArrivalPoll);
    }
}

void put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    put16(at, value & 0xFFFF);
    put16(at + 2, value >> 16);
}

// The BMP a PNG's pixels become: 24 bits, rows bottom-up, as the player reads any BMP.
void bitmapOfPixels(const uint8_t* rgba, uint32_t width, uint32_t height, uint8_t* file) {
    uint32_t stride = (width * 3 + 3) & ~3u;
    memset(file, 0, kWebBitmapHeaderSize);
    file[0] = 'B';
    file[1] = 'M';
    put32(file + 2, kWebBitmapHeaderSize + stride * height);
    put32(file + 10, kWebBitmapHeaderSize);
    put32(file + 14, 40);
    put32(file + 18, width);
    put32(file + 22, height);
    put16(file + 26, 1);
    put16(file + 28, 24);
    put32(file + 34, stride * height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* from = rgba + static_cast<size_t>(y) * width * 4;
        uint8_t* to = file + kWebBitmapHeaderSize + static_cast<size_t>(height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            to[x * 3 + 0] = from[x * 4 + 2];
            to[x * 3 + 1] = from[x * 4 + 1];
            to[x * 3 + 2] = from[x * 4 + 0];
        }
        memset(to + width * 3, 0, stride - width * 3);
    }
}

// The file made from what the page handed over; none when it does not give the file
// the index promised, or memory runs out.
uint8_t* fileOfHanded(const Handed& handed, uint8_t* taken) {
    auto coding = static_cast<WebCoding>(handed.coding);
    if (coding != WebCoding::Png && coding != WebCoding::Wave) {
        if (handed.bytes == handed.fileSize) {
            return taken;
        }
        platformFree(taken);
        return nullptr;
    }
    auto* file = static_cast<uint8_t*>(platformAllocate(handed.fileSize, false));
    bool made = false;
    if (file != nullptr && coding == WebCoding::Png) {
        made = uint64_t{handed.width} * handed.height * 4 == handed.bytes &&
               webBitmapFileSize(handed.width, handed.height) == handed.fileSize;
        if (made) {
            bitmapOfPixels(taken, handed.width, handed.height, file);
        }
    } else if (file != nullptr) {
        made = decodeLosslessWave(taken, handed.bytes, file, handed.fileSize);
    }
    platformFree(taken);
    if (!made) {
        platformFree(file);
        return nullptr;
    }
    return file;
}

// Takes the arrived file from the page and keeps it; none when it cannot be kept.
const KeptFile* keepFile(const char* name, uint32_t length, const Handed& handed) {
    if (keptCount == keptCapacity) {
        uint32_t capacity = keptCapacity == 0 ? 16 : keptCapacity * 2;
        auto* grown =
            static_cast<KeptFile*>(platformResize(kept, capacity * sizeof(KeptFile), false));
        if (grown == nullptr) {
            return nullptr;
        }
        kept = grown;
        keptCapacity = capacity;
    }
    auto* taken =
        static_cast<uint8_t*>(platformAllocate(handed.bytes > 0 ? handed.bytes : 1, false));
    auto* keptName = static_cast<char*>(platformAllocate(length + 1, false));
    if (taken == nullptr || keptName == nullptr) {
        platformFree(taken);
        platformFree(keptName);
        return nullptr;
    }
    storyHandOver(name, length, taken);
    uint8_t* bytes = fileOfHanded(handed, taken);
    if (bytes == nullptr) {
        platformFree(keptName);
        return nullptr;
    }
    memcpy(keptName, name, length);
    keptName[length] = '\0';
    kept[keptCount] = KeptFile{keptName, length, bytes, handed.fileSize};
    return &kept[keptCount++];
}

// The story's name of `path`, as the index has it, into `name` (room for the path's
// length): '.' and empty parts left out, '..' taking back the part before it, which must
// be a folder. False when the path is absolute, climbs above the story folder, ends in
// a '/', or goes back through what is no folder.
bool storyName(const char* path, char* name, uint32_t* length) {
    size_t size = strlen(path);
    if (size == 0 || path[0] == '/' || path[size - 1] == '/' || size > UINT32_MAX) {
        return false;
    }
    uint32_t at = 0;
    size_t start = 0;
    while (start <= size) {
        const char* slash = static_cast<const char*>(memchr(path + start, '/', size - start));
        size_t end = slash != nullptr ? static_cast<size_t>(slash - path) : size;
        size_t part = end - start;
        if (part == 2 && path[start] == '.' && path[start + 1] == '.') {
            Handed unused = {};
            if (at == 0 || !waitForArrival(name, at, true, &unused)) {
                return false;
            }
            while (at > 0 && name[at - 1] != '/') {
                --at;
            }
            at = at > 0 ? at - 1 : 0;
        } else if (part > 0 && !(part == 1 && path[start] == '.')) {
            if (at > 0) {
                name[at++] = '/';
            }
            memcpy(name + at, path + start, part);
            at += static_cast<uint32_t>(part);
        }
        start = end + 1;
    }
    *length = at;
    return at > 0;
}

} // namespace

PlatformFile* platformOpenFile(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    auto* name = static_cast<char*>(platformAllocate(strlen(path) + 1, false));
    uint32_t length = 0;
    const KeptFile* file = nullptr;
    if (name != nullptr && storyName(path, name, &length)) {
        file = findKept(name, length);
        Handed handed = {};
        if (file == nullptr && waitForArrival(name, length, false, &handed)) {
            file = keepFile(name, length, handed);
        }
    }
    platformFree(name);
    auto* opened = file != nullptr
                       ? static_cast<PlatformFile*>(platformAllocate(sizeof(PlatformFile), false))
                       : nullptr;
    if (opened != nullptr) {
        *opened = PlatformFile{file->bytes, file->size, 0};
    }
    return opened;
}

bool platformFileSize(PlatformFile* file, uint32_t* size) {
    if (file == nullptr) {
        return false;
    }
    *size = file->size;
    return true;
}

bool platformSeekFile(PlatformFile* file, uint32_t offset) {
    if (file == nullptr) {
        return false;
    }
    file->position = offset;
    return true;
}

bool platformReadFile(PlatformFile* file, void* buffer, uint32_t wanted, uint32_t* got) {
    *got = 0;
    if (file == nullptr) {
        return false;
    }
    if (file->position < file->size) {
        uint32_t left = file->size - file->position;
        *got = wanted < left ? wanted : left;
        memcpy(buffer, file->bytes + file->position, *got);
        file->position += *got;
    }
    return true;
}

void platformCloseFile(PlatformFile* file) {
    platformFree(file);
}
