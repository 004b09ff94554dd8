// Block reading through a large script, against a plain memchr scan of the same bytes.
// The counter x_memchr is the reader's speed as a share of the scan's, both timed in
// processor time in this process, which other work on the machine disturbs least.
#include "engine/engine.h"
#include "every_block.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

constexpr int32_t kBlocks = 200000;
constexpr size_t kScriptBytes = 64u << 20;

// 64 MiB in 200,000 blocks of commands, written once per process.
const std::string& bigScriptPath() {
    static std::string path;
    if (!path.empty()) {
        return path;
    }
    char name[] = "/tmp/bexu-bench-XXXXXX";
    int descriptor = mkstemp(name);
    path = name;
    std::string padding(kScriptBytes / kBlocks - 48, 'w');
    std::string block;
    FILE* file = fdopen(descriptor, "wb");
    for (int32_t number = 0; number < kBlocks; ++number) {
        block = "{" + std::to_string(number) + "\n  [say~" + padding + "]\n  [turn~page]\n}\n";
        fwrite(block.data(), 1, block.size(), file);
    }
    fclose(file);
    return path;
}

uint64_t fileSize(PlatformFile* file) {
    uint32_t size = 0;
    platformFileSize(file, &size);
    return size;
}

// The baseline: the same bytes read through the same file layer and scanned with memchr.
uint64_t memchrScan(PlatformFile* file) {
    static char chunk[64 * 1024];
    platformSeekFile(file, 0);
    uint32_t got = 0;
    uint64_t braces = 0;
    while (platformReadFile(file, chunk, sizeof chunk, &got) && got > 0) {
        for (const char* p = chunk;
             (p = static_cast<const char*>(memchr(p, '}', size_t(chunk + got - p)))) != nullptr;
             ++p) {
            ++braces;
        }
    }
    return braces;
}

double secondsPerScan(PlatformFile* file, int scans) {
    std::clock_t start = std::clock();
    for (int i = 0; i < scans; ++i) {
        benchmark::DoNotOptimize(memchrScan(file));
    }
    return double(std::clock() - start) / CLOCKS_PER_SEC / scans;
}

void BM_PlayThroughAllBlocks(benchmark::State& state) {
    PlatformFile* file = platformOpenFile(bigScriptPath().c_str());
    double baseline = secondsPerScan(file, 20);
    static ScriptPosition cursor;
    openCursor(&cursor, bigScriptPath().c_str(), false);
    std::clock_t start = std::clock();
    for (auto _ : state) {
        if (readEveryBlock(&cursor) != kBlocks) {
            state.SkipWithError("not every block was found");
        }
    }
    double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    state.counters["x_memchr"] = baseline / (seconds / double(state.iterations()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileSize(file)));
    closeCursor(&cursor);
    platformCloseFile(file);
}
BENCHMARK(BM_PlayThroughAllBlocks)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_MemchrScanOfTheSameBytes(benchmark::State& state) {
    PlatformFile* file = platformOpenFile(bigScriptPath().c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(memchrScan(file));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileSize(file)));
    platformCloseFile(file);
}
BENCHMARK(BM_MemchrScanOfTheSameBytes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A say appended to a dialogue of 1 MiB: amortised constant time, two allocations a call.
void BM_SayOnLargeDialogue(benchmark::State& state) {
    startCommandEffects(0);
    std::string line(1 << 20, 'd');
    appendDialogueLine(line.c_str());
    engineState.script.commands = extractItems("[say~Another line of dialogue.]", '[', ']');
    engineState.script.scriptState = ScriptState::Running;
    uint64_t allocationsBefore = platformAllocationCount();
    for (auto _ : state) {
        engineState.script.commandPointer = 0;
        stepScript();
    }
    double perCall =
        double(platformAllocationCount() - allocationsBefore) / double(state.iterations());
    state.counters["allocations_per_say"] = perCall;
    state.counters["dialogue_MiB"] = double(engineState.effects.dialogue.length) / (1 << 20);
    releaseScriptPosition();
    releaseCommandEffects();
}
BENCHMARK(BM_SayOnLargeDialogue);

} // namespace
