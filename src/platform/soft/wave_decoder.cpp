// Chunks are walked with every length cut to the file; the format chunk decides
// the decoder. The ADPCM decoders follow the published algorithms: the IMA one with
// its 89 step sizes, the MS one with the coefficient pairs of the file.
#include "platform/soft/wave_decoder.h"

#include "platform/load_file.h"

#include <cstring>

// Samples are copied as they lie in the file, which is little-endian, as is every
// processor the players are built for.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a little-endian processor");

namespace {

const char* failure = "";

// Refusals are also noted as the platform's load reasons, for tools.
bool refuse(const char* reason, LoadFailure kind = LoadFailure::Unreadable) {
    failure = reason;
    platformNoteLoadFailure(kind);
    return false;
}

uint16_t read16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}
uint32_t read32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}
int32_t signed16(const uint8_t* at) {
    return static_cast<int16_t>(read16(at));
}

struct Chunks {
    const uint8_t* format;
    uint32_t formatSize;
    bool formatCut; // by the end of the file
    const uint8_t* data;
    uint32_t dataSize;
};

// What the checks found: where the samples are and how to decode them.
struct Layout {
    Chunks chunks;
    WaveFormat format;
    const uint8_t* extra; // bytes after the 18-byte header: cbSize of them, cut to the chunk
    uint32_t extraSize;
    uint32_t perBlock;             // ADPCM: frames of a whole block
    int16_t coefficients[2 * 256]; // MS ADPCM: the pairs of the file, or the standard ones
    uint32_t coefficientCount;
};

// "RIFF", length, "WAVE", then chunks: the first "fmt ", and the first "data" after it,
// as the Windows player looks for them.
bool findChunks(const uint8_t* data, size_t size, Chunks* chunks) {
    if (data == nullptr || size < 12 || memcmp(data, "RIFF", 4) != 0 ||
        memcmp(data + 8, "WAVE", 4) != 0) {
        return refuse("not a RIFF WAVE file", LoadFailure::NotWave);
    }
    *chunks = {};
    size_t offset = 12;
    while (size - offset >= 8 && chunks->data == nullptr) {
        size_t available = size - offset - 8;
        size_t length = read32(data + offset + 4);
        length = length < available ? length : available;
        const uint8_t* body = data + offset + 8;
        if (memcmp(data + offset, "fmt ", 4) == 0 && chunks->format == nullptr) {
            chunks->format = body;
            chunks->formatSize = static_cast<uint32_t>(length);
            chunks->formatCut = length < read32(data + offset + 4);
        } else if (memcmp(data + offset, "data", 4) == 0 && chunks->format != nullptr) {
            chunks->data = body;
            chunks->dataSize = static_cast<uint32_t>(length > UINT32_MAX ? UINT32_MAX : length);
        }
        size_t padded = length + (length & 1);
        if (padded >= available) {
            break;
        }
        offset += 8 + padded;
    }
    if (chunks->format == nullptr) {
        return refuse("no format chunk", LoadFailure::NotWave);
    }
    if (chunks->formatSize < 16) {
        return chunks->formatCut ? refuse("format chunk cut short", LoadFailure::Truncated)
                                 : refuse("format chunk too short", LoadFailure::NotWave);
    }
    if (chunks->data == nullptr) {
        return refuse("no data chunk after the format chunk", LoadFailure::Truncated);
    }
    return true;
}

bool readFormatChunk(Layout* layout) {
    const uint8_t* at = layout->chunks.format;
    WaveFormat* format = &layout->format;
    format->encoding = read16(at);
    format->channels = read16(at + 2);
    format->rate = read32(at + 4);
    format->blockAlign = read16(at + 12);
    format->bits = read16(at + 14);
    layout->extra = nullptr;
    layout->extraSize = 0;
    if (layout->chunks.formatSize >= 18) {
        uint32_t declared = read16(at + 16);
        uint32_t present = layout->chunks.formatSize - 18;
        layout->extra = at + 18;
        layout->extraSize = declared < present ? declared : present;
    }
    // The extensible form names its real encoding in the first two bytes of its GUID.
    if (format->encoding == kWaveExtensible) {
        if (layout->extraSize < 22) {
            return refuse("extensible format without its sub-format", LoadFailure::Truncated);
        }
        format->encoding = read16(layout->extra + 6);
    }
    if (format->channels == 0 || format->channels > kWaveMaxChannels) {
        return refuse("unsupported channel count");
    }
    if (format->rate < kWaveMinRate || format->rate > kWaveMaxRate) {
        return refuse("unsupported sample rate");
    }
    return true;
}

