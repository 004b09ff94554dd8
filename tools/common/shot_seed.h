// The stutter seed bexu-shot plays with unless told another (and the headless clock's
// start): bexu-check measures stammered lines with it too, so that what it says of a
// line's length is what the sheet shows.
#pragma once

#include <cstdint>

constexpr uint32_t kShotSeed = 100000;
