#include "platform/win32/bitmap_file.h"

#include "platform/bmp_headers.h"

LoadFailure bmpFileFailure(const char* path) {
    PlatformFile* file = platformOpenFile(path);
    if (file == nullptr) {
        return LoadFailure::Missing;
    }
    uint8_t head[kBmpHeadBytes];
    uint32_t fileSize = 0;
    uint32_t got = 0;
    bool read = platformFileSize(file, &fileSize);
    // The head, or the whole file when it is shorter.
    while (read && got < sizeof head && got < fileSize) {
        uint32_t more = 0;
        read = platformReadFile(file, head + got, sizeof head - got, &more) && more > 0;
        got += more;
    }
    platformCloseFile(file);
    if (!read) {
        return LoadFailure::Unreadable;
    }
    if (fileSize > kLargestBmpFile) {
        return LoadFailure::TooLarge;
    }
    BmpLayout layout;
    return readBmpHeaders(head, got, fileSize, &layout);
}
