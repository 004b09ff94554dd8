// Times the Windows player's frames in a 1920 x 1080 window, under the desktop's own smoothing
// stretch: a line added, a marker change and a frame built in full, through composeFrame as
// the player runs it; then the ways a part of the window can be shown anew after a change
// of some canvas rows, on the player's own canvas and back buffer, each checked against the
// whole stretch. Run it in a story folder whose script waits at its first line
// (instruments/measure/measure_present.py makes one and runs this program under Wine). Prints one
// line per figure: "<name>: median <ms> ms, best <ms> ms of <runs>[, exact|differs ...]".
// It reaches into the backend's drawing contexts: a measuring program of the win32 build.
#include "app/app.h"
#include "engine/engine.h"
#include "platform/win32/win32.h"
#include "render/render.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRuns = 40;
// The line added stands below 13 full rows: canvas rows 429 to 462. At 1920 x 1080 the
// canvas is scaled by 1.2 exactly, so the window rows that read them, with the smoothing's
// reach, are these.
constexpr int kBandTop = 429 * 6 / 5 - 3;
constexpr int kBandBottom = 462 * 6 / 5 + 3;

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void drainMessages() {
    PlatformMessage message;
    while (platformPeekMessage(&message)) {
        platformDispatchMessage(&message);
    }
}

