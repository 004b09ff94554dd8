// The files of a new story: the tile pattern, a scene, a sound, the script and title.
#pragma once

#include <cstdint>
#include <string>

// The 32 x 32 tile for the bars beside the canvas: a quiet two-tone check.
bool writeTile(const std::string& path);
// A 1600 x 900 scene of flat bands, a dusk sky over a sea, stored as RLE8 (small).
bool writeScene(const std::string& path);
// A short two-note chime, 16-bit PCM mono: the wave form every build plays.
bool writeChime(const std::string& path);
bool writeText(const std::string& path, const std::string& text);
