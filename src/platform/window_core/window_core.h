// One window and message core for the backends whose windows are records of their own
// (sdl, web, headless), as a window library keeps one event queue and its drivers only
// translate: the window classes, the windows, the message queue and its dispatch, and the
// one order of closing. It implements platform.h's class, message and quit functions; a
// backend makes its native window, feeds the queue with its native events, and provides
// the native operations declared at the end.
#pragma once

#include "platform/platform.h"

struct NativeWindow; // each backend's own record of a window

struct PlatformWindow {
    WindowProcedure procedure;
    NativeWindow* native;
    // Closed: messages to it are dropped and it shows nothing. The record stays, since
    // messages and the app may still name it.
    bool destroyed;
    // It lost what it showed: a paint comes once no other message is queued.
    bool needsPaint;
};

// A window of the class registered as `className`, over the backend's `native` record,
// to be painted; none when no such class is registered or no room is left.
PlatformWindow* coreCreateWindow(const char* className, NativeWindow* native);
// Whether `window` was made and is not destroyed.
bool coreWindowLive(const PlatformWindow* window);
// Queues a message for a live window (key-downs, close requests) behind those before it.
// False, and the message is dropped, when the queue is full, as a desktop queue at its limit.
bool corePostMessage(PlatformWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Messages the queue can still take.
int coreQueueRoom();
// The window lost what it showed: it will be sent a paint.
void coreInvalidateWindow(PlatformWindow* window);
// Sends a pending paint straight to the window procedure, as showing a desktop window
// updates it at once.
void coreUpdateWindow(PlatformWindow* window);
// Back to no classes, no windows, no messages and no quit, for a backend that plays several
// runs in one process. The windows' native records are the backend's to free.
void coreResetWindows();

// ---- what each backend provides -------------------------------------------

// Moves the native events that have come into the queue, without waiting.
void nativePumpEvents();
// Sleeps until a native event that the player hears of comes (then moved into the queue),
// or `timeoutMs` pass; true when one came, also one that came before the call.
bool nativeWaitForEvents(uint32_t timeoutMs);
// Destroys the native window. The window procedure has heard of the destroy already.
void nativeDestroyWindow(PlatformWindow* window);
