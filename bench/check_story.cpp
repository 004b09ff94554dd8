// The checker over a 1.7 MB script, against the player's own reading of every block
// of the same file: what checking costs over playing through the script once.
#include "check/story_check.h"
#include "engine/engine.h"
#include "every_block.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int32_t kBlocks = 1300;

// A story folder holding a script of 1,300 blocks of dialogue, stammers, waits and
// page turns (about 1.7 MB), written once per process.
const std::string& storyFolder() {
    static std::string folder;
    if (!folder.empty()) {
        return folder;
    }
    char name[] = "/tmp/bexu-bench-check-XXXXXX";
    folder = mkdtemp(name);
    atexit([] {
        remove((storyFolder() + "/script.bexu").c_str());
        rmdir(storyFolder().c_str());
    });
    FILE* file = fopen((folder + "/script.bexu").c_str(), "wb");
    std::string line(50, 'w');
    for (int32_t number = 0; number < kBlocks; ++number) {
        std::string block = "{" + std::to_string(number) + "\n";
        for (int i = 0; i < 20; ++i) {
            block += "  [say~" + line + " " + std::to_string(i) + ".]\n";
        }
        block += "  [stutter3~I/I don't k/know.][wait~300]\n  [turn~page]\n}\n";
        fwrite(block.data(), 1, block.size(), file);
    }
    fclose(file);
    return folder;
}

void BM_CheckStory(benchmark::State& state) {
    const std::string& folder = storyFolder();
    for (auto _ : state) {
        CheckReport report = checkStory(folder);
        if (report.blocks != uint32_t(kBlocks)) {
            state.SkipWithError("not every block was checked");
        }
        benchmark::DoNotOptimize(report.diagnostics.size());
    }
}
BENCHMARK(BM_CheckStory)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_PlayerReadsEveryBlock(benchmark::State& state) {
    static ScriptPosition cursor;
    openCursor(&cursor, (storyFolder() + "/script.bexu").c_str(), false);
    for (auto _ : state) {
        if (readEveryBlock(&cursor) != kBlocks) {
            state.SkipWithError("not every block was found");
        }
    }
    closeCursor(&cursor);
}
BENCHMARK(BM_PlayerReadsEveryBlock)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
