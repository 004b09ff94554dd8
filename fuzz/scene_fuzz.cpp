// bexu-scene on any bytes: what libpng, libjpeg-turbo or the player's BMP decoder
// decodes is flattened, filled or fitted into the canvas and encoded, RLE8 or 24-bit,
// and the BMP it makes must load in the player's own decoder as exactly those pixels. What does not
// decode must be refused with a reason. Pictures above a quarter megapixel are left out before
// decoding, to keep the runs fast; the refusal of larger ones is a table test.
#include "scene/picture_file.h"
#include "scene/scene_encode.h"
#include "scene/scene_layout.h"

#include "format/story_format.h"
#include "platform/soft/soft_surface.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kLargestFuzzedPixels = 1 << 18;

void require(bool condition) {
    if (!condition) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int32_t width = 0, height = 0;
    const char* format = nullptr;
    if (size < 16 || !pictureSize(data, size, &width, &height, &format) ||
        int64_t{width} * height > kLargestFuzzedPixels) {
        return 0;
    }
    uint32_t background = data[size - 1] * 0x010101u;
    SceneFit fit = data[size - 2] % 2 == 0 ? SceneFit::Fill : SceneFit::Fit;
    Picture picture;
    std::string error;
    if (!decodePicture(data, size, "fuzz", fit, background, &picture, &error)) {
        require(!error.empty());
        return 0;
    }
    require(picture.fileWidth == width && picture.fileHeight == height);
    require(picture.width <= width && picture.height <= height);
    // The canvas's 1.44 million pixels cost far more than the decoding: one input in four
    // goes on to the scene, chosen by a byte the decoders mostly pass over.
    if (data[size - 3] % 4 != 0) {
        releasePicture(&picture);
        return 0;
    }
    std::vector<uint32_t> canvas;
    require(composeScene(pictureView(picture), fit, background, &canvas));
    releasePicture(&picture);
    SceneFile file = encodeScene(canvas, kCanvasWidth, kCanvasHeight);
    PlatformBitmap* loaded = softDecodeBmp(file.bytes.data(), file.bytes.size());
    require(loaded != nullptr && loaded->width == kCanvasWidth && loaded->height == kCanvasHeight);
    require(memcmp(loaded->pixels, canvas.data(), canvas.size() * 4) == 0);
    platformDeleteBitmap(loaded);
    return 0;
}
