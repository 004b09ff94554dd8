// The one interface between the player and the operating system.
// Engine, render and app code reach files, time, the window, drawing, sound,
// memory and the fatal report only through these functions. Each backend
// (win32, sdl, headless, web) implements every one of them.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- files ---------------------------------------------------------------

struct PlatformFile;

// Opens an existing file read-only, others may read it too. None when missing.
PlatformFile* platformOpenFile(const char* path);
bool platformFileSize(PlatformFile* file, uint32_t* size);
// Absolute position from the start of the file.
bool platformSeekFile(PlatformFile* file, uint32_t offset);
// Reads up to `wanted` bytes; `*got` is 0 at the end of the file.
bool platformReadFile(PlatformFile* file, void* buffer, uint32_t wanted, uint32_t* got);
void platformCloseFile(PlatformFile* file);

// ---- time ----------------------------------------------------------------

// Milliseconds, 32 bits, wrapping.
uint32_t platformTickCount();
void platformSleep(uint32_t milliseconds);

// ---- window and messages -------------------------------------------------

struct PlatformWindow;

// Message codes carry the desktop's own values so a native backend passes them through.
enum : uint32_t {
    kMessageDestroy = 0x0002,
    kMessagePaint = 0x000F,
    kMessageClose = 0x0010,
    kMessageQuit = 0x0012,
    kMessageKeyDown = 0x0100,
};
constexpr uintptr_t kVirtualKeySpace = 0x20;

using WindowProcedure = intptr_t (*)(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);

bool platformRegisterWindowClass(const char* className, WindowProcedure procedure);
// Resizable overlapped window whose client area is clientWidth x clientHeight;
// made hidden, shown by platformShowWindow.
PlatformWindow* platformCreateWindow(const char* className, const char* title, int32_t clientWidth,
                                     int32_t clientHeight);
void platformShowWindow(PlatformWindow* window);
void platformSetWindowTitle(PlatformWindow* window, const char* title);
// Has effect only where the process has a console.
void platformSetConsoleTitle(const char* title);
void platformClientSize(PlatformWindow* window, int32_t* width, int32_t* height);

// Takes one pending message without waiting. False when none is pending.
// A quit message is returned to the caller (message kMessageQuit, its code in
// wParam) and not dispatched.
struct PlatformMessage {
    PlatformWindow* window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
bool platformPeekMessage(PlatformMessage* message);
// Sleeps until a message is pending or `timeoutMs` have passed, whichever comes first, and
// takes no message. Also ends early where the window changed without a message that the
// next frame must show (the page's canvas resized). True when it ended early.
bool platformWaitForMessage(uint32_t timeoutMs);
// Hands the message to its window procedure. The desktop also makes character messages of
// key-downs there; the player reads none, so other backends make none.
void platformDispatchMessage(const PlatformMessage* message);
intptr_t platformDefaultWindowProcedure(PlatformWindow* window, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam);
// Validates the window's client area without drawing.
void platformValidateWindow(PlatformWindow* window);
void platformPostQuitMessage(int32_t exitCode);

// ---- surfaces and bitmaps ------------------------------------------------

struct PlatformSurface;
struct PlatformBitmap;

// Colours are colour references: 0x00BBGGRR.
constexpr uint32_t kColorBlack = 0x000000;
constexpr uint32_t kColorMagenta = 0xFF00FF;

// The window's own drawing context; copies into it reach the screen.
PlatformSurface* platformWindowScreen(PlatformWindow* window);
void platformReleaseWindowScreen(PlatformWindow* window, PlatformSurface* screen);
PlatformSurface* platformCreateSurface(PlatformSurface* compatibleWith);
void platformDeleteSurface(PlatformSurface* surface);
PlatformBitmap* platformCreateBitmap(PlatformSurface* compatibleWith, int32_t width,
                                     int32_t height);
// A BMP file at its own size; none when missing or unreadable, and then
// platformLoadFailure says why.
PlatformBitmap* platformLoadBitmap(const char* path);
// Returns the bitmap that was selected before (the surface's own empty one at first).
PlatformBitmap* platformSelectBitmap(PlatformSurface* surface, PlatformBitmap* bitmap);
void platformDeleteBitmap(PlatformBitmap* bitmap);
bool platformBitmapSize(PlatformBitmap* bitmap, int32_t* width, int32_t* height);

void platformFillRect(PlatformSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height,
                      uint32_t color);
void platformCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                  PlatformSurface* source, int32_t sourceX, int32_t sourceY);
// Copies leaving out the pixels of colour `key`.
void platformCopyKeyed(PlatformSurface* target, int32_t x, int32_t y, int32_t width, int32_t height,
                       PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                       int32_t sourceWidth, int32_t sourceHeight, uint32_t key);
