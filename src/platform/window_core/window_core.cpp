#include "platform/window_core/window_core.h"

#include <cstring>

namespace {

constexpr int kMaxClasses = 8;
constexpr size_t kMaxClassName = 64;
constexpr int kMaxWindows = 4;
constexpr int kQueueSize = 256;

struct WindowClass {
    char name[kMaxClassName];
    WindowProcedure procedure;
};

struct Core {
    WindowClass classes[kMaxClasses];
    int classCount;
    PlatformWindow windows[kMaxWindows];
    int windowCount;
    PlatformMessage queue[kQueueSize];
    int queueHead;
    int queueCount;
    bool quitPosted;
    int32_t quitCode;
};
Core core;

WindowProcedure procedureOfClass(const char* className) {
    for (int i = 0; className != nullptr && i < core.classCount; ++i) {
        if (strcmp(core.classes[i].name, className) == 0) {
            return core.classes[i].procedure;
        }
    }
    return nullptr;
}

bool takeQueued(PlatformMessage* message) {
    if (core.queueCount == 0) {
        return false;
    }
    *message = core.queue[core.queueHead];
    core.queueHead = (core.queueHead + 1) % kQueueSize;
    --core.queueCount;
    return true;
}

PlatformWindow* windowToPaint() {
    for (int i = 0; i < core.windowCount; ++i) {
        if (!core.windows[i].destroyed && core.windows[i].needsPaint) {
            return &core.windows[i];
        }
    }
    return nullptr;
}

// A paint is made, not queued: it comes when nothing else is pending, once per loss.
bool takePaint(PlatformMessage* message) {
    PlatformWindow* window = windowToPaint();
    if (window == nullptr) {
        return false;
    }
    window->needsPaint = false;
    *message = {window, kMessagePaint, 0, 0};
    return true;
}

bool messageQueued() {
    return core.queueCount > 0 || core.quitPosted || windowToPaint() != nullptr;
}

// The desktop's order: the procedure hears of the destroy while the window still stands,
// then the window goes.
void destroyWindow(PlatformWindow* window) {
    window->procedure(window, kMessageDestroy, 0, 0);
    nativeDestroyWindow(window);
    window->destroyed = true;
    window->needsPaint = false;
}

} // namespace

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure) {
    if (className == nullptr || procedure == nullptr || core.classCount == kMaxClasses ||
        strlen(className) >= kMaxClassName || procedureOfClass(className) != nullptr) {
        return false;
    }
    strcpy(core.classes[core.classCount].name, className);
    core.classes[core.classCount].procedure = procedure;
    ++core.classCount;
    return true;
}

PlatformWindow* coreCreateWindow(const char* className, NativeWindow* native) {
    WindowProcedure procedure = procedureOfClass(className);
    if (procedure == nullptr || core.windowCount == kMaxWindows) {
        return nullptr;
    }
    PlatformWindow* window = &core.windows[core.windowCount++];
    *window = {procedure, native, false, true};
    return window;
}

bool coreWindowLive(const PlatformWindow* window) {
    return window != nullptr && !window->destroyed;
}

bool corePostMessage(PlatformWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (!coreWindowLive(window) || core.queueCount == kQueueSize) {
        return false;
    }
    core.queue[(core.queueHead + core.queueCount) % kQueueSize] = {window, message, wParam, lParam};
    ++core.queueCount;
    return true;
}

int coreQueueRoom() {
    return kQueueSize - core.queueCount;
}

void coreInvalidateWindow(PlatformWindow* window) {
    if (coreWindowLive(window)) {
        window->needsPaint = true;
    }
}

void coreUpdateWindow(PlatformWindow* window) {
    if (coreWindowLive(window) && window->needsPaint) {
        window->needsPaint = false;
        window->procedure(window, kMessagePaint, 0, 0);
    }
}

void coreResetWindows() {
    core = Core{};
}

// The desktop's order of taking: queued messages first, then the quit, then paints.
bool platformPeekMessage(PlatformMessage* message) {
    if (core.queueCount == 0) {
        nativePumpEvents();
    }
    if (takeQueued(message)) {
        return true;
    }
    if (core.quitPosted) {
        core.quitPosted = false;
        *message = {nullptr, kMessageQuit, static_cast<uintptr_t>(core.quitCode), 0};
        return true;
    }
    return takePaint(message);
}

// The native wait takes in what came before it too, so nothing is pumped here. A backend
// that sleeps once per pause (the virtual clock's) is asked to also when a message is
// queued already, for no time.
bool platformWaitForMessage(uint32_t timeoutMs) {
    bool queued = messageQueued();
    return nativeWaitForEvents(queued ? 0 : timeoutMs) || queued;
}

void platformDispatchMessage(const PlatformMessage* message) {
    PlatformWindow* window = message->window;
    if (coreWindowLive(window)) {
        window->procedure(window, message->message, message->wParam, message->lParam);
    }
}

intptr_t platformDefaultWindowProcedure(PlatformWindow* window, uint32_t message, uintptr_t,
                                        intptr_t) {
    if (!coreWindowLive(window)) {
        return 0;
    }
    if (message == kMessageClose) {
        destroyWindow(window);
    } else if (message == kMessagePaint) {
        platformValidateWindow(window);
    }
    return 0;
}

void platformValidateWindow(PlatformWindow* window) {
    if (window != nullptr) {
        window->needsPaint = false;
    }
}

void platformPostQuitMessage(int32_t exitCode) {
    core.quitPosted = true;
    core.quitCode = exitCode;
}