// Times `work` kRuns times after `prepare` (untimed) each time; prints the median and best.
void timeIt(const char* name, const std::function<void()>& prepare,
            const std::function<void()>& work, const std::string& note = "") {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        prepare();
        GdiFlush();
        auto start = std::chrono::steady_clock::now();
        work();
        GdiFlush();
        times.push_back(millisecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    printf("%s: median %.3f ms, best %.3f ms of %d%s\n", name, times[times.size() / 2], times[0],
           kRuns, note.c_str());
    fflush(stdout);
}

bool sizeClientArea(HWND window) {
    RECT outer = {0, 0, kWidth, kHeight};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOMOVE);
    for (int wait = 0; wait < 100; ++wait) {
        drainMessages();
        RECT client;
        GetClientRect(window, &client);
        if (client.right == kWidth && client.bottom == kHeight) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

// The player's own frames: the code of this build.
void timeFrames() {
    const std::string rows(13 * kGlyphsPerLine - 1, 'W');
    const std::string line(40, 'a');
    timeIt(
        "frame: line added",
        [&] {
            clearDialogue();
            appendDialogueLine(rows.c_str());
            composeFrame();
        },
        [&] {
            appendDialogueLine(line.c_str());
            composeFrame();
        });
    timeIt(
        "frame: built in full", [] {},
        [] {
            ++engineState.effects.sceneGeneration;
            composeFrame();
        });
    // What most of a new line costs where the keyed copy is slow.
    timeIt(
        "frame: one glyph drawn onto the canvas", [] {},
        [] {
            drawGlyph(renderState.presentation.frameSurface, renderState.presentation.fontSurface,
                      0, 0, 'W');
        });
    // The marker's frame moves on when its interval has passed since the last change.
    timeIt(
        "frame: marker change", [] { Sleep(kMarkerInterval + 20); }, [] { composeFrame(); });
}

// A device-independent copy of the back buffer's band, to compare the ways with the whole
// stretch.
struct BandCopy {
    HDC context;
    HBITMAP bitmap;
    uint32_t* pixels;
};

BandCopy makeBandCopy(HDC like) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -(kBandBottom - kBandTop);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    BandCopy copy = {CreateCompatibleDC(like), nullptr, nullptr};
    void* bits = nullptr;
    copy.bitmap = CreateDIBSection(like, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    copy.pixels = static_cast<uint32_t*>(bits);
    SelectObject(copy.context, copy.bitmap);
    return copy;
}

std::vector<uint32_t> readBand(const BandCopy& copy, HDC back) {
    BitBlt(copy.context, 0, 0, kWidth, kBandBottom - kBandTop, back, 0, kBandTop, SRCCOPY);
    GdiFlush();
    return std::vector<uint32_t>(copy.pixels, copy.pixels + kWidth * (kBandBottom - kBandTop));
}

std::string exactness(const std::vector<uint32_t>& got, const std::vector<uint32_t>& whole) {
    int rows = 0;
    for (int y = 0; y < kBandBottom - kBandTop; ++y) {
        if (memcmp(&got[y * kWidth], &whole[y * kWidth], kWidth * sizeof(uint32_t)) != 0) {
            ++rows;
        }
    }
    return rows == 0 ? ", exact" : ", differs in " + std::to_string(rows) + " rows";
}

// The ways to show the band anew, on the player's canvas and back buffer.
void timeWays() {
    Presentation& presentation = renderState.presentation;
    HDC canvas = contextHandle(presentation.frameSurface);
    HDC back = contextHandle(presentation.windowSurface);
    HDC screen = contextHandle(presentation.screen);
    SetStretchBltMode(back, HALFTONE);
    auto stretchWhole = [&](HDC target, int top) {
        StretchBlt(target, 0, -top, kWidth, kHeight, canvas, 0, 0, kCanvasWidth, kCanvasHeight,
                   SRCCOPY);
    };
    auto showBand = [&] {
        BitBlt(screen, 0, kBandTop, kWidth, kBandBottom - kBandTop, back, 0, kBandTop, SRCCOPY);
    };
    BandCopy copy = makeBandCopy(back);
    stretchWhole(back, 0);
    std::vector<uint32_t> whole = readBand(copy, back);
    auto spoil = [&] { PatBlt(back, 0, kBandTop, kWidth, kBandBottom - kBandTop, BLACKNESS); };

    auto clippedPart = [&] {
        IntersectClipRect(back, 0, kBandTop, kWidth, kBandBottom);
        stretchWhole(back, 0);
        SelectClipRgn(back, nullptr);
        showBand();
    };
    clippedPart();
    timeIt("way: the stretch clipped to the band (before)", spoil, clippedPart,
           exactness(readBand(copy, back), whole));

    for (int margin : {4, 16, 64}) {
        int top = kBandTop - margin;
        int rows = kBandBottom - kBandTop + 2 * margin;
        HDC memory = CreateCompatibleDC(back);
        HBITMAP bitmap = CreateCompatibleBitmap(back, kWidth, rows);
        SelectObject(memory, bitmap);
        SetStretchBltMode(memory, HALFTONE);
        auto marginBand = [&] {
            stretchWhole(memory, top);
            BitBlt(back, 0, kBandTop, kWidth, kBandBottom - kBandTop, memory, 0, margin, SRCCOPY);
            showBand();
        };
        spoil();
        marginBand();
        std::string name =
            "way: a band with " + std::to_string(margin) + " rows more each side, inner rows kept";
        timeIt(name.c_str(), spoil, marginBand, exactness(readBand(copy, back), whole));
        DeleteDC(memory);
        DeleteObject(bitmap);
    }

    auto wholeBand = [&] {
        stretchWhole(back, 0);
        showBand();
    };
    spoil();
    wholeBand();
    timeIt("way: the whole stretch, the band shown", spoil, wholeBand,
           exactness(readBand(copy, back), whole));
    auto wholeWindow = [&] {
        stretchWhole(back, 0);
        BitBlt(screen, 0, 0, kWidth, kHeight, back, 0, 0, SRCCOPY);
    };
    spoil();
    wholeWindow();
    timeIt("way: the whole stretch, the whole window shown", spoil, wholeWindow,
           exactness(readBand(copy, back), whole));
    DeleteDC(copy.context);
    DeleteObject(copy.bitmap);
}

} // namespace

int main() {
    startUp();
    if (!sizeClientArea(windowHandle(renderState.presentation.window))) {
        printf("the client area did not become %d x %d\n", kWidth, kHeight);
        return 1;
    }
    while (!engineState.effects.awaitingKey && loadNextBlock()) {
        while (engineState.script.scriptState == ScriptState::Running &&
               !engineState.effects.awaitingKey) {
            stepScript();
        }
    }
    drainMessages();
    composeFrame();
    timeFrames();
    timeWays();
    return 0;
}
