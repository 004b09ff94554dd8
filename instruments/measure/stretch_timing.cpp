// Times the smoothing stretch of the 1600 x 900 canvas into a 1920 x 1080 window, the
// work of a changed frame, with each inner-loop path the build has. The same source
// runs natively (headless backend) and in the browser (web backend), so the figures
// of the two compare directly. Prints one line per path.
#include "measure/soft_canvas.h"
#include "platform/soft/soft_stretch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 60;
// Untimed runs first: in the browser the first calls run in the baseline compiler,
// before the optimised code takes over.
constexpr int kWarmUps = 10;

// The median and the best of the runs; the best is the least disturbed by a busy machine.
void timeStretches(const Canvas& source, const Canvas& target, int32_t width, int32_t height,
                   double* median, double* best) {
    for (int run = 0; run < kWarmUps; ++run) {
        platformStretchCopy(target.surface, 0, 0, width, height, source.surface, 0, 0, 1600, 900);
    }
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        auto start = std::chrono::steady_clock::now();
        platformStretchCopy(target.surface, 0, 0, width, height, source.surface, 0, 0, 1600, 900);
        std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        times.push_back(spent.count());
    }
    std::sort(times.begin(), times.end());
    *median = times[times.size() / 2];
    *best = times[0];
}

} // namespace

int main() {
    const int32_t width = 1920;
    const int32_t height = 1080;
    Canvas source = makeCanvas(1600, 900);
    Canvas target = makeCanvas(width, height);
    platformSetSmoothStretch(target.surface);
    const struct {
        const char* name;
        SoftStretchPath path;
    } paths[] = {{"fastest", SoftStretchPath::Fastest},
                 {"sse2", SoftStretchPath::Sse2},
                 {"portable", SoftStretchPath::Portable}};
    for (const auto& path : paths) {
        softStretchPath = path.path;
        double median = 0;
        double best = 0;
        timeStretches(source, target, width, height, &median, &best);
        printf("stretch 1600x900 to %dx%d, %s path: median %.3f ms, best %.3f ms of %d\n", width,
               height, path.name, median, best, kRuns);
    }
    fflush(stdout);
    freeCanvas(source);
    freeCanvas(target);
    return 0;
}
