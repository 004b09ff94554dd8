// The smoothing stretch's wasm loops against the SSE2 ones (compiled to wasm, each
// intrinsic as SSE2 defines it) and the portable ones, in the browser: all must give the
// same pixels, for enlargements and for reductions down to about a seventh, at widths
// that leave every count of outputs over from the steps. Prints one line beginning
// "stretch paths:"; run_web.py runs it.
#include "measure/soft_canvas.h"
#include "platform/soft/soft_stretch.h"
#include "platform/soft/soft_vector.h"

#include <cstdio>
#include <vector>

namespace {

struct Size {
    int32_t width, height;
};

const Size kSizes[] = {
    {800, 450},   {803, 451},  {640, 360},   {1280, 720}, {500, 281},  {1599, 899},
    {1920, 1080}, {1601, 901}, {2000, 1125}, {1600, 450}, {2400, 600}, {123, 1000},
    {100, 56},    {300, 169},  {229, 129},   {1600, 130}, {4, 4},
};

std::vector<uint32_t> stretched(const Canvas& source, int32_t width, int32_t height,
                                SoftStretchPath path) {
    softStretchPath = path;
    Canvas target = makeCanvas(width, height);
    platformSetSmoothStretch(target.surface);
    platformStretchCopy(target.surface, 0, 0, width, height, source.surface, 0, 0, 1600, 900);
    std::vector<uint32_t> pixels(target.bitmap->pixels,
                                 target.bitmap->pixels + static_cast<size_t>(width) * height);
    freeCanvas(target);
    return pixels;
}

// False, after saying where, when `other` differs from `fastest`.
bool same(const std::vector<uint32_t>& fastest, const std::vector<uint32_t>& other, int32_t width,
          int32_t height, const char* name) {
    for (size_t i = 0; i < fastest.size(); ++i) {
        if (fastest[i] != other[i]) {
            printf("stretch paths: to %dx%d the wasm loops give %06x at %d,%d, the %s ones "
                   "%06x\n",
                   width, height, fastest[i], static_cast<int>(i % width),
                   static_cast<int>(i / width), name, other[i]);
            return false;
        }
    }
    return true;
}

} // namespace

int main() {
    if (softWasmKernels() == nullptr) {
        printf("stretch paths: built without the wasm loops\n");
        return 1;
    }
    Canvas source = makeCanvas(1600, 900);
    int compared = 0;
    for (const Size& size : kSizes) {
        for (int32_t extra = 0; extra < 4; ++extra) {
            int32_t width = size.width + extra;
            std::vector<uint32_t> fastest =
                stretched(source, width, size.height, SoftStretchPath::Fastest);
            if (!same(fastest, stretched(source, width, size.height, SoftStretchPath::Sse2), width,
                      size.height, "SSE2") ||
                !same(fastest, stretched(source, width, size.height, SoftStretchPath::Portable),
                      width, size.height, "portable")) {
                return 1;
            }
            ++compared;
        }
    }
    printf("stretch paths: the wasm loops equal the SSE2 and the portable ones in %d "
           "stretches\n",
           compared);
    freeCanvas(source);
    return 0;
}