// Smoothing (area-averaging) stretch, the only stretch mode the player uses.
void platformSetSmoothStretch(PlatformSurface* target);
void platformStretchCopy(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                         int32_t height, PlatformSurface* source, int32_t sourceX, int32_t sourceY,
                         int32_t sourceWidth, int32_t sourceHeight);
struct PlatformRect {
    int32_t x, y, width, height;
};
// The same stretch, for `part` of the target: there every pixel comes out as the whole
// stretch makes it. A backend may draw outside the part too, as the whole stretch makes it
// there (the desktop's own smoothing cannot draw a part exactly), so the target must hold
// the whole stretch outside the part already.
void platformStretchCopyPart(PlatformSurface* target, int32_t x, int32_t y, int32_t width,
                             int32_t height, PlatformSurface* source, int32_t sourceX,
                             int32_t sourceY, int32_t sourceWidth, int32_t sourceHeight,
                             const PlatformRect* part);

// The pixels the window shows, lent to be drawn into: a copy from this bitmap into the
// window's screen context at the same place only shows that rectangle, moving no pixels.
// None where the backend keeps no such pixels, or not laid out as its bitmaps are; the
// player then draws into bitmaps of its own and copies them to the screen. Ask again each
// frame: another bitmap than the last call's means the window's pixels were made anew
// (after a resize) and show nothing yet, and the old one must no longer be drawn into.
// A lent bitmap may be selected into a surface but is never deleted.
PlatformBitmap* platformWindowPixels(PlatformWindow* window);

// ---- why a load failed ----------------------------------------------------

// Why the last bitmap or sound load failed, in the way of stb's failure reason: each
// load that refuses a file records its reason, each that succeeds records None. For
// tools; the player's own messages never depend on it.
enum class LoadFailure : uint8_t {
    None,
    Missing,
    NotBmp,
    NotWave,
    UnsupportedCompression,
    TooLarge,
    Truncated,
    Unreadable,
};
LoadFailure platformLoadFailure();
void platformNoteLoadFailure(LoadFailure failure);

inline const char* loadFailureText(LoadFailure failure) {
    switch (failure) {
    case LoadFailure::None:
        return "loaded";
    case LoadFailure::Missing:
        return "missing";
    case LoadFailure::NotBmp:
        return "not a BMP file";
    case LoadFailure::NotWave:
        return "not a wave file";
    case LoadFailure::UnsupportedCompression:
        return "unsupported compression";
    case LoadFailure::TooLarge:
        return "too large";
    case LoadFailure::Truncated:
        return "truncated";
    case LoadFailure::Unreadable:
        break;
    }
    return "unreadable";
}

// ---- text for assistive technology ---------------------------------------

// The dialogue as text, called whenever it changes: `length` bytes, grown by new
// lines or emptied by a page turn. A backend that can hand text to a screen
// reader does; the others ignore it.
void platformDialogueText(const char* text, uint32_t length);

// ---- sound ---------------------------------------------------------------

// Starts a wave file and returns at once; a new call replaces the sound.
// A missing or unreadable file plays nothing; where the backend loads the file
// itself, platformLoadFailure says why.
void platformPlaySound(const char* path);

// ---- fatal report and process end ----------------------------------------

// Shows `text` under `caption` with an error icon and no owner, then ends the process.
[[noreturn]] void platformFatal(const char* caption, const char* text, int32_t exitCode);
[[noreturn]] void platformExitProcess(int32_t exitCode);

// ---- memory --------------------------------------------------------------

void* platformAllocate(size_t size, bool zeroFill);
// Keeps the contents; on failure returns none and the old block is untouched.
void* platformResize(void* block, size_t size, bool zeroFill);
void platformFree(void* block);

// Test hook: the `nth` allocation or resize from now (1 = the next) fails; 0 disarms.
void platformFailAllocation(uint32_t nth);
// Allocations and resizes made since start, for tests that forbid per-frame allocation.
uint64_t platformAllocationCount();
