// The in-memory window: message queue, scheduled input, and the pixels it shows.
#include "platform/headless/headless_state.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

// Moves the events that are due into the queue, as the desktop would deliver them.
// Returns whether any was due.
bool deliverDueEvents() {
    HeadlessState& state = headless();
    uint32_t elapsed = state.tick - state.startTick;
    bool delivered = false;
    while (!state.schedule.empty() && state.schedule.front().tick - state.startTick <= elapsed) {
        HeadlessEvent event = state.schedule.front();
        state.schedule.erase(state.schedule.begin());
        if (!coreWindowLive(state.window)) {
            continue;
        }
        delivered = true;
        switch (event.kind) {
        case HeadlessEventKind::Key:
            corePostMessage(state.window, kMessageKeyDown, event.key, 0);
            headlessLog("key %u", event.key);
            break;
        case HeadlessEventKind::Close:
            corePostMessage(state.window, kMessageClose, 0, 0);
            headlessLog("close");
            break;
        case HeadlessEventKind::Resize:
            // A desktop window repaints after a resize.
            headlessSetClientSize(event.width, event.height);
            coreInvalidateWindow(state.window);
            headlessLog("size %dx%d", event.width, event.height);
            break;
        case HeadlessEventKind::Wake:
            break;
        }
    }
    return delivered;
}

} // namespace

void headlessSetClientSize(int32_t width, int32_t height) {
    HeadlessState& state = headless();
    state.startWidth = width;
    state.startHeight = height;
    if (state.window != nullptr) {
        state.window->native->clientWidth = width;
        state.window->native->clientHeight = height;
    }
}

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t, int32_t) {
    headlessConfigure();
    HeadlessState& state = headless();
    // The window lives for the whole run: the next reset frees it.
    state.natives.push_back(NativeWindow{title, state.startWidth, state.startHeight, false});
    PlatformWindow* window = coreCreateWindow(className, &state.natives.back());
    if (window == nullptr) {
        state.natives.pop_back();
        return nullptr;
    }
    state.window = window;
    return window;
}

void platformShowWindow(PlatformWindow* window) {
    window->native->shown = true;
    headlessLog("shown %s", window->native->title.c_str());
    // Updating at once sends the first paint straight to the window procedure.
    coreInvalidateWindow(window);
    coreUpdateWindow(window);
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    window->native->title = title;
    headlessLog("title %s", title);
}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    bool live = coreWindowLive(window);
    *width = live ? window->native->clientWidth : 0;
    *height = live ? window->native->clientHeight : 0;
}

void nativePumpEvents() {
    headlessConfigure();
    deliverDueEvents();
}

// The clock jumps to the next scheduled event or the timeout, whichever comes first.
bool nativeWaitForEvents(uint32_t timeoutMs) {
    HeadlessState& state = headless();
    uint32_t wake = state.tick + timeoutMs;
    headlessPauseBegins();
    // The frame hook may have moved the clock or scheduled events.
    if (!state.schedule.empty() &&
        state.schedule.front().tick - state.startTick < wake - state.startTick) {
        wake = state.schedule.front().tick;
    }
    auto left = static_cast<int32_t>(wake - state.tick);
    headlessAdvanceClock(left > 0 ? static_cast<uint32_t>(left) : 0);
    return deliverDueEvents();
}

void nativeDestroyWindow(PlatformWindow*) {}

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    return softCreateScreen(window);
}

void headlessSetLending(bool lending) {
    headless().lending = lending;
}

PlatformBitmap* platformWindowPixels(PlatformWindow* window) {
    HeadlessState& state = headless();
    if (!state.lending || !coreWindowLive(window) || window->native->clientWidth <= 0 ||
        window->native->clientHeight <= 0) {
        return nullptr;
    }
    PlatformBitmap* current = state.pixels[state.pixelsIndex];
    const NativeWindow& native = *window->native;
    if (current != nullptr && current->width == native.clientWidth &&
        current->height == native.clientHeight) {
        return current;
    }
    // The one before the current is no longer in use: its place takes the new one.
    int next = state.pixelsIndex ^ 1;
    headlessFreePixels(&state.pixels[next]);
    PlatformBitmap* made = softCreateBitmap(native.clientWidth, native.clientHeight);
    if (made == nullptr) {
        return nullptr;
    }
    made->lent = true;
    state.pixels[next] = made;
    state.pixelsIndex = next;
    return made;
}

