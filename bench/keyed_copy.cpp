// A full page of dialogue: 1728 font cells (64 x 27 of 25 x 33) drawn into the
// 1600 x 900 canvas with the magenta key left out, beside the same cells copied
// without a key (row memmoves), a per-pixel keyed loop and a memcpy of the
// canvas. Compare medians:
//   bench_keyed_copy --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
#include "measure/soft_canvas.h"

#include "platform/soft/soft_surface.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {
// A font sheet whose glyphs are rings of varying size on magenta: like letters,
// a few opaque runs per row.
Canvas makeFontSheet() {
    Canvas sheet = makeCanvas(400, 198);
    for (int32_t y = 0; y < 198; ++y) {
        for (int32_t x = 0; x < 400; ++x) {
            int32_t cell = (y / 33) * 16 + x / 25;
            int32_t dx = x % 25 - 12, dy = y % 33 - 16;
            int32_t outer = 60 + (cell * 7) % 60, inner = outer / 3;
            int32_t distance = dx * dx + dy * dy / 2;
            bool ink = distance <= outer && distance >= inner;
            sheet.bitmap->pixels[y * 400 + x] =
                ink ? 0x202020u + static_cast<uint32_t>(cell) : 0xFF00FF;
        }
    }
    return sheet;
}

template <typename Draw> void drawPage(benchmark::State& state, Draw draw) {
    Canvas sheet = makeFontSheet();
    Canvas frame = makeCanvas(1600, 900);
    for (auto _ : state) {
        int32_t c = 0;
        for (int32_t y = 0; y + 33 <= 900; y += 33) {
            for (int32_t x = 0; x + 25 <= 1600; x += 25, ++c) {
                int32_t glyph = c % 91; // bytes 32 to 122
                draw(frame, sheet, x, y, (glyph % 16) * 25, (glyph / 16) * 33);
            }
        }
        benchmark::DoNotOptimize(frame.bitmap->pixels[0]);
    }
    state.SetItemsProcessed(state.iterations() * 1728);
    freeCanvas(sheet);
    freeCanvas(frame);
}

void BM_KeyedCopyPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        platformCopyKeyed(frame.surface, x, y, 25, 33, sheet.surface, sx, sy, 25, 33,
                          kColorMagenta);
    });
}

void BM_PlainCopyPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        platformCopy(frame.surface, x, y, 25, 33, sheet.surface, sx, sy);
    });
}

void BM_PerPixelKeyedPage(benchmark::State& state) {
    drawPage(state, [](Canvas& frame, Canvas& sheet, int32_t x, int32_t y, int32_t sx, int32_t sy) {
        for (int32_t j = 0; j < 33; ++j) {
            const uint32_t* in = sheet.bitmap->pixels + (sy + j) * 400 + sx;
            uint32_t* out = frame.bitmap->pixels + (y + j) * 1600 + x;
            for (int32_t i = 0; i < 25; ++i) {
                if (in[i] != 0xFF00FF) {
                    out[i] = in[i];
                }
            }
        }
    });
}

// The whole canvas by memcpy: the memory traffic a full page cannot avoid.
void BM_MemcpyCanvas(benchmark::State& state) {
    std::vector<uint32_t> from(1600 * 900, 0x123456), to(1600 * 900);
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
