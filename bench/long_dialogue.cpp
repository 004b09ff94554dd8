// Drawing a dialogue that never turned its page: a full page on the canvas and many
// lines below it, against the full page alone (the baseline), timed side by side in
// this process. The counter x_full_page is the ratio of the two: what the lines
// nobody can see cost each time the canvas is rebuilt.
#include "engine/engine.h"
#include "render/render.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

namespace {

struct Canvas {
    PlatformSurface* frame;
    PlatformSurface* font;
};

// The canvas and a font sheet whose cells are opaque with a transparent band.
const Canvas& canvas() {
    static Canvas made = [] {
        Canvas c = {platformCreateSurface(nullptr), platformCreateSurface(nullptr)};
        platformSelectBitmap(c.frame, platformCreateBitmap(nullptr, kCanvasWidth, kCanvasHeight));
        platformSelectBitmap(c.font,
                             platformCreateBitmap(nullptr, kFontSheetWidth, kFontSheetHeight));
        platformFillRect(c.font, 0, 0, kFontSheetWidth, kFontSheetHeight, 0x00C0FF);
        for (int32_t y = 0; y < kFontSheetHeight; y += 3) {
            platformFillRect(c.font, 0, y, kFontSheetWidth, 1, kTransparentColor);
        }
        return c;
    }();
    return made;
}

std::string fullPage() {
    std::string page;
    for (int row = 0; row < 27; ++row) {
        page += std::string(64, char('A' + row % 26)) + "\n";
    }
    return page;
}

std::string pageAndHiddenLines(int64_t lines) {
    std::string text = fullPage();
    for (int64_t i = 0; i < lines; ++i) {
        text += "Line " + std::to_string(i) + "\n";
    }
    return text;
}

double secondsPerDraw(const std::string& text, int draws) {
    const Canvas& c = canvas();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < draws; ++i) {
        drawText(c.frame, c.font, 0, 0, text.c_str());
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / draws;
}

void BM_FullPage(benchmark::State& state) {
    const Canvas& c = canvas();
    std::string page = fullPage();
    for (auto _ : state) {
        drawText(c.frame, c.font, 0, 0, page.c_str());
    }
}

void BM_PageAndHiddenLines(benchmark::State& state) {
    const Canvas& c = canvas();
    std::string text = pageAndHiddenLines(state.range(0));
    double baseline = secondsPerDraw(fullPage(), 50);
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        drawText(c.frame, c.font, 0, 0, text.c_str());
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["x_full_page"] = seconds / double(state.iterations()) / baseline;
    state.counters["cursor_y"] = renderState.pen.textCursorY;
}

} // namespace

BENCHMARK(BM_FullPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageAndHiddenLines)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
