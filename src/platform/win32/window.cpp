// The window, its class and the message queue of the thread.
#include "platform/win32/win32.h"

namespace {
// The system calls a window procedure with its own calling convention, so each
// registered class gets a real window procedure that forwards to ours. The
// player registers one class; a few slots leave room for tests and tools.
constexpr int kProcedureSlots = 4;
WindowProcedure procedures[kProcedureSlots] = {};

template <int Slot>
LRESULT CALLBACK forwardingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return procedures[Slot](platformWindowOf(window), message, wParam, lParam);
}

constexpr WNDPROC forwardingProcedures[kProcedureSlots] = {
    forwardingProcedure<0>, forwardingProcedure<1>, forwardingProcedure<2>, forwardingProcedure<3>};

// The message last taken from the queue, whole: translation wants its time and position.
MSG lastMessage = {};

MSG systemMessageOf(const PlatformMessage* message) {
    if (platformWindowOf(lastMessage.hwnd) == message->window &&
        lastMessage.message == message->message && lastMessage.wParam == message->wParam &&
        lastMessage.lParam == message->lParam) {
        return lastMessage;
    }
    MSG made = {};
    made.hwnd = windowHandle(message->window);
    made.message = message->message;
    made.wParam = message->wParam;
    made.lParam = message->lParam;
    return made;
}
} // namespace

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure) {
    if (className == nullptr || procedure == nullptr) {
        return false;
    }
    int slot = 0;
    while (slot < kProcedureSlots && procedures[slot] != nullptr) {
        ++slot;
    }
    if (slot == kProcedureSlots) {
        return false;
    }
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = forwardingProcedures[slot];
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    if (RegisterClassExA(&windowClass) == 0) {
        return false;
    }
    procedures[slot] = procedure;
    return true;
}

PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight) {
    RECT outer = {0, 0, clientWidth, clientHeight};
    if (!AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE)) {
        return nullptr;
    }
    // Frame widths are small, but the sum is formed where it cannot overflow.
    int64_t width = static_cast<int64_t>(outer.right) - outer.left;
    int64_t height = static_cast<int64_t>(outer.bottom) - outer.top;
    if (width < 0 || width > INT32_MAX || height < 0 || height > INT32_MAX) {
        return nullptr;
    }
    HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, static_cast<int>(width), static_cast<int>(height),
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    return platformWindowOf(window);
}

void platformShowWindow(PlatformWindow* window) {
    ShowWindow(windowHandle(window), SW_SHOW);
    UpdateWindow(windowHandle(window));
}

void platformSetWindowTitle(PlatformWindow* window, const char* title) {
    SetWindowTextA(windowHandle(window), title);
}

void platformSetConsoleTitle(const char* title) {
    SetConsoleTitleA(title);
}

void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height) {
    RECT client = {};
    if (!GetClientRect(windowHandle(window), &client)) {
        *width = 0;
        *height = 0;
        return;
    }
    *width = client.right - client.left;
    *height = client.bottom - client.top;
}

bool platformPeekMessage(PlatformMessage* message) {
    MSG taken = {};
    if (!PeekMessageA(&taken, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    lastMessage = taken;
    message->window = platformWindowOf(taken.hwnd);
    message->message = taken.message;
    message->wParam = taken.wParam;
    message->lParam = taken.lParam;
    return true;
}

bool platformWaitForMessage(uint32_t timeoutMs) {
    // Input already in the queue ends the wait too, not only input that came since the
    // last look at it.
    return MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
           WAIT_TIMEOUT;
}

void platformDispatchMessage(const PlatformMessage* message) {
    MSG dispatched = systemMessageOf(message);
    TranslateMessage(&dispatched);
    DispatchMessageA(&dispatched);
}

intptr_t platformDefaultWindowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam) {
    return DefWindowProcA(windowHandle(window), message, wParam, lParam);
}

void platformValidateWindow(PlatformWindow* window) {
    PAINTSTRUCT paint;
    BeginPaint(windowHandle(window), &paint);
    EndPaint(windowHandle(window), &paint);
}

void platformPostQuitMessage(int32_t exitCode) {
    PostQuitMessage(exitCode);
}

// The desktop window has no text beside its pixels for a screen reader.
void platformDialogueText(const char*, uint32_t) {}
