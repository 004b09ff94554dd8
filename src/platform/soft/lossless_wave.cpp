// Decoding of the losslessly coded wave. Every count and value is checked before it is
// used: the stream's bits are read only while there are any, the unary parts of the
// Rice codes are as long as the bits left at most, and a sample beyond its bits fails
// the whole file.
#include "platform/soft/lossless_wave.h"

#include "platform/platform.h"

#include <cstring>

namespace {

uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

struct BitReader {
    const uint8_t* data;
    size_t size;
    size_t bit; // next bit to read, from the first byte's highest
    bool failed;
};

bool bitsLeft(const BitReader& reader, uint64_t count) {
    return reader.bit + count <= static_cast<uint64_t>(reader.size) * 8;
}

// Up to 32 bits, most significant first; 0 and a failure when they are not there.
uint32_t readBits(BitReader* reader, uint32_t count) {
    if (count == 0 || reader->failed) {
        return 0;
    }
    if (!bitsLeft(*reader, count)) {
        reader->failed = true;
        return 0;
    }
    uint64_t value = 0;
    uint32_t left = count;
    while (left > 0) {
        size_t byte = reader->bit >> 3;
        uint32_t used = static_cast<uint32_t>(reader->bit & 7);
        uint32_t take = 8 - used < left ? 8 - used : left;
        uint32_t bits = (reader->data[byte] >> (8 - used - take)) & ((1u << take) - 1);
        value = value << take | bits;
        reader->bit += take;
        left -= take;
    }
    return static_cast<uint32_t>(value);
}

int32_t readSigned(BitReader* reader, uint32_t count) {
    uint32_t value = readBits(reader, count);
    if (count == 0 || count == 32) {
        return static_cast<int32_t>(value);
    }
    uint32_t sign = 1u << (count - 1);
    return static_cast<int32_t>((value ^ sign)) - static_cast<int32_t>(sign);
}

// A Rice code of parameter `k`: zero bits counting the quotient, a one, `k` low bits.
uint32_t readRice(BitReader* reader, uint32_t k) {
    uint64_t quotient = 0;
    for (;;) {
        if (reader->failed || !bitsLeft(*reader, 1)) {
            reader->failed = true;
            return 0;
        }
        size_t byte = reader->bit >> 3;
        uint32_t used = static_cast<uint32_t>(reader->bit & 7);
        uint32_t rest = static_cast<uint8_t>(reader->data[byte] << used);
        if (rest == 0) {
            quotient += 8 - used;
            reader->bit += 8 - used;
            continue;
        }
        uint32_t zeros = 0;
        while ((rest & 0x80) == 0) {
            rest <<= 1;
            ++zeros;
        }
        quotient += zeros;
        reader->bit += zeros + 1;
        break;
    }
    if (quotient > (UINT32_MAX >> k)) {
        reader->failed = true;
        return 0;
    }
    return static_cast<uint32_t>(quotient) << k | readBits(reader, k);
}

int64_t unfolded(uint32_t folded) {
    return (folded & 1) != 0 ? -static_cast<int64_t>(folded >> 1) - 1
                             : static_cast<int64_t>(folded >> 1);
}

// `value` / 2^shift, rounded down, as the coder's right shift.
int64_t shiftedDown(int64_t value, uint32_t shift) {
    return value >= 0 ? value >> shift : -((-value - 1) >> shift) - 1;
}

struct WaveShape {
    uint32_t bits;
    uint32_t channels;
    uint32_t frames;
    uint32_t blockFrames;
    size_t sampleBytes; // of one sample in the file
    size_t samplesAt;   // offset of the first sample in the file
};

// The differences of one partition, added to the predictions of their samples.
bool readPartition(BitReader* reader, int32_t* samples, uint32_t from, uint32_t to, uint32_t order,
                   const int32_t* coefficients, uint32_t shift, int64_t lowest, int64_t highest) {
    uint32_t parameter = readBits(reader, 5);
    uint32_t width = parameter == 31 ? readBits(reader, 5) : 0;
    for (uint32_t i = from; i < to && !reader->failed; ++i) {
        int64_t difference =
            parameter == 31 ? readSigned(reader, width) : unfolded(readRice(reader, parameter));
        int64_t sum = 0;
        for (uint32_t j = 0; j < order; ++j) {
            sum += static_cast<int64_t>(coefficients[j]) * samples[i - 1 - j];
        }
        int64_t sample = shiftedDown(sum, shift) + difference;
        if (sample < lowest || sample > highest) {
            return false;
        }
        samples[i] = static_cast<int32_t>(sample);
    }
    return !reader->failed;
}

// One channel's part of a block of `count` frames into `samples`.
bool readPart(BitReader* reader, const WaveShape& shape, uint32_t count, int32_t* samples) {
    int64_t lowest = -(int64_t{1} << (shape.bits - 1));
    int64_t highest = (int64_t{1} << (shape.bits - 1)) - 1;
    uint32_t order = readBits(reader, 6);
    if (order > kLosslessWaveMostOrder || order > count) {
        return false;
    }
    int32_t coefficients[kLosslessWaveMostOrder] = {};
    uint32_t shift = 0;
    if (order > 0) {
        uint32_t precision = readBits(reader, 4) + 1;
        shift = readBits(reader, 5);
        for (uint32_t j = 0; j < order; ++j) {
            coefficients[j] = readSigned(reader, precision);
        }
        for (uint32_t i = 0; i < order; ++i) {
            samples[i] = readSigned(reader, shape.bits);
        }
    }
    uint32_t partitionOrder = readBits(reader, 4);
    uint32_t partitions = 1u << partitionOrder;
    uint32_t each = count >> partitionOrder;
    if (reader->failed || each << partitionOrder != count || each < order) {
        return false;
    }
    for (uint32_t p = 0; p < partitions; ++p) {
        uint32_t from = p == 0 ? order : p * each;
        if (!readPartition(reader, samples, from, (p + 1) * each, order, coefficients, shift,
                           lowest, highest)) {
            return false;
        }
    }
    return true;
}

void writeSample(const WaveShape& shape, uint8_t* out, uint64_t frame, uint32_t channel,
                 int32_t sample) {
    uint8_t* at = out + shape.samplesAt + (frame * shape.channels + channel) * shape.sampleBytes;
    if (shape.bits == 8) {
        at[0] = static_cast<uint8_t>(sample + 128);
    } else {
        at[0] = static_cast<uint8_t>(static_cast<uint32_t>(sample) & 0xFF);
        at[1] = static_cast<uint8_t>((static_cast<uint32_t>(sample) >> 8) & 0xFF);
    }
}

bool readShape(const uint8_t* data, size_t size, size_t outSize, WaveShape* shape, uint32_t* head,
               uint32_t* tail) {
    if (size < kLosslessWaveHeaderSize) {
        return false;
    }
    *head = read32(data);
    *tail = read32(data + 4);
    shape->bits = data[8];
    shape->channels = data[9];
    shape->frames = read32(data + 10);
    shape->blockFrames = static_cast<uint32_t>(data[14] | data[15] << 8);
    shape->sampleBytes = shape->bits / 8;
    shape->samplesAt = *head;
    if ((shape->bits != 8 && shape->bits != 16) || shape->channels == 0 ||
        shape->channels > kLosslessWaveMostChannels || shape->blockFrames == 0) {
        return false;
    }
    uint64_t samples = uint64_t{shape->frames} * shape->channels * shape->sampleBytes;
    uint64_t whole = uint64_t{*head} + *tail + samples;
    return whole == outSize && kLosslessWaveHeaderSize + uint64_t{*head} + *tail <= size;
}

} // namespace