// ---- linear: PCM and IEEE float ------------------------------------------------

bool checkLinear(Layout* layout) {
    const WaveFormat& format = layout->format;
    uint32_t bytes = (format.bits + 7) / 8;
    bool supported = format.encoding == kWaveFloat ? format.bits == 32 || format.bits == 64
                                                   : bytes >= 1 && bytes <= 4;
    if (!supported) {
        return refuse("unsupported sample size", LoadFailure::UnsupportedCompression);
    }
    layout->format.frames = layout->chunks.dataSize / (uint64_t{bytes} * format.channels);
    return true;
}

// Round half away from zero, clipped to the 32-bit range; NaN is silence.
int32_t sampleOfFloat(double value) {
    double scaled = value * 2147483648.0;
    if (!(scaled == scaled)) {
        return 0;
    }
    if (scaled < 0) {
        return scaled <= -2147483648.5 ? INT32_MIN : static_cast<int32_t>(scaled - 0.5);
    }
    return scaled >= 2147483647.5 ? INT32_MAX : static_cast<int32_t>(scaled + 0.5);
}

// `count` samples of `bytes` each, widened by `widen`: eight at a time in a loop of fixed
// length, which the compiler turns into vector code, then the rest one by one.
template <uint32_t bytes, typename Widen>
void widenSamples(const uint8_t* __restrict in, uint64_t count, int32_t* __restrict out,
                  Widen widen) {
    uint64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        for (uint32_t k = 0; k < 8; ++k) {
            out[i + k] = widen(in + bytes * (i + k));
        }
    }
    for (; i < count; ++i) {
        out[i] = widen(in + bytes * i);
    }
}

void decodeLinear(const Layout& layout, uint64_t count, int32_t* out) {
    const uint8_t* in = layout.chunks.data;
    if (layout.format.encoding == kWaveFloat) {
        for (uint64_t i = 0; i < count; ++i) {
            if (layout.format.bits == 32) {
                float value;
                memcpy(&value, in + 4 * i, 4);
                out[i] = sampleOfFloat(value);
            } else {
                double value;
                memcpy(&value, in + 8 * i, 8);
                out[i] = sampleOfFloat(value);
            }
        }
        return;
    }
    switch ((layout.format.bits + 7) / 8) {
    case 1:
        widenSamples<1>(in, count, out, [](const uint8_t* at) {
            return static_cast<int32_t>((uint32_t{at[0]} ^ 0x80u) << 24);
        });
        break;
    case 2:
        // A copied load, not read16: the compiler widens only such loads to vectors.
        widenSamples<2>(in, count, out, [](const uint8_t* at) {
            uint16_t sample;
            memcpy(&sample, at, 2);
            return static_cast<int32_t>(uint32_t{sample} << 16);
        });
        break;
    case 3:
        widenSamples<3>(in, count, out, [](const uint8_t* at) {
            return static_cast<int32_t>(
                (uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16) << 8);
        });
        break;
    default:
        widenSamples<4>(in, count, out,
                        [](const uint8_t* at) { return static_cast<int32_t>(read32(at)); });
        break;
    }
}

// ---- G.711: A-law and mu-law, 8-bit codes of 13- and 14-bit samples --------

bool checkG711(Layout* layout) {
    if (layout->format.bits != 8) {
        return refuse("unsupported sample size", LoadFailure::UnsupportedCompression);
    }
    layout->format.frames = layout->chunks.dataSize / layout->format.channels;
    return true;
}

int32_t sampleOfALaw(uint8_t code) {
    code ^= 0x55;
    int32_t segment = (code & 0x70) >> 4;
    int32_t value = (code & 0x0F) << 4;
    if (segment == 0) {
        value += 8;
    } else {
        value = (value + 0x108) << (segment - 1);
    }
    return (code & 0x80) != 0 ? value : -value;
}

