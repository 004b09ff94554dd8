// How a picture of any size becomes a scene of exactly the canvas's size: filled
// (scaled to cover it, what sticks out cut away evenly on both sides) or fitted
// (scaled to fit inside it, bars of the background colour where the shapes differ).
#pragma once

#include "platform/soft/soft_surface.h"

#include <cstdint>
#include <vector>

enum class SceneFit { Fill, Fit };

// Where the picture's part [sourceX, +sourceWidth) x [sourceY, +sourceHeight) goes on
// the canvas: [x, +width) x [y, +height).
struct ScenePlacement {
    int32_t x, y, width, height;
    int32_t sourceX, sourceY, sourceWidth, sourceHeight;
};

ScenePlacement placeScene(int32_t width, int32_t height, SceneFit fit);

// The factor by which a picture of this size is scaled into the scene.
double sceneScale(int32_t width, int32_t height, SceneFit fit);

// The canvas's pixels (0x00RRGGBB, rows top-down): the background, and the picture
// scaled into its place by the player's own smoothing stretch, which averages the
// area each pixel covers where the picture shrinks. False when memory runs out.
bool composeScene(const PlatformBitmap& picture, SceneFit fit, uint32_t background,
                  std::vector<uint32_t>* canvas);
