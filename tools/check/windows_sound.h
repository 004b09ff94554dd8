// Which wave encodings the Windows player may not play. Its one-call player hands a
// file's format to the system's wave mapper: every Windows plays PCM of 8 and 16 bits in
// one or two channels, and converts IMA ADPCM, MS ADPCM, A-law and mu-law with the codecs
// it ships (imaadp32, msadp32 and msg711, which Wine has too). Other formats reach the
// sound driver as they are, and whether it takes them depends on the Windows version and
// the driver.
#pragma once

#include "platform/soft/wave_decoder.h"

#include <string>

// What of `format` a Windows may lack, e.g. "24-bit PCM" or "6 channels"; empty when
// every Windows plays it.
std::string windowsSoundDoubt(const WaveFormat& format);