int32_t sampleOfMuLaw(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    int32_t value = (((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4);
    return (code & 0x80) != 0 ? 0x84 - value : value - 0x84;
}

void decodeG711(const Layout& layout, uint64_t count, int32_t* out) {
    const uint8_t* in = layout.chunks.data;
    for (uint64_t i = 0; i < count; ++i) {
        int32_t value =
            layout.format.encoding == kWaveALaw ? sampleOfALaw(in[i]) : sampleOfMuLaw(in[i]);
        out[i] = value * 65536;
    }
}

// ---- ADPCM: blocks of a header and nibbles -------------------------------------

// Frames in `bytes` of IMA blocks: a whole block holds perBlock, a cut last block the
// header's sample and 8 per 4-byte word of every channel.
uint64_t imaFrames(const Layout& layout, uint64_t bytes) {
    uint32_t channels = layout.format.channels;
    uint64_t frames = bytes / layout.format.blockAlign * layout.perBlock;
    uint64_t rest = bytes % layout.format.blockAlign;
    if (rest >= 4u * channels) {
        uint64_t last = (rest - 4u * channels) / (4u * channels) * 8 + 1;
        frames += last < layout.perBlock ? last : layout.perBlock;
    }
    return frames;
}

uint64_t msFrames(const Layout& layout, uint64_t bytes) {
    uint32_t channels = layout.format.channels;
    uint64_t frames = bytes / layout.format.blockAlign * layout.perBlock;
    uint64_t rest = bytes % layout.format.blockAlign;
    if (rest >= 7u * channels) {
        uint64_t last = (rest - 7u * channels) * 2 / channels + 2;
        frames += last < layout.perBlock ? last : layout.perBlock;
    }
    return frames;
}

uint64_t adpcmFrames(const Layout& layout, uint64_t bytes) {
    return layout.format.encoding == kWaveImaAdpcm ? imaFrames(layout, bytes)
                                                   : msFrames(layout, bytes);
}

bool checkIma(Layout* layout) {
    uint32_t channels = layout->format.channels;
    uint32_t blockAlign = layout->format.blockAlign;
    if (layout->format.bits != 4 || blockAlign <= 4 * channels ||
        (blockAlign - 4 * channels) % (4 * channels) != 0) {
        return refuse("unsupported IMA ADPCM layout", LoadFailure::UnsupportedCompression);
    }
    layout->perBlock = (blockAlign - 4 * channels) / (4 * channels) * 8 + 1;
    if (layout->extraSize >= 2 && read16(layout->extra) != 0 &&
        read16(layout->extra) < layout->perBlock) {
        layout->perBlock = read16(layout->extra);
    }
    layout->format.frames = imaFrames(*layout, layout->chunks.dataSize);
    return true;
}

const int16_t kMsStandardCoefficients[14] = {256, 0,   512, -256, 0,    0,   192,
                                             64,  240, 0,   460,  -208, 392, -232};

bool checkMs(Layout* layout) {
    uint32_t channels = layout->format.channels;
    uint32_t blockAlign = layout->format.blockAlign;
    if (layout->format.bits != 4 || blockAlign < 7 * channels) {
        return refuse("unsupported MS ADPCM layout", LoadFailure::UnsupportedCompression);
    }
    uint32_t most = (blockAlign - 7 * channels) * 2 / channels + 2;
    layout->perBlock = most;
    layout->coefficientCount = 7;
    memcpy(layout->coefficients, kMsStandardCoefficients, sizeof kMsStandardCoefficients);
    if (layout->extraSize >= 4) {
        uint32_t declared = read16(layout->extra);
        layout->perBlock = declared >= 2 && declared < most ? declared : most;
        uint32_t count = read16(layout->extra + 2);
        if (count > 256 || layout->extraSize < 4 + 4 * count) {
            return refuse("bad MS ADPCM coefficient table");
        }
        if (count > 0) {
            layout->coefficientCount = count;
            for (uint32_t i = 0; i < 2 * count; ++i) {
                layout->coefficients[i] = static_cast<int16_t>(read16(layout->extra + 4 + 2 * i));
            }
        }
    }
    layout->format.frames = msFrames(*layout, layout->chunks.dataSize);
    return true;
}

const int32_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int32_t kImaIndexShift[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One block: per channel a 4-byte header (sample, step index), then 4-byte words
// of 8 nibbles each, low nibble first, channel after channel.
void decodeImaBlock(const uint8_t* block, uint32_t channels, uint32_t frames, int32_t* out) {
    for (uint32_t channel = 0; channel < channels; ++channel) {
        const uint8_t* header = block + 4 * channel;
        int32_t value = signed16(header);
        int32_t index = header[2] > 88 ? 0 : header[2];
        int32_t* to = out + channel;
        *to = value * 65536;
        const uint8_t* nibbles = block + 4 * channels + 4 * channel;
        for (uint32_t i = 1; i < frames; ++i) {
            int32_t code;
            if ((i & 1) != 0) {
                code = *nibbles & 0x0F;
            } else {
                code = *nibbles++ >> 4;
                if ((i & 7) == 0) {
                    nibbles += 4 * (channels - 1);
                }
            }
            int32_t step = kImaSteps[index];
            int32_t difference = step >> 3;
            difference += (code & 4) != 0 ? step : 0;
            difference += (code & 2) != 0 ? step >> 1 : 0;
            difference += (code & 1) != 0 ? step >> 2 : 0;
            value += (code & 8) != 0 ? -difference : difference;
            value = value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
            index += kImaIndexShift[code & 7];
            index = index < 0 ? 0 : (index > 88 ? 88 : index);
            to += channels;
            *to = value * 65536;
        }
    }
}

const int32_t kMsAdapt[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                              768, 614, 512, 409, 307, 230, 230, 230};
// Larger steps only come from hostile files; the cap keeps every product in range.
constexpr int64_t kMsMaxStep = int64_t{1} << 24;

struct MsChannel {
    int64_t step;
    int32_t first, second; // coefficients
};

int32_t decodeMsNibble(int32_t code, MsChannel* state, int32_t previous, int32_t beforeThat) {
    int64_t step = state->step;
    int64_t next = kMsAdapt[code] * step / 256;
    if (kMsAdapt[code] * step < 0 && (kMsAdapt[code] * step) % 256 != 0) {
        --next; // the shift of the published decoder rounds down
    }
    state->step = next < 16 ? 16 : (next > kMsMaxStep ? kMsMaxStep : next);
    int64_t predicted = (int64_t{previous} * state->first + int64_t{beforeThat} * state->second);
    predicted = predicted >= 0 ? predicted / 256 : -((-predicted + 255) / 256);
    int32_t signedCode = code - ((code & 8) << 1);
    int64_t value = signedCode * step + predicted;
    return static_cast<int32_t>(value < -32768 ? -32768 : (value > 32767 ? 32767 : value));
}

// One block: per channel a predictor number, then the steps, the second samples and
// the first samples; then nibbles, high first, channel after channel.
void decodeMsBlock(const Layout& layout, const uint8_t* block, uint32_t frames, int32_t* out) {
    uint32_t channels = layout.format.channels;
    MsChannel states[kWaveMaxChannels];
    int32_t history[2][kWaveMaxChannels]; // [0]: the sample before, [1]: the one before that
    for (uint32_t c = 0; c < channels; ++c) {
        uint32_t predictor = block[c] < layout.coefficientCount ? block[c] : 0;
        states[c].first = layout.coefficients[2 * predictor];
        states[c].second = layout.coefficients[2 * predictor + 1];
        states[c].step = signed16(block + channels + 2 * c);
        history[0][c] = signed16(block + 3 * channels + 2 * c);
        history[1][c] = signed16(block + 5 * channels + 2 * c);
        out[c] = history[1][c] * 65536;
        if (frames > 1) {
            out[channels + c] = history[0][c] * 65536;
        }
    }
    const uint8_t* nibbles = block + 7 * channels;
    uint64_t total = uint64_t{frames} * channels;
    uint32_t c = 0;
    for (uint64_t i = 2u * channels; i < total; ++i) {
        int32_t code = ((i - 2u * channels) & 1) == 0 ? *nibbles >> 4 : *nibbles++ & 0x0F;
        int32_t value = decodeMsNibble(code, &states[c], history[0][c], history[1][c]);
        history[1][c] = history[0][c];
        history[0][c] = value;
        out[i] = value * 65536;
        c = c + 1 == channels ? 0 : c + 1;
    }
}

// Block by block: a whole block holds perBlock frames, a cut last one what its bytes hold.
void decodeAdpcm(const Layout& layout, int32_t* out) {
    uint32_t blockAlign = layout.format.blockAlign;
    uint64_t done = 0;
    for (uint64_t offset = 0; done < layout.format.frames; offset += blockAlign) {
        uint64_t left = layout.chunks.dataSize - offset;
        auto frames =
            static_cast<uint32_t>(left >= blockAlign ? layout.perBlock : adpcmFrames(layout, left));
        const uint8_t* block = layout.chunks.data + offset;
        int32_t* samples = out + done * layout.format.channels;
        if (layout.format.encoding == kWaveImaAdpcm) {
            decodeImaBlock(block, layout.format.channels, frames, samples);
        } else {
            decodeMsBlock(layout, block, frames, samples);
        }
        done += frames;
    }
}

// ---- the whole file ------------------------------------------------------------

bool readLayout(const uint8_t* data, size_t size, Layout* layout) {
    if (!findChunks(data, size, &layout->chunks) || !readFormatChunk(layout)) {
        return false;
    }
    bool known = false;
    switch (layout->format.encoding) {
    case kWavePcm:
    case kWaveFloat:
        known = checkLinear(layout);
        break;
    case kWaveALaw:
    case kWaveMuLaw:
        known = checkG711(layout);
        break;
    case kWaveImaAdpcm:
        known = checkIma(layout);
        break;
    case kWaveMsAdpcm:
        known = checkMs(layout);
        break;
    default:
        known = refuse("unsupported encoding", LoadFailure::UnsupportedCompression);
        break;
    }
    if (!known) {
        return false;
    }
    if (layout->format.frames * layout->format.channels > kWaveMaxSamples) {
        return refuse("sound too long", LoadFailure::TooLarge);
    }
    platformNoteLoadFailure(LoadFailure::None);
    return true;
}

} // namespace

bool readWaveFormat(const uint8_t* data, size_t size, WaveFormat* format) {
    Layout layout;
    bool read = readLayout(data, size, &layout);
    *format = read ? layout.format : WaveFormat{};
    return read;
}

bool decodeWave(const uint8_t* data, size_t size, DecodedWave* out) {
    *out = {};
    Layout layout;
    if (!readLayout(data, size, &layout)) {
        return false;
    }
    uint64_t count = layout.format.frames * layout.format.channels;
    if (count > 0) {
        out->samples =
            static_cast<int32_t*>(platformAllocate(static_cast<size_t>(count) * 4, false));
        if (out->samples == nullptr) {
            return refuse("out of memory", LoadFailure::TooLarge);
        }
    }
    out->rate = layout.format.rate;
    out->channels = layout.format.channels;
    out->frames = static_cast<uint32_t>(layout.format.frames);
    switch (layout.format.encoding) {
    case kWavePcm:
    case kWaveFloat:
        decodeLinear(layout, count, out->samples);
        break;
    case kWaveALaw:
    case kWaveMuLaw:
        decodeG711(layout, count, out->samples);
        break;
    default:
        decodeAdpcm(layout, out->samples);
        break;
    }
    return true;
}

void freeDecodedWave(DecodedWave* wave) {
    platformFree(wave->samples);
    *wave = {};
}

const char* waveFailureReason() {
    return failure;
}

bool loadWave(const char* path, DecodedWave* out) {
    *out = {};
    if (path == nullptr) {
        return refuse("no file named", LoadFailure::Missing);
    }
    uint32_t size = 0;
    uint8_t* bytes = loadWholeFile(path, kLargestWaveFile, LoadFailure::NotWave, &size);
    if (bytes == nullptr) {
        failure = "cannot be read";
        return false;
    }
    bool decoded = decodeWave(bytes, size, out);
    platformFree(bytes);
    return decoded;
}

LoadFailure inspectWaveFile(const char* path, WaveFormat* format) {
    *format = {};
    uint32_t size = 0;
    uint8_t* bytes = loadWholeFile(path, kLargestWaveFile, LoadFailure::NotWave, &size);
    if (bytes == nullptr) {
        return platformLoadFailure();
    }
    readWaveFormat(bytes, size, format);
    platformFree(bytes);
    return platformLoadFailure();
}
