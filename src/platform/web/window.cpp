// The window in a web page: one canvas, whose key and click handlers feed the window
// core's queue. Handlers run while the loop sleeps.
#include "platform/platform.h"
#include "platform/soft/soft_surface.h"
#include "platform/web/web.h"
#include "platform/window_core/window_core.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstring>

// The canvas needs no record of its own.
struct NativeWindow {};

namespace {

constexpr intptr_t kRepeatBit = intptr_t{1} << 30;

PlatformWindow* theWindow = nullptr;

// Width, height and clearings of the canvas, kept up to date by the page.
int32_t canvasSize[3] = {0, 0, 0};
bool canvasWatched = false;

// clang-format off
// The loop's sleep through a wait: a timeout that a key, a tap or a resize ends early,
// resolving to 1 then.
EM_ASYNC_JS(int, sleepUntilWoken, (uint32_t milliseconds), {
    return await new Promise(function(resolve) {
        var timer = setTimeout(function() { Module.bexuWake = null; resolve(0); }, milliseconds);
        Module.bexuWake = function() {
            clearTimeout(timer);
            Module.bexuWake = null;
            resolve(1);
        };
    });
});

EM_JS(void, wakeSleeper, (), {
    if (Module.bexuWake) Module.bexuWake();
});
// clang-format on

void postSpace(bool repeat) {
    webAudioAllowed();
    if (corePostMessage(theWindow, kMessageKeyDown, kVirtualKeySpace,
                        1 | (repeat ? kRepeatBit : 0))) {
        wakeSleeper();
    }
}

// Space, key repeats included; handled keys do not reach the page, so Space never scrolls.
// Other keys keep their browser meaning and do nothing here.
EM_BOOL onKeyDown(int, const EmscriptenKeyboardEvent* event, void*) {
    if (strcmp(event->code, "Space") != 0 && strcmp(event->key, " ") != 0) {
        return EM_FALSE;
    }
    postSpace(event->repeat != 0);
    return EM_TRUE;
}

// A touch screen has no Space key: a tap or click on the canvas stands for one.
EM_BOOL onClick(int, const EmscriptenMouseEvent* event, void*) {
    if (event->button != 0) {
        return EM_FALSE;
    }
    postSpace(false);
    return EM_TRUE;
}

// clang-format off
EM_JS(void, showCanvas, (), {
    Module.canvas.style.visibility = "visible";
    Module.canvas.focus();
});

EM_JS(void, setPageTitle, (const char* title), {
    var end = title;
    while (HEAPU8[end] != 0) ++end;
    document.title = new TextDecoder("windows-1252").decode(HEAPU8.subarray(title, end));
});

// Backing store = CSS size x devicePixelRatio, so a high-DPI screen gets the canvas at
// its real resolution. The page tells of size changes (the canvas's own, or a new
// pixel ratio after zooming or moving to another screen): the loop then reads the
// size from memory, with no call out per frame. Resizing the backing store clears
// it, which the count of clearings tells the presenter.
EM_JS(void, watchCanvasSize, (int32_t* size), {
    var canvas = Module.canvas;
    function fit() {
        var box = canvas.getBoundingClientRect();
        var ratio = window.devicePixelRatio || 1;
        var width = Math.max(0, Math.round(box.width * ratio));
        var height = Math.max(0, Math.round(box.height * ratio));
        var changed = HEAP32[size >> 2] != width || HEAP32[(size >> 2) + 1] != height;
        if (canvas.width != width || canvas.height != height) {
            canvas.width = width;
            canvas.height = height;
            HEAP32[(size >> 2) + 2] += 1;
            changed = true;
        }
        HEAP32[size >> 2] = width;
        HEAP32[(size >> 2) + 1] = height;
        // The loop may sleep through a key wait: the next frame must show the new size.
        if (changed && Module.bexuWake) Module.bexuWake();
    }
    function watchRatio() {
        var query = window.matchMedia("(resolution: " + (window.devicePixelRatio || 1) + "dppx)");
        query.addEventListener("change", function() { fit(); watchRatio(); }, {once: true});
    }
    new ResizeObserver(fit).observe(canvas);
    window.addEventListener("resize", fit);
    watchRatio();
    fit();
});
// clang-format on

} // namespace

void webCanvasSize(int32_t* width, int32_t* height, uint32_t* clearings) {
    if (!canvasWatched) {
        canvasWatched = true;
        watchCanvasSize(canvasSize);
    }
    *width = canvasSize[0];
    *height = canvasSize[1];
    *clearings = static_cast<uint32_t>(canvasSize[2]);
}

// The page has one canvas, so one window.
PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight) {
    static NativeWindow canvas;
    if (theWindow != nullptr || clientWidth <= 0 || clientHeight <= 0) {
        return nullptr;
    }
    theWindow = coreCreateWindow(className, &canvas);
    if (theWindow == nullptr) {
        return nullptr;
    }
    platformSetWindowTitle(theWindow, title);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, onKeyDown);
    emscripten_set_click_callback("#canvas", nullptr, EM_FALSE, onClick);
    return theWindow;
}

void platformShowWindow(PlatformWindow* window) {
    if (coreWindowLive(window)) {
        showCanvas();
        coreInvalidateWindow(window);
        coreUpdateWindow(window);
    }
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    if (coreWindowLive(window) && title != nullptr) {
        setPageTitle(title);
    }
}

// A page has no console title.
void platformSetConsoleTitle(const char*) {}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    *width = 0;
    *height = 0;
    uint32_t clearings = 0;
    if (coreWindowLive(window)) {
        webCanvasSize(width, height, &clearings);
    }
}

// The page's handlers queue their messages as they come.
void nativePumpEvents() {}

bool nativeWaitForEvents(uint32_t timeoutMs) {
    // Even for no time: the page's handlers run only while the loop sleeps.
    return sleepUntilWoken(timeoutMs) != 0;
}

// The canvas stays on the page, showing what it showed last.
void nativeDestroyWindow(PlatformWindow*) {}

// The canvas takes RGBA, not the soft layer's XRGB: the player draws into bitmaps of
// its own, which the present converts.
PlatformBitmap* platformWindowPixels(PlatformWindow*) {
    return nullptr;
}

PlatformSurface* platformWindowScreen(PlatformWindow* window) {
    if (!coreWindowLive(window)) {
        return nullptr;
    }
    return softCreateScreen(window);
}
