// One frame at several window sizes, unchanged, with a marker change, with a line added and
// rebuilt in full, with a full page of dialogue and the marker, against a memcpy of a frame of
// the window's size.
#include "app/app.h"
#include "engine/engine.h"
#include "platform/headless/headless.h"
#include "render/render.h"
#include "support/test_files.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

// Starts the player on a story whose first line fills the canvas, and runs it to that key wait.
void startFullPage(int32_t width, int32_t height) {
    static std::string folder;
    if (folder.empty()) {
        std::string page;
        for (int row = 0; row < 27; ++row) {
            page += std::string(64, char('A' + row % 26));
        }
        page.pop_back(); // the marker stands in the last cell of the page, not below it
        folder = makeStoryFolder("{0[cg~scene.bmp][say~" + page + "][turn~page]}");
        TestImage scene = solidImage(kCanvasWidth, kCanvasHeight, 0);
        for (size_t i = 0; i < scene.pixels.size(); ++i) {
            scene.pixels[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
        }
        writeFile(folder + "/scene.bmp", encodeBmp24(scene));
        // The demo's font: real glyphs, with the opaque runs real text has.
        writeFile(folder + "/font.bmp", readFile(BEXU_SOURCE_DIR "/examples/demo/font.bmp"));
    }
    if (chdir(folder.c_str()) != 0) {
        return;
    }
    releaseRun();
    headlessReset(100000);
    headlessSetClientSize(width, height);
    startUp();
    while (!engineState.effects.awaitingKey && loadNextBlock()) {
        while (engineState.script.scriptState == ScriptState::Running &&
               !engineState.effects.awaitingKey) {
            stepScript();
        }
    }
}

void BM_ComposeFrame(benchmark::State& state) {
    auto width = int32_t(state.range(0));
    auto height = int32_t(state.range(1));
    startFullPage(width, height);
    composeFrame(); // the first frame makes the back buffer and tiles it
    uint64_t allocations = platformAllocationCount();
    for (auto _ : state) {
        composeFrame();
    }
    state.counters["allocations"] = double(platformAllocationCount() - allocations);
}

// Every frame shows the next marker glyph: its cell is redrawn, stretched and shown.
void BM_ComposeMarkerChange(benchmark::State& state) {
    startFullPage(int32_t(state.range(0)), int32_t(state.range(1)));
    composeFrame();
    uint64_t allocations = platformAllocationCount();
    uint32_t presents = headlessPresentCount();
    for (auto _ : state) {
        headlessSetTick(platformTickCount() + kMarkerInterval + 1);
        composeFrame();
    }
    state.counters["allocations"] = double(platformAllocationCount() - allocations);
    state.counters["presents"] = benchmark::Counter(double(headlessPresentCount() - presents),
                                                    benchmark::Counter::kAvgIterations);
}

// Every frame built in full, as when a scene comes, and as every new line and marker change
// was.
void BM_ComposeChangedFrame(benchmark::State& state) {
    startFullPage(int32_t(state.range(0)), int32_t(state.range(1)));
    composeFrame();
    for (auto _ : state) {
        ++engineState.effects.sceneGeneration;
        composeFrame();
    }
}

// A line added below 13 rows of dialogue, its marker after it: only the rows that changed
// are drawn, stretched and shown.
void BM_ComposeAddedLine(benchmark::State& state) {
    startFullPage(int32_t(state.range(0)), int32_t(state.range(1)));
    const std::string rows(13 * 64 - 1, 'W');
    const std::string line(40, 'a');
    for (auto _ : state) {
        state.PauseTiming();
        clearDialogue();
        appendDialogueLine(rows.c_str());
        composeFrame();
        state.ResumeTiming();
        appendDialogueLine(line.c_str());
        composeFrame();
    }
}

void BM_MemcpyOfAFrame(benchmark::State& state) {
    size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
}

#define WINDOW_SIZES Args({1600, 900})->Args({1920, 1080})->Args({3840, 2160})->Args({1280, 720})
BENCHMARK(BM_ComposeFrame)->WINDOW_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeMarkerChange)->WINDOW_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ComposeChangedFrame)->WINDOW_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeAddedLine)->WINDOW_SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyOfAFrame)->WINDOW_SIZES->Unit(benchmark::kMillisecond);

} // namespace
