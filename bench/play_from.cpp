// Play from the last key wait of a script of 10,000 lines: the run ahead against its
// baseline, the same play read through by the main loop with Space at every wait, frames
// and all, as the reader (or bexu-shot) reaches that page today.
#include "app/play_from.h"
#include "app/app.h"
#include "platform/headless/headless.h"
#include "support/test_files.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

constexpr int kLines = 10000;
constexpr int kLinesPerPage = 20;

// 10,000 lines: pages of 20 lines, a stammer in every page, a scene every 50 pages and a
// short wait every 10.
const std::string& storyFolder() {
    static std::string folder;
    if (!folder.empty()) {
        return folder;
    }
    std::string script = "{0\n";
    int block = 0;
    for (int line = 0; line < kLines; ++line) {
        int onPage = line % kLinesPerPage;
        int page = line / kLinesPerPage;
        if (onPage == 0 && page % 50 == 0) {
            script += page % 100 == 0 ? "[cg~a.bmp]\n" : "[cg~b.bmp]\n";
        }
        if (onPage == 5) {
            script +=
                "[stutter3~And s/so the g/gulls c/came b/back, " + std::to_string(line) + ".]\n";
        } else if (onPage == kLinesPerPage - 1) {
            script += "[turn~page]\n";
            if (page % 10 == 9) {
                script += "[wait~100]\n";
            }
            script += "}\n{" + std::to_string(++block) + "\n";
        } else {
            script += "[say~Line " + std::to_string(line) + " of the long story, on page " +
                      std::to_string(page) + ".]\n";
        }
    }
    script += "[say~The end.]\n}\n";
    folder = makeStoryFolder(script);
    writeFile(folder + "/a.bmp", encodeBmp24(solidImage(kCanvasWidth, kCanvasHeight, 0x203040)));
    writeFile(folder + "/b.bmp", encodeBmp24(solidImage(kCanvasWidth, kCanvasHeight, 0x402030)));
    return folder;
}

// Key waits in the story: every line but the page turns, and the last one.
uint32_t lastPage() {
    return kLines / kLinesPerPage * (kLinesPerPage - 1) + 1;
}

void startPlayer() {
    if (chdir(storyFolder().c_str()) != 0) {
        return;
    }
    releaseRun();
    headlessReset(100000);
    headlessSetClientSize(kCanvasWidth, kCanvasHeight);
    keepPlayPlaces();
    startUp();
}

void BM_RunAheadToTheLastWait(benchmark::State& state) {
    for (auto _ : state) {
        startPlayer();
        PlayStartReport report;
        if (!runAheadTo(PlayStart{0, 0, lastPage()}, &report)) {
            state.SkipWithError("the last wait was not reached");
        }
        releaseRun();
    }
}
BENCHMARK(BM_RunAheadToTheLastWait)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The baseline: the main loop draws every frame, and Space comes at the first frame of
// every wait, until the last wait shows.
uint32_t keyWaitsSeen = 0;
KeyWaitWatch watch;
void pressSpaceAtEachWait() {
    if (keyWaitBegan(&watch)) {
        ++keyWaitsSeen;
        headlessSchedule(HeadlessEvent{platformTickCount() + 2 * kFramePause,
                                       HeadlessEventKind::Key, uint32_t(kVirtualKeySpace), 0, 0});
    }
    if (keyWaitsSeen == lastPage()) {
        headlessSchedule(HeadlessEvent{platformTickCount(), HeadlessEventKind::Close, 0, 0, 0});
    }
}

void BM_ReadThroughToTheLastWait(benchmark::State& state) {
    for (auto _ : state) {
        keyWaitsSeen = 0;
        watch = KeyWaitWatch{};
        startPlayer();
        headlessSetFrameHook(pressSpaceAtEachWait);
        runMainLoop();
        headlessSetFrameHook(nullptr);
        if (keyWaitsSeen != lastPage()) {
            state.SkipWithError("the last wait was not reached");
        }
        releaseRun();
    }
}
BENCHMARK(BM_ReadThroughToTheLastWait)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
