// Read-only file access through kernel file handles.
#include "platform/win32/win32.h"

namespace {
HANDLE fileHandle(PlatformFile* file) {
    return reinterpret_cast<HANDLE>(file);
}
} // namespace

PlatformFile* platformOpenFile(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    // A valid handle is never zero, so none stays free to mean "no file".
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<PlatformFile*>(handle);
}

bool platformFileSize(PlatformFile* file, uint32_t* size) {
    if (file == nullptr) {
        return false;
    }
    DWORD high = 0;
    DWORD low = GetFileSize(fileHandle(file), &high);
    // 0xFFFFFFFF is the failure value; a file of exactly that size cannot be told apart,
    // and a size beyond 32 bits cannot be told at all.
    if (low == INVALID_FILE_SIZE || high != 0) {
        return false;
    }
    *size = low;
    return true;
}

bool platformSeekFile(PlatformFile* file, uint32_t offset) {
    if (file == nullptr) {
        return false;
    }
    // With the high half given, the low half counts as unsigned: offsets up to 4 GiB work.
    LONG high = 0;
    DWORD low = SetFilePointer(fileHandle(file), static_cast<LONG>(offset), &high, FILE_BEGIN);
    return low == offset && high == 0;
}

bool platformReadFile(PlatformFile* file, void* buffer, uint32_t wanted, uint32_t* got) {
    *got = 0;
    if (file == nullptr) {
        return false;
    }
    DWORD read = 0;
    if (!ReadFile(fileHandle(file), buffer, wanted, &read, nullptr)) {
        return false;
    }
    *got = read;
    return true;
}

void platformCloseFile(PlatformFile* file) {
    if (file != nullptr) {
        CloseHandle(fileHandle(file));
    }
}
