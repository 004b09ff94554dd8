#include "lazy_libraries.h"

#include <cstddef>
#include <dlfcn.h>

extern "C" void* bexu_lazy_slots[];

namespace {

// In the order static_player.cmake hands them to lazy_symbols.sh.
const char* const kLibraries[] = {"libX11.so.6", "libXext.so.6",   "libXcursor.so.1",
                                  "libXi.so.6",  "libXfixes.so.3", "libXrandr.so.2",
                                  "libXss.so.1", "libasound.so.2"};
constexpr unsigned kLibraryCount = sizeof kLibraries / sizeof kLibraries[0];
constexpr unsigned kScreenSaver = 6;
constexpr unsigned kAlsa = 7;

bool alsaLoaded = false;

// What a function of a library that is not there answers: no display from
// XOpenDisplay, no extension from the Query calls. ALSA's are never called then.
long missingFunction() {
    return 0;
}

bool bindLibrary(unsigned library, void* handle) {
    for (unsigned i = 0; i < kLazySymbolCount; ++i) {
        if (kLazySymbols[i].library == library &&
            (bexu_lazy_slots[i] = dlsym(handle, kLazySymbols[i].name)) == nullptr) {
            return false;
        }
    }
    return true;
}

void unbindLibraries(unsigned first, unsigned last) {
    for (unsigned i = 0; i < kLazySymbolCount; ++i) {
        if (kLazySymbols[i].library >= first && kLazySymbols[i].library <= last) {
            bexu_lazy_slots[i] = reinterpret_cast<void*>(&missingFunction);
        }
    }
}

// Opens and binds libraries first..last, all of them or none.
bool loadLibraries(unsigned first, unsigned last) {
    bool loaded = true;
    for (unsigned library = first; library <= last && loaded; ++library) {
        void* handle = dlopen(kLibraries[library], RTLD_NOW | RTLD_LOCAL);
        loaded = handle != nullptr && bindLibrary(library, handle);
    }
    if (!loaded) {
        unbindLibraries(first, last);
    }
    return loaded;
}

__attribute__((constructor)) void loadDriverLibraries() {
    unbindLibraries(0, kLibraryCount - 1);
    // The X11 driver needs all of its libraries but the screen saver's, which it asks for.
    loadLibraries(0, kScreenSaver - 1);
    loadLibraries(kScreenSaver, kScreenSaver);
    alsaLoaded = loadLibraries(kAlsa, kAlsa);
}

struct AudioBootStrap {
    const char* name;
    const char* desc;
    int (*init)(void*);
    int demandOnly;
};

int alsaInit(void* implementation);

} // namespace

extern "C" {

// SDL's own ALSA driver, renamed in the copy of libSDL2.a linked here.
extern AudioBootStrap bexu_sdl_alsa_bootstrap;

// Offered only when libasound could be opened; SDL then tries its other drivers.
AudioBootStrap ALSA_bootstrap = {"alsa", "ALSA PCM audio", alsaInit, 0};
}

namespace {

int alsaInit(void* implementation) {
    return alsaLoaded ? bexu_sdl_alsa_bootstrap.init(implementation) : 0;
}

} // namespace
