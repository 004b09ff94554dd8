#include "check/windows_sound.h"

namespace {
// The codecs of every Windows convert these, and its wave mapper plays their output.
bool everyWindowsConverts(const WaveFormat& format) {
    switch (format.encoding) {
    case kWavePcm:
        return format.bits == 8 || format.bits == 16;
    case kWaveImaAdpcm:
    case kWaveMsAdpcm:
    case kWaveALaw:
    case kWaveMuLaw:
        return true;
    default:
        return false;
    }
}

std::string encodingName(const WaveFormat& format) {
    std::string bits = std::to_string(format.bits) + "-bit ";
    switch (format.encoding) {
    case kWavePcm:
        return bits + "PCM";
    case kWaveFloat:
        return bits + "floating point";
    default:
        return "encoding " + std::to_string(format.encoding);
    }
}
} // namespace

std::string windowsSoundDoubt(const WaveFormat& format) {
    if (!everyWindowsConverts(format)) {
        return encodingName(format);
    }
    if (format.channels > 2) {
        return std::to_string(format.channels) + " channels";
    }
    return "";
}
