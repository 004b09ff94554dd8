// A full page of dialogue: 1728 font cells (64 x 27 of 25 x 33) drawn into the
// 1600 x 900 canvas with the magenta key left out, beside the same cells copied
// without a key (row memmoves), a per-pixel keyed loop and a memcpy of the
// canvas. Compare medians:
//   bench_keyed_copy --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
#include "measure/soft_canvas.h"

#include "format/story_format.h"
#include "platform/soft/soft_surface.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {
// A font sheet whose glyphs are rings of varying size on magenta: like letters,
// a few opaque runs per row.
Canvas makeFontSheet() {
    Canvas sheet = makeCanvas(kFontSheetWidth, kFontSheetHeight);
    for (int32_t y = 0; y < kFontSheetHeight; ++y) {
        for (int32_t x = 0; x < kFontSheetWidth; ++x) {
            int32_t cell = (y / kGlyphHeight) * kGlyphsPerRow + x / kGlyphWidth;
            int32_t dx = x % kGlyphWidth - kGlyphWidth / 2,
                    dy = y % kGlyphHeight - kGlyphHeight / 2;
            int32_t outer = 60 + (cell * 7) % 60, inner = outer / 3;
            int32_t distance = dx * dx + dy * dy / 2;
            bool ink = distance <= outer && distance >= inner;
            sheet.bitmap->pixels[y * kFontSheetWidth + x] =
                ink ? 0x202020u + static_cast<uint32_t>(cell) : kTransparentColor;
        }
    }
    return sheet;
}

template <typename Draw> void drawPage(benchmark::State& state, Draw draw) {
    Canvas sheet = makeFontSheet();
    Canvas frame = makeCanvas(kCanvasWidth, kCanvasHeight);
    for (auto _ : state) {
        int32_t c = 0;
        for (int32_t y = 0; y <= kLastGlyphY; y += kGlyphHeight) {
            for (int32_t x = 0; x <= kLastGlyphX; x += kGlyphWidth, ++c) {
                auto glyph = static_cast<unsigned char>(kFirstGlyphByte +
                                                        c % (kLastTextByte - kFirstGlyphByte + 1));
                draw(frame, sheet, x, y, glyphCellX(glyph), glyphCellY(glyph));
            }
        }
        benchmark::DoNotOptimize(frame.bitmap->pixels[0]);
    }
    state.SetItemsProcessed(state.iterations() * kGlyphsPerLine * (kLastGlyphY / kGlyphHeight + 1));
    freeCanvas(sheet);
    freeCanvas(frame);
}

void BM_KeyedCopyPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        platformCopyKeyed(frame.surface, x, y, kGlyphWidth, kGlyphHeight, sheet.surface, sx, sy,
                          kGlyphWidth, kGlyphHeight, kTransparentColor);
    });
}

void BM_PlainCopyPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        platformCopy(frame.surface, x, y, kGlyphWidth, kGlyphHeight, sheet.surface, sx, sy);
    });
}

void BM_PerPixelKeyedPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        for (int32_t j = 0; j < kGlyphHeight; ++j) {
            const uint32_t* in = sheet.bitmap->pixels + (sy + j) * kFontSheetWidth + sx;
            uint32_t* out = frame.bitmap->pixels + (y + j) * kCanvasWidth + x;
            for (int32_t i = 0; i < kGlyphWidth; ++i) {
                if (in[i] != kTransparentColor) {
                    out[i] = in[i];
                }
            }
        }
    });
}

// The whole canvas by memcpy: the memory traffic a full page cannot avoid.
void BM_MemcpyCanvas(benchmark::State& state) {
    std::vector<uint32_t> from(kCanvasWidth * kCanvasHeight, 0x123456);
    std::vector<uint32_t> to(from.size());
    for (auto _ : state) {
        memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to[0]);
    }
}

BENCHMARK(BM_KeyedCopyPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCopyPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PerPixelKeyedPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyCanvas)->Unit(benchmark::kMicrosecond);
} // namespace
