// bexu-scene on a 4000 x 3000 JPEG photograph, filled into the canvas: in the process
// (decode, scale, encode), as the program, and ImageMagick's convert doing the same
// fill as the authoring guide's alternative line (docs/authoring.md), run side by side.
#include "common/bmp_writer.h"
#include "format/story_format.h"
#include "scene/picture_file.h"
#include "scene/scene_encode.h"
#include "scene/scene_layout.h"

#include "picture_encode.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// Soft gradients and rings under fine grain, as a photograph has: about 3 MB at
// quality 90, written once per process.
const std::string& photoFolder() {
    static std::string folder;
    if (!folder.empty()) {
        return folder;
    }
    char name[] = "/tmp/bexu-bench-scene-XXXXXX";
    folder = mkdtemp(name);
    atexit([] {
        for (const char* file : {"/photo.jpg", "/scene.bmp", "/convert.bmp"}) {
            remove((photoFolder() + file).c_str());
        }
        rmdir(photoFolder().c_str());
    });
    RgbaPicture photo = blankPicture(4000, 3000);
    std::mt19937 random(3000);
    for (int y = 0; y < photo.height; ++y) {
        for (int x = 0; x < photo.width; ++x) {
            double ring = std::sin(std::hypot(x - 1800.0, y - 1400.0) / 40.0);
            int grain = int(random() % 17) - 8;
            auto channel = [&](int value) { return uint32_t(std::clamp(value + grain, 0, 255)); };
            photo.set(x, y,
                      channel(int(x * 200 / photo.width + 30 * ring)) << 16 |
                          channel(int(y * 180 / photo.height + 40)) << 8 |
                          channel(int(120 + 90 * ring)));
        }
    }
    std::string jpeg = jpegBytes(photo, 90);
    FILE* file = fopen((folder + "/photo.jpg").c_str(), "wb");
    fwrite(jpeg.data(), 1, jpeg.size(), file);
    fclose(file);
    return folder;
}

void BM_SceneInProcess(benchmark::State& state) {
    std::string photo = photoFolder() + "/photo.jpg";
    std::string out = photoFolder() + "/scene.bmp";
    for (auto _ : state) {
        Picture picture;
        std::string error;
        std::vector<uint32_t> canvas;
        if (!readPicture(photo, SceneFit::Fill, 0, &picture, &error) ||
            !composeScene(pictureView(picture), SceneFit::Fill, 0, &canvas)) {
            state.SkipWithError("the photograph does not make a scene");
            break;
        }
        releasePicture(&picture);
        SceneFile file = encodeScene(canvas, kCanvasWidth, kCanvasHeight);
        writeFileAtomically(out, file.bytes);
    }
}
BENCHMARK(BM_SceneInProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void runProgram(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        if (system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            break;
        }
    }
}

void BM_SceneProgram(benchmark::State& state) {
    runProgram(state, std::string(BEXU_SCENE_PROGRAM) + " " + photoFolder() + "/photo.jpg -o " +
                          photoFolder() + "/scene.bmp >/dev/null");
}
BENCHMARK(BM_SceneProgram)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The authoring guide's ImageMagick line for a fill (docs/authoring.md).
void BM_ImageMagickFill(benchmark::State& state) {
    if (system("command -v convert >/dev/null") != 0) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    runProgram(state, "convert " + photoFolder() +
                          "/photo.jpg -resize 1600x900^ -gravity center -extent 1600x900 -type "
                          "TrueColor BMP3:" +
                          photoFolder() + "/convert.bmp");
}
BENCHMARK(BM_ImageMagickFill)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace
