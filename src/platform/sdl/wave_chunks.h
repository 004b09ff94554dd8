// Wave files declare the length of each chunk; the sound library reserves what a
// chunk declares before reading it. Lengths past the end of the file are cut to
// what the file holds, so a tiny file cannot ask for gigabytes.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>

// Cuts, in place, the RIFF length and every chunk length to the bytes that follow it.
void clampWaveChunks(uint8_t* data, size_t size);

// The whole file, read through the platform's files: only plain files open there, so
// a named pipe cannot hold the player up waiting for a writer. None when missing,
// unreadable or larger than any sound a story plays, with the reason noted.
uint8_t* readWaveFile(const char* path, uint32_t* size);

// Why the wave file at `path` cannot be played, from its first megabyte: the chunks up
// to the samples stand there in any file a story plays. The reason is also noted.
LoadFailure waveFileFailure(const char* path);

// Why a wave file, its chunks cut, cannot be played: not a wave, a fmt chunk that is
// cut short or names an encoding the sound library does not decode, no data chunk.
// None when it looks playable. Reads nothing outside [data, data + size).
LoadFailure waveFailure(const uint8_t* data, size_t size);
