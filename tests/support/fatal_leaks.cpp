#include "support/fatal_leaks.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BEXU_LEAK_CHECKS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BEXU_LEAK_CHECKS 1
#endif

#ifdef BEXU_LEAK_CHECKS
#include <sanitizer/lsan_interface.h>

#include <cstddef>
#include <cstdlib>

// Not in every compiler's sanitizer headers, but in every sanitizer runtime.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {

// No allocation may happen in the hooks: a fixed table. A command holds a few blocks.
constexpr int kWatched = 256;
const volatile void* held[kWatched];
int heldCount = 0;
bool watching = false;

void onMalloc(const volatile void* block, size_t) {
    if (watching && heldCount < kWatched) {
        held[heldCount++] = block;
    }
}

void onFree(const volatile void* block) {
    for (int i = 0; watching && i < heldCount; ++i) {
        if (held[i] == block) {
            held[i] = held[--heldCount];
            return;
        }
    }
}

} // namespace

void fatalLeaksWatch(bool on) {
    static bool installed = false;
    if (!installed) {
        __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
        installed = true;
    }
    watching = on;
    heldCount = 0;
}

void fatalLeaksNextIteration() {
    heldCount = 0;
}

void fatalLeaksForgive() {
    for (int i = 0; i < heldCount; ++i) {
        __lsan_ignore_object(const_cast<const void*>(held[i]));
    }
    heldCount = 0;
}

void fatalLeaksFree(const void* kept) {
    for (int i = 0; i < heldCount; ++i) {
        if (held[i] != kept) {
            free(const_cast<void*>(held[i]));
        }
    }
    heldCount = 0;
}

#else

void fatalLeaksWatch(bool) {}
void fatalLeaksNextIteration() {}
void fatalLeaksForgive() {}
void fatalLeaksFree(const void*) {}

#endif
