// Read-only file access over the C library's descriptors.
#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

struct PlatformFile {
    int descriptor;
};

PlatformFile* platformOpenFile(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    int descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat info;
    // A directory opens on POSIX but not as a file on the desktop the format comes from.
    if (fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    auto* file = static_cast<PlatformFile*>(platformAllocate(sizeof(PlatformFile), false));
    if (file == nullptr) {
        close(descriptor);
        return nullptr;
    }
    file->descriptor = descriptor;
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
    return file != nullptr && lseek(file->descriptor, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool platformReadFile(PlatformFile* file, void* buffer, uint32_t wanted, uint32_t* got) {
    *got = 0;
    if (file == nullptr) {
        return false;
    }
    ssize_t result;
    do {
        result = read(file->descriptor, buffer, wanted);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        return false;
    }
    *got = static_cast<uint32_t>(result);
    return true;
}

void platformCloseFile(PlatformFile* file) {
    if (file != nullptr) {
        close(file->descriptor);
        platformFree(file);
    }
}
