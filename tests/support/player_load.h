// What the Linux and web players say of a story file: the reason their decoders give
// for a scene (a .bmp) or a sound (a .wav). Header-only, for the native tests and the
// wasm test programs alike.
#pragma once

#include "platform/platform.h"
#include "platform/soft/wave_decoder.h"

#include <string>

inline bool namesSound(const std::string& name) {
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
}

inline LoadFailure playerLoadFailure(const std::string& path) {
    if (namesSound(path)) {
        DecodedWave wave;
        loadWave(path.c_str(), &wave);
        freeDecodedWave(&wave);
    } else {
        platformDeleteBitmap(platformLoadBitmap(path.c_str()));
    }
    return platformLoadFailure();
}
