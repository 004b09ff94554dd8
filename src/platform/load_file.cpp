// What every backend's loaders share: the reason of the last refused load, kept as
// stb keeps its failure reason, and the reading of a whole file.
#include "platform/load_file.h"

namespace {
LoadFailure lastFailure = LoadFailure::None;
} // namespace

LoadFailure platformLoadFailure() {
    return lastFailure;
}

void platformNoteLoadFailure(LoadFailure failure) {
    lastFailure = failure;
}

uint8_t* loadWholeFile(const char* path, uint32_t largest, LoadFailure empty, uint32_t* size,
                       uint32_t readAtMost) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        platformNoteLoadFailure(LoadFailure::Missing);
        return nullptr;
    }
    LoadFailure failure = LoadFailure::Unreadable;
    uint8_t* data = nullptr;
    if (!platformFileSize(file, size)) {
        failure = LoadFailure::Unreadable;
    } else if (*size == 0) {
        failure = empty;
    } else if (*size > largest) {
        failure = LoadFailure::TooLarge;
    } else {
        *size = *size < readAtMost ? *size : readAtMost;
        data = static_cast<uint8_t*>(platformAllocate(*size, false));
        failure = LoadFailure::TooLarge; // when memory for it cannot be had
    }
    uint32_t filled = 0;
    while (data != nullptr && filled < *size) {
        uint32_t got = 0;
        if (!platformReadFile(file, data + filled, *size - filled, &got) || got == 0) {
            failure = LoadFailure::Unreadable;
            platformFree(data);
            data = nullptr;
        }
        filled += got;
    }
    platformCloseFile(file);
    if (data == nullptr) {
        platformNoteLoadFailure(failure);
    }
    return data;
}
