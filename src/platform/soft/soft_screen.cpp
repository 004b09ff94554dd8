// A window's screen context: a surface whose copies go to the backend's softPresent.
#include "platform/soft/soft_surface.h"

PlatformSurface* softCreateScreen(PlatformWindow* window) {
    auto* screen = static_cast<PlatformSurface*>(platformAllocate(sizeof(PlatformSurface), true));
    if (screen != nullptr) {
        softInitSurface(screen, window);
    }
    return screen;
}

void platformReleaseWindowScreen(PlatformWindow*, PlatformSurface* screen) {
    platformFree(screen);
}
