// What the web backend's files share: the page's one window and the first
// gesture, which the browser requires before any sound.
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Called on the first key press or tap: sound may start from then on.
void webAudioAllowed();
// The canvas's backing store size in device pixels, which follows the page's size,
// and how often resizing it has cleared it.
void webCanvasSize(int32_t* width, int32_t* height, uint32_t* clearings);
// The clock goes on from `tick`: a host that played ahead on a clock of its own sets the
// reader's clock to where that play stopped.
void webSetTickCount(uint32_t tick);
