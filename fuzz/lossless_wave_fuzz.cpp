// The web story's lossless wave coding on any bytes. An even first byte: the rest is
// coded data for the player's decoder, which either refuses it or fills exactly the
// file size asked for (from the next two bytes), reading and writing nothing beyond.
// An odd first byte: the rest (up to 2 KiB, which keeps the coder's tries quick) are the
// samples of a PCM wave made around them (the channels and bits from the second byte),
// which bexu-pack's coder must code, since every PCM wave of 8 or 16 bits decodes back
// to itself.
#include "pack/lossless_wave_encoder.h"
#include "platform/soft/lossless_wave.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void put16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>* out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::vector<uint8_t> pcmWave(uint32_t channels, uint32_t bits, const uint8_t* samples,
                             size_t size) {
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                                 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
    put16(&file, 1);
    put16(&file, channels);
    put32(&file, 8000);
    put32(&file, 8000 * channels * bits / 8);
    put16(&file, channels * bits / 8);
    put16(&file, bits);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    put32(&file, static_cast<uint32_t>(size));
    file.insert(file.end(), samples, samples + size);
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        size_t fileSize = static_cast<size_t>(data[1] | data[2] << 8) * 4;
        std::vector<uint8_t> coded(data + 3, data + size); // exactly its size
        std::vector<uint8_t> file(fileSize);
        decodeLosslessWave(coded.data(), coded.size(), file.data(), file.size());
        return 0;
    }
    uint32_t channels = 1 + (data[1] & 7);
    uint32_t bits = (data[1] & 8) != 0 ? 16 : 8;
    size_t frame = channels * bits / 8;
    if (size - 2 < frame) {
        return 0;
    }
    std::vector<uint8_t> file = pcmWave(channels, bits, data + 2, std::min<size_t>(size - 2, 2048));
    std::vector<uint8_t> coded;
    if (!encodeLosslessWave(file.data(), file.size(), &coded)) {
        fprintf(stderr, "a PCM wave of %u channels, %u bits, %zu bytes was not coded\n", channels,
                bits, size - 2);
        abort();
    }
    return 0;
}
