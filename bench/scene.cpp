// bexu-scene on a 4000 x 3000 JPEG photograph, filled into the canvas: in the process
// (decode, scale, encode), as the program, and ImageMagick's convert doing the same
// fill as the README's alternative line, run side by side.
#include "common/bmp_writer.h"
#include "format/story_format.h"
#include "scene/picture_file.h"
#include "scene/scene_encode.h"
#include "scene/scene_layout.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace {

void appendBytes(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

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
    const int width = 4000, height = 3000;
    std::vector<uint8_t> pixels(size_t(width) * height * 3);
    std::mt19937 random(3000);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double ring = std::sin(std::hypot(x - 1800.0, y - 1400.0) / 40.0);
            uint8_t* p = &pixels[(size_t(y) * width + x) * 3];
            int grain = int(random() % 17) - 8;
            p[0] = uint8_t(std::clamp(int(x * 200 / width + 30 * ring) + grain, 0, 255));
            p[1] = uint8_t(std::clamp(int(y * 180 / height + 40) + grain, 0, 255));
            p[2] = uint8_t(std::clamp(int(120 + 90 * ring) + grain, 0, 255));
        }
    }
    std::string jpeg;
    stbi_write_jpg_to_func(appendBytes, &jpeg, width, height, 3, pixels.data(), 90);
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

// The README's ImageMagick line for a fill.
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
