// The in-memory window: message queue, scheduled input, and the pixels it shows.
#include "platform/headless/headless_state.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

void post(PlatformWindow* window, uint32_t message, uintptr_t wParam) {
    headless().queue.push_back(PlatformMessage{window, message, wParam, 0});
}

// Moves the events that are due into the queue, as the desktop would deliver them.
void deliverDueEvents() {
    HeadlessState& state = headless();
    uint32_t elapsed = state.tick - state.startTick;
    while (!state.schedule.empty() && state.schedule.front().tick - state.startTick <= elapsed) {
        HeadlessEvent event = state.schedule.front();
        state.schedule.erase(state.schedule.begin());
        if (state.window == nullptr || state.window->destroyed) {
            continue;
        }
        switch (event.kind) {
        case HeadlessEventKind::Key:
            post(state.window, kMessageKeyDown, event.key);
            headlessLog("key %u", event.key);
            break;
        case HeadlessEventKind::Close:
            post(state.window, kMessageClose, 0);
            headlessLog("close");
            break;
        case HeadlessEventKind::Resize:
            headlessSetClientSize(event.width, event.height);
            headlessLog("size %dx%d", event.width, event.height);
            break;
        }
    }
}

} // namespace

void headlessSetClientSize(int32_t width, int32_t height) {
    HeadlessState& state = headless();
    state.startWidth = width;
    state.startHeight = height;
    if (state.window != nullptr) {
        state.window->clientWidth = width;
        state.window->clientHeight = height;
    }
}

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure) {
    headlessConfigure();
    HeadlessState& state = headless();
    for (const HeadlessClass& known : state.classes) {
        if (known.name == className) {
            return false;
        }
    }
    state.classes.push_back(HeadlessClass{className, procedure});
    return true;
}

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t, int32_t) {
    headlessConfigure();
    HeadlessState& state = headless();
    for (const HeadlessClass& known : state.classes) {
        if (known.name == className) {
            // The window lives for the whole run.
            auto* window = new PlatformWindow{known.procedure,   title, state.startWidth,
                                              state.startHeight, false, false};
            state.window = window;
            return window;
        }
    }
    return nullptr;
}

void platformShowWindow(PlatformWindow* window) {
    window->shown = true;
    headlessLog("shown %s", window->title.c_str());
    // Updating at once sends the first paint straight to the window procedure.
    window->procedure(window, kMessagePaint, 0, 0);
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    window->title = title;
    headlessLog("title %s", title);
}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    *width = window->destroyed ? 0 : window->clientWidth;
    *height = window->destroyed ? 0 : window->clientHeight;
}

bool platformPeekMessage(PlatformMessage* message) {
    headlessConfigure();
    deliverDueEvents();
    HeadlessState& state = headless();
    if (state.queue.empty()) {
        return false;
    }
    *message = state.queue.front();
    state.queue.pop_front();
    return true;
}

void platformDispatchMessage(const PlatformMessage* message) {
    PlatformWindow* window = message->window;
    if (window == nullptr || window->destroyed) {
        return;
    }
    window->procedure(window, message->message, message->wParam, message->lParam);
}

intptr_t platformDefaultWindowProcedure(PlatformWindow* window, uint32_t message, uintptr_t,
                                        intptr_t) {
    if (message == kMessageClose && !window->destroyed) {
        window->procedure(window, kMessageDestroy, 0, 0);
        window->destroyed = true;
    }
    return 0;
}

void platformValidateWindow(PlatformWindow*) {}

void platformPostQuitMessage(int32_t exitCode) {
    post(nullptr, kMessageQuit, static_cast<uintptr_t>(static_cast<uint32_t>(exitCode)));
}

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    return softCreateScreen(window);
}

void headlessSetLending(bool lending) {
    headless().lending = lending;
}

PlatformBitmap* platformWindowPixels(PlatformWindow* window) {
    HeadlessState& state = headless();
    if (!state.lending || window->destroyed || window->clientWidth <= 0 ||
        window->clientHeight <= 0) {
        return nullptr;
    }
    PlatformBitmap* current = state.pixels[state.pixelsIndex];
    if (current != nullptr && current->width == window->clientWidth &&
        current->height == window->clientHeight) {
        return current;
    }
    // The one before the current is no longer in use: its place takes the new one.
    int next = state.pixelsIndex ^ 1;
    headlessFreePixels(&state.pixels[next]);
    PlatformBitmap* made = softCreateBitmap(window->clientWidth, window->clientHeight);
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
    if (window->clientWidth <= 0 || window->clientHeight <= 0) {
        return;
    }
    PlatformBitmap*& screen = state.screen;
    if (screen == nullptr || screen->width != window->clientWidth ||
        screen->height != window->clientHeight) {
        if (screen != nullptr) {
            platformDeleteBitmap(screen);
        }
        screen = softCreateBitmap(window->clientWidth, window->clientHeight);
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
    return headless().window == nullptr ? nullptr : headless().window->title.c_str();
}

bool headlessWindowShown() {
    return headless().window != nullptr && headless().window->shown;
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