void softPresent(PlatformWindow* window, int32_t x, int32_t y, int32_t width, int32_t height,
                 const PlatformBitmap* source, int32_t sourceX, int32_t sourceY) {
    HeadlessState& state = headless();
    const NativeWindow& native = *window->native;
    if (native.clientWidth <= 0 || native.clientHeight <= 0) {
        return;
    }
    PlatformBitmap*& screen = state.screen;
    if (screen == nullptr || screen->width != native.clientWidth ||
        screen->height != native.clientHeight) {
        if (screen != nullptr) {
            platformDeleteBitmap(screen);
        }
        screen = softCreateBitmap(native.clientWidth, native.clientHeight);
        if (screen == nullptr) {
            return;
        }
    }
    // Clip the copy to both the source bitmap and the client area.
    int64_t left = std::max<int64_t>({0, x, static_cast<int64_t>(x) - sourceX});
    int64_t top = std::max<int64_t>({0, y, static_cast<int64_t>(y) - sourceY});
    int64_t right = std::min<int64_t>({static_cast<int64_t>(x) + width, screen->width,
                                       static_cast<int64_t>(x) - sourceX + source->width});
    int64_t bottom = std::min<int64_t>({static_cast<int64_t>(y) + height, screen->height,
                                        static_cast<int64_t>(y) - sourceY + source->height});
    for (int64_t row = top; row < bottom; ++row) {
        const uint32_t* from =
            source->pixels + (row - y + sourceY) * source->width + (left - x + sourceX);
        memcpy(screen->pixels + row * screen->width + left, from,
               static_cast<size_t>(right - left) * 4);
    }
    ++state.presentCount;
    if (!state.dumpFolder.empty()) {
        headlessDumpScreen();
    }
}

const PlatformBitmap* headlessScreen() {
    return headless().screen;
}

uint32_t headlessPresentCount() {
    return headless().presentCount;
}

const char* headlessWindowTitle() {
    return headless().window == nullptr ? nullptr : headless().window->native->title.c_str();
}

bool headlessWindowShown() {
    return headless().window != nullptr && headless().window->native->shown;
}

// Writes the screen as a PPM file when it differs from the last one written.
void headlessDumpScreen() {
    HeadlessState& state = headless();
    const PlatformBitmap* screen = state.screen;
    size_t count = static_cast<size_t>(screen->width) * static_cast<size_t>(screen->height);
    uint64_t hash = 1469598103934665603ull ^ (static_cast<uint64_t>(screen->width) << 32) ^
                    static_cast<uint64_t>(screen->height);
    for (size_t i = 0; i < count; ++i) {
        hash = (hash ^ screen->pixels[i]) * 1099511628211ull;
    }
    if (state.dumpCount > 0 && hash == state.lastDumpHash) {
        return;
    }
    state.lastDumpHash = hash;
    mkdir(state.dumpFolder.c_str(), 0755);
    char name[64];
    snprintf(name, sizeof name, "/frame-%05u-%010u.ppm", state.dumpCount++,
             state.tick - state.startTick);
    std::string path = state.dumpFolder + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    fprintf(file, "P6\n%d %d\n255\n", screen->width, screen->height);
    std::vector<unsigned char> row(static_cast<size_t>(screen->width) * 3);
    for (int32_t y = 0; y < screen->height; ++y) {
        for (int32_t x = 0; x < screen->width; ++x) {
            uint32_t pixel = screen->pixels[static_cast<size_t>(y) * screen->width + x];
            row[x * 3 + 0] = static_cast<unsigned char>(pixel >> 16);
            row[x * 3 + 1] = static_cast<unsigned char>(pixel >> 8);
            row[x * 3 + 2] = static_cast<unsigned char>(pixel);
        }
        fwrite(row.data(), 1, row.size(), file);
    }
    fclose(file);
    headlessLog("frame %s", name + 1);
}

void platformDialogueText(const char*, uint32_t length) {
    headless().dialogueLengths.push_back(length);
    headlessLog("dialogue %u", length);
}

const std::vector<uint32_t>& headlessDialogueLengths() {
    return headless().dialogueLengths;
}
