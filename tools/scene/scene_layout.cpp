#include "scene/scene_layout.h"

#include "format/story_format.h"
#include "platform/soft/soft_stretch.h"

#include <algorithm>

namespace {

// `length` × numerator / denominator, rounded, kept within 1 .. limit.
int32_t scaled(int64_t length, int64_t numerator, int64_t denominator, int32_t limit) {
    int64_t value = (length * numerator + denominator / 2) / denominator;
    return static_cast<int32_t>(std::clamp<int64_t>(value, 1, limit));
}

} // namespace

ScenePlacement placeScene(int32_t width, int32_t height, SceneFit fit) {
    ScenePlacement place = {0, 0, kCanvasWidth, kCanvasHeight, 0, 0, width, height};
    // Whether the picture is wider than the canvas for its height: W/H > CW/CH.
    bool wider = int64_t{width} * kCanvasHeight > int64_t{height} * kCanvasWidth;
    if (fit == SceneFit::Fill) {
        if (wider) {
            place.sourceWidth = scaled(height, kCanvasWidth, kCanvasHeight, width);
            place.sourceX = (width - place.sourceWidth) / 2;
        } else {
            place.sourceHeight = scaled(width, kCanvasHeight, kCanvasWidth, height);
            place.sourceY = (height - place.sourceHeight) / 2;
        }
    } else if (wider) {
        place.height = scaled(height, kCanvasWidth, width, kCanvasHeight);
        place.y = (kCanvasHeight - place.height) / 2;
    } else {
        place.width = scaled(width, kCanvasHeight, height, kCanvasWidth);
        place.x = (kCanvasWidth - place.width) / 2;
    }
    return place;
}

double sceneScale(int32_t width, int32_t height, SceneFit fit) {
    double across = double(kCanvasWidth) / width;
    double down = double(kCanvasHeight) / height;
    return fit == SceneFit::Fill ? std::max(across, down) : std::min(across, down);
}

bool composeScene(const PlatformBitmap& picture, SceneFit fit, uint32_t background,
                  std::vector<uint32_t>* canvas) {
    canvas->assign(size_t(kCanvasWidth) * kCanvasHeight, background);
    PlatformBitmap target = {};
    target.width = kCanvasWidth;
    target.height = kCanvasHeight;
    target.pixels = canvas->data();
    target.lent = true;
    ScenePlacement place = placeScene(picture.width, picture.height, fit);
    SoftStretchPlan plan;
    SoftBounds bounds = {0, 0, kCanvasWidth, kCanvasHeight};
    return softPlanStretch(&plan, bounds, place.x, place.y, place.width, place.height, &picture,
                           place.sourceX, place.sourceY, place.sourceWidth, place.sourceHeight) &&
           softStretchPlanned(&target, 0, 0, &picture, plan);
}