bool decodeLosslessWave(const uint8_t* data, size_t size, uint8_t* out, size_t outSize) {
    WaveShape shape = {};
    uint32_t head = 0;
    uint32_t tail = 0;
    if (data == nullptr || out == nullptr ||
        !readShape(data, size, outSize, &shape, &head, &tail)) {
        return false;
    }
    const uint8_t* bytes = data + kLosslessWaveHeaderSize;
    memcpy(out, bytes, head);
    memcpy(out + outSize - tail, bytes + head, tail);
    BitReader reader = {bytes + head + tail, size - kLosslessWaveHeaderSize - head - tail, 0,
                        false};
    auto* samples =
        static_cast<int32_t*>(platformAllocate(sizeof(int32_t) * shape.blockFrames, false));
    if (samples == nullptr) {
        return false;
    }
    bool fine = true;
    for (uint64_t first = 0; fine && first < shape.frames; first += shape.blockFrames) {
        uint32_t count = static_cast<uint32_t>(
            shape.frames - first < shape.blockFrames ? shape.frames - first : shape.blockFrames);
        for (uint32_t channel = 0; fine && channel < shape.channels; ++channel) {
            fine = readPart(&reader, shape, count, samples);
            for (uint32_t i = 0; fine && i < count; ++i) {
                writeSample(shape, out, first + i, channel, samples[i]);
            }
        }
    }
    platformFree(samples);
    return fine;
}
