// Private to the win32 backend: the system headers and the casts between our
// opaque handles and the system's. Our handle types are the system's handles,
// so no wrapper is allocated for a window, a drawing context or a bitmap.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/platform.h"

inline HWND windowHandle(PlatformWindow* window) {
    return reinterpret_cast<HWND>(window);
}
inline PlatformWindow* platformWindowOf(HWND window) {
    return reinterpret_cast<PlatformWindow*>(window);
}
inline HDC contextHandle(PlatformSurface* surface) {
    return reinterpret_cast<HDC>(surface);
}
inline PlatformSurface* platformSurfaceOf(HDC context) {
    return reinterpret_cast<PlatformSurface*>(context);
}
inline HBITMAP bitmapHandle(PlatformBitmap* bitmap) {
    return reinterpret_cast<HBITMAP>(bitmap);
}
inline PlatformBitmap* platformBitmapOf(HBITMAP bitmap) {
    return reinterpret_cast<PlatformBitmap*>(bitmap);
}
