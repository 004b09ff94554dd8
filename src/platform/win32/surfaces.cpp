// Drawing contexts and bitmaps of the graphics device interface. Bitmaps are
// made compatible with a context: give them the window's screen context (or a
// context made from it), since a fresh memory context would make them monochrome.
#include "platform/win32/bitmap_file.h"
#include "platform/win32/win32.h"

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    return platformSurfaceOf(GetDC(windowHandle(window)));
}

void platformReleaseWindowScreen(PlatformWindow* window, PlatformSurface* screen) {
    ReleaseDC(windowHandle(window), contextHandle(screen));
}

// The desktop keeps the window's pixels to itself: the player draws into its own bitmaps.
PlatformBitmap* platformWindowPixels(PlatformWindow*) {
    return nullptr;
}

PlatformSurface* platformCreateSurface(PlatformSurface* compatibleWith) {
    return platformSurfaceOf(CreateCompatibleDC(contextHandle(compatibleWith)));
}

void platformDeleteSurface(PlatformSurface* surface) {
    if (surface != nullptr) {
        DeleteDC(contextHandle(surface));
    }
}

PlatformBitmap* platformCreateBitmap(PlatformSurface* compatibleWith, int32_t width,
                                     int32_t height) {
    if (width <= 0 || height <= 0) {
        return nullptr;
    }
    return platformBitmapOf(CreateCompatibleBitmap(contextHandle(compatibleWith), width, height));
}

PlatformBitmap* platformLoadBitmap(const char* path) {
    LoadFailure failure = path == nullptr ? LoadFailure::Missing : bmpFileFailure(path);
    // A head that cannot be read is left to the system's loader.
    if (failure != LoadFailure::None && failure != LoadFailure::Unreadable) {
        platformNoteLoadFailure(failure);
        return nullptr;
    }
    HANDLE image = LoadImageA(nullptr, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    // The system's loader tells no reason of its own.
    platformNoteLoadFailure(image == nullptr ? LoadFailure::Unreadable : LoadFailure::None);
    return platformBitmapOf(static_cast<HBITMAP>(image));
}

PlatformBitmap* platformSelectBitmap(PlatformSurface* surface, PlatformBitmap* bitmap) {
    HGDIOBJ before = SelectObject(contextHandle(surface), bitmapHandle(bitmap));
    return platformBitmapOf(static_cast<HBITMAP>(before));
}

void platformDeleteBitmap(PlatformBitmap* bitmap) {
    if (bitmap != nullptr) {
        DeleteObject(bitmapHandle(bitmap));
    }
}

bool platformBitmapSize(PlatformBitmap* bitmap, int32_t* width, int32_t* height) {
    BITMAP description = {};
    if (bitmap == nullptr ||
        GetObjectA(bitmapHandle(bitmap), sizeof(description), &description) == 0) {
        return false;
    }
    *width = description.bmWidth;
    *height = description.bmHeight;
    return true;
}
