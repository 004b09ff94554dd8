// The smoothing stretch of the 1600 x 900 canvas to common window sizes, beside
// pixman's bilinear scaling and a memcpy of the target frame (the floor for any
// pass that writes every pixel). Compare medians:
//   bench_stretch --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
#include "format/story_format.h"
#include "measure/soft_canvas.h"
#include "platform/soft/soft_stretch.h"

#include "platform/soft/soft_surface.h"

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <vector>

namespace {

void setSize(benchmark::State& state, int32_t* width, int32_t* height) {
    *width = static_cast<int32_t>(state.range(0));
    *height = static_cast<int32_t>(state.range(1));
    state.SetLabel(std::to_string(*width) + "x" + std::to_string(*height));
}

void stretchWith(benchmark::State& state, SoftStretchPath path) {
    int32_t width, height;
    setSize(state, &width, &height);
    Canvas source = makeCanvas(kCanvasWidth, kCanvasHeight);
    Canvas target = makeCanvas(width, height);
    platformSetSmoothStretch(target.surface);
    softStretchPath = path;
    for (auto _ : state) {
        platformStretchCopy(target.surface, 0, 0, width, height, source.surface, 0, 0, kCanvasWidth,
                            kCanvasHeight);
        benchmark::DoNotOptimize(target.bitmap->pixels[0]);
    }
    softStretchPath = SoftStretchPath::Fastest;
    freeCanvas(source);
    freeCanvas(target);
}

void BM_SmoothStretch(benchmark::State& state) {
    stretchWith(state, SoftStretchPath::Fastest);
}

void BM_SmoothStretchSse2(benchmark::State& state) {
    stretchWith(state, SoftStretchPath::Sse2);
}

void BM_SmoothStretchPortable(benchmark::State& state) {
    stretchWith(state, SoftStretchPath::Portable);
}

void BM_PixmanBilinear(benchmark::State& state) {
    int32_t width, height;
    setSize(state, &width, &height);
    Canvas source = makeCanvas(kCanvasWidth, kCanvasHeight);
    Canvas target = makeCanvas(width, height);
    pixman_image_t* from = pixman_image_create_bits(PIXMAN_x8r8g8b8, kCanvasWidth, kCanvasHeight,
                                                    source.bitmap->pixels, kCanvasWidth * 4);
    pixman_image_t* to =
        pixman_image_create_bits(PIXMAN_x8r8g8b8, width, height, target.bitmap->pixels, width * 4);
    pixman_transform_t transform;
    pixman_transform_init_scale(
        &transform, pixman_double_to_fixed(static_cast<double>(kCanvasWidth) / width),
        pixman_double_to_fixed(static_cast<double>(kCanvasHeight) / height));
    pixman_image_set_transform(from, &transform);
    pixman_image_set_filter(from, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, width, height);
        benchmark::DoNotOptimize(target.bitmap->pixels[0]);
    }
    pixman_image_unref(from);
    pixman_image_unref(to);
    freeCanvas(source);
    freeCanvas(target);
}

// Copying a frame of the target's size: what writing every target pixel costs at least.
void BM_MemcpyFrame(benchmark::State& state) {
    int32_t width, height;
    setSize(state, &width, &height);
    std::vector<uint32_t> from(static_cast<size_t>(width) * height, 0x123456);
    std::vector<uint32_t> to(from.size());
    for (auto _ : state) {
        memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to[0]);
    }
}

void sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({1920, 1080})
        ->Args({3840, 2160})
        ->Args({1280, 720})
        ->Args({800, 450})
        ->Args({803, 451})
        ->Args({640, 360})
        ->Args({500, 281})
        ->Args({1600, 900})
        ->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_SmoothStretch)->Apply(sizes);
BENCHMARK(BM_PixmanBilinear)->Apply(sizes);
BENCHMARK(BM_MemcpyFrame)->Apply(sizes);
BENCHMARK(BM_SmoothStretchSse2)->Apply(sizes);
BENCHMARK(BM_SmoothStretchPortable)->Apply(sizes);
} // namespace
