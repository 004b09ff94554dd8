// Decoded wave samples in the format of the SDL sound device.
#pragma once

#include "platform/soft/wave_decoder.h"

#include <SDL.h>

// Receives the converted bytes piece by piece, in order.
using SoundPieceTaker = void (*)(const uint8_t* bytes, uint32_t length, void* context);

// Converts `wave` to the device's format, channels and rate, handing each piece to `take`
// as it is made, so that no second copy of the whole sound is held. False when the sound
// library cannot convert between the two formats or memory runs out.
bool convertForDevice(const DecodedWave& wave, const SDL_AudioSpec& device, SoundPieceTaker take,
                      void* context);
