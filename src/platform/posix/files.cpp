// Read-only file access over the C library's descriptors.
#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

// Reads go through a read-ahead buffer: the script reader seeks back to where
// the last block ended and reads a little at a time, which would otherwise cost
// several system calls per block.
constexpr uint32_t kReadAhead = 64 * 1024;

struct PlatformFile {
    int descriptor;
    uint64_t position;
    uint64_t bufferStart;
    uint32_t bufferLength;
    char buffer[kReadAhead];
};

PlatformFile* platformOpenFile(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    // Not blocking: opening a named pipe would otherwise wait for a writer forever.
    int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat info;
    // Only plain files: a directory opens on POSIX but not as a file on the desktop the
    // format comes from, and pipes or devices have no size to search.
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    auto* file = static_cast<PlatformFile*>(platformAllocate(sizeof(PlatformFile), false));
    if (file == nullptr) {
        close(descriptor);
        return nullptr;
    }
    file->descriptor = descriptor;
    file->position = 0;
    file->bufferStart = 0;
    file->bufferLength = 0;
    return file;
}

bool platformFileSize(PlatformFile* file, uint32_t* size) {
    struct stat info;
    if (file == nullptr || fstat(file->descriptor, &info) != 0) {
        return false;
    }
    // Sizes beyond 32 bits cannot be told, as on the desktop the format comes from.
    if (static_cast<uint64_t>(info.st_size) > UINT32_MAX - 1u) {
        return false;
    }
    *size = static_cast<uint32_t>(info.st_size);
    return true;
}

bool platformSeekFile(PlatformFile* file, uint32_t offset) {
    if (file == nullptr) {
        return false;
    }
    file->position = offset;
    return true;
}

namespace {
bool readAt(PlatformFile* file, void* buffer, uint32_t wanted, uint64_t offset, uint32_t* got) {
    ssize_t result;
    do {
        result = pread(file->descriptor, buffer, wanted, static_cast<off_t>(offset));
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return false;
    }
    *got = static_cast<uint32_t>(result);
    return true;
}
} // namespace

bool platformReadFile(PlatformFile* file, void* buffer, uint32_t wanted, uint32_t* got) {
    *got = 0;
    if (file == nullptr) {
        return false;
    }
    if (wanted > kReadAhead) {
        if (!readAt(file, buffer, wanted, file->position, got)) {
            return false;
        }
        file->position += *got;
        return true;
    }
    bool buffered = file->position >= file->bufferStart &&
                    file->position < file->bufferStart + file->bufferLength;
    if (!buffered) {
        file->bufferStart = file->position;
        file->bufferLength = 0;
        if (!readAt(file, file->buffer, kReadAhead, file->position, &file->bufferLength)) {
            return false;
        }
    }
    uint64_t available = file->bufferStart + file->bufferLength - file->position;
    uint32_t count = available < wanted ? static_cast<uint32_t>(available) : wanted;
    memcpy(buffer, file->buffer + (file->position - file->bufferStart), count);
    file->position += count;
    *got = count;
    return true;
}

void platformCloseFile(PlatformFile* file) {
    if (file != nullptr) {
        close(file->descriptor);
        platformFree(file);
    }
}
