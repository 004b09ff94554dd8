// Per block of frames and channel: a few linear predictors from the block's own
// autocorrelation (Levinson-Durbin), each with its differences priced in Rice codes over
// the best split of the block, and the cheapest written, as lossless audio coders do.
#include "pack/lossless_wave_encoder.h"

#include "platform/soft/lossless_wave.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kBlockFrames = 4096;
constexpr uint32_t kPrecision = 14; // bits of a coefficient
constexpr uint32_t kMostShift = 20; // of a coefficient's fixed point
constexpr uint32_t kMostPartitionOrder = 4;
constexpr uint32_t kOrders[] = {2, 8, 32}; // the predictors tried, beside none
constexpr uint32_t kEscape = 31;

uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

struct Samples {
    uint32_t bits;
    uint32_t channels;
    size_t at; // first sample byte
    uint32_t frames;
};

// The PCM samples of a RIFF wave: its format chunk and the first data chunk, cut to the
// whole frames the file holds.
bool findSamples(const uint8_t* file, size_t size, Samples* samples) {
    if (size < 12 || memcmp(file, "RIFF", 4) != 0 || memcmp(file + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool format = false;
    size_t at = 12;
    while (at + 8 <= size) {
        uint32_t length = read32(file + at + 4);
        size_t body = at + 8;
        if (memcmp(file + at, "fmt ", 4) == 0 && length >= 16 && body + 16 <= size) {
            uint16_t tag = read16(file + body);
            bool extensiblePcm =
                tag == 0xFFFE && length >= 40 && body + 40 <= size && read16(file + body + 24) == 1;
            samples->channels = read16(file + body + 2);
            samples->bits = read16(file + body + 14);
            uint16_t align = read16(file + body + 12);
            format = (tag == 1 || extensiblePcm) && samples->channels >= 1 &&
                     samples->channels <= kLosslessWaveMostChannels &&
                     (samples->bits == 8 || samples->bits == 16) &&
                     align == samples->channels * samples->bits / 8;
        } else if (memcmp(file + at, "data", 4) == 0) {
            if (!format) {
                return false;
            }
            size_t held = std::min<size_t>(length, size - body);
            size_t frame = samples->channels * samples->bits / 8;
            samples->at = body;
            samples->frames = static_cast<uint32_t>(std::min<size_t>(held / frame, UINT32_MAX));
            return samples->frames > 0;
        }
        at = body + length + (length & 1);
    }
    return false;
}

struct BitWriter {
    std::vector<uint8_t>* out;
    uint64_t pending; // bits not yet written, at the low end
    uint32_t count;
};

void putBits(BitWriter* writer, uint32_t value, uint32_t count) {
    if (count == 0) {
        return;
    }
    uint64_t masked = count == 32 ? value : value & ((uint64_t{1} << count) - 1);
    writer->pending = writer->pending << count | masked;
    writer->count += count;
    while (writer->count >= 8) {
        writer->count -= 8;
        writer->out->push_back(static_cast<uint8_t>(writer->pending >> writer->count));
    }
    writer->pending &= (uint64_t{1} << writer->count) - 1;
}

void putRice(BitWriter* writer, uint32_t value, uint32_t k) {
    for (uint32_t zeros = value >> k; zeros > 0;) {
        uint32_t run = std::min<uint32_t>(zeros, 32);
        putBits(writer, 0, run);
        zeros -= run;
    }
    putBits(writer, 1, 1);
    putBits(writer, value, k);
}

void flush(BitWriter* writer) {
    if (writer->count > 0) {
        putBits(writer, 0, 8 - writer->count);
    }
}

uint32_t folded(int64_t difference) {
    return static_cast<uint32_t>(difference >= 0 ? difference * 2 : -difference * 2 - 1);
}

// The fewest bits of a signed number that hold every value, 0 when all are 0.
uint32_t signedWidth(const int64_t* values, size_t count) {
    int64_t most = -1;
    for (size_t i = 0; i < count; ++i) {
        most = std::max(most, values[i] >= 0 ? values[i] : -values[i] - 1);
    }
    if (std::all_of(values, values + count, [](int64_t v) { return v == 0; })) {
        return 0;
    }
    uint32_t width = 1;
    while (most >= (int64_t{1} << (width - 1))) {
        ++width;
    }
    return width;
}

struct PartitionCode {
    uint32_t parameter; // kEscape: raw of `width` bits
    uint32_t width;
    uint64_t bits;
};

PartitionCode bestPartitionCode(const int64_t* differences, size_t count) {
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum += folded(differences[i]);
    }
    uint32_t width = signedWidth(differences, count);
    PartitionCode best = {kEscape, width, 10 + uint64_t{width} * count};
    uint32_t guess = 0;
    while (guess < 30 && (uint64_t{count} << (guess + 1)) <= sum) {
        ++guess;
    }
    for (uint32_t k = guess > 0 ? guess - 1 : 0; k <= std::min<uint32_t>(guess + 1, 30); ++k) {
        uint64_t bits = 5 + uint64_t{count} * (k + 1);
        for (size_t i = 0; i < count; ++i) {
            bits += folded(differences[i]) >> k;
        }
        if (bits < best.bits) {
            best = {k, 0, bits};
        }
    }
    return best;
}

struct Predictor {
    uint32_t order;
    int32_t coefficients[kLosslessWaveMostOrder];
    uint32_t shift;
};

struct PartCode {
    Predictor predictor;
    std::vector<int64_t> differences; // from the sample after the warm-up
    uint32_t partitionOrder;
    uint64_t bits;
};

// Prices the differences over each split of the block; the cheapest split.
void priceSplits(uint32_t count, PartCode* code) {
    code->bits = UINT64_MAX;
    uint32_t order = code->predictor.order;
    uint64_t head = 6 + (order > 0 ? 9 + uint64_t{order} * (kPrecision + 16) : 0) + 4;
    for (uint32_t p = 0; p <= kMostPartitionOrder; ++p) {
        uint32_t each = count >> p;
        if (each << p != count || each < order || (p > 0 && each < 16)) {
            break;
        }
        uint64_t bits = head;
        for (uint32_t part = 0; part < (1u << p); ++part) {
            size_t from = part == 0 ? 0 : part * each - order;
            size_t to = (part + 1) * each - order;
            bits += bestPartitionCode(code->differences.data() + from, to - from).bits;
        }
        if (bits < code->bits) {
            code->bits = bits;
            code->partitionOrder = p;
        }
    }
}

bool predict(const int32_t* samples, uint32_t count, const Predictor& predictor,
             std::vector<int64_t>* differences) {
    differences->clear();
    for (uint32_t i = predictor.order; i < count; ++i) {
        int64_t sum = 0;
        for (uint32_t j = 0; j < predictor.order; ++j) {
            sum += static_cast<int64_t>(predictor.coefficients[j]) * samples[i - 1 - j];
        }
        int64_t predicted =
            sum >= 0 ? sum >> predictor.shift : -((-sum - 1) >> predictor.shift) - 1;
        int64_t difference = samples[i] - predicted;
        // Within 30 bits, so a raw width fits its 5 bits.
        if (difference >= (int64_t{1} << 30) || difference <= -(int64_t{1} << 30)) {
            return false;
        }
        differences->push_back(difference);
    }
    return true;
}

// Linear prediction coefficients of every order up to `most`, from the autocorrelation
// of the windowed block (Levinson-Durbin). `all[o - 1]` holds order o's.
bool levinson(const int32_t* samples, uint32_t count, uint32_t most,
              std::vector<std::vector<double>>* all) {
    std::vector<double> windowed(count);
    for (uint32_t i = 0; i < count; ++i) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / count);
        windowed[i] = samples[i] * w;
    }
    std::vector<double> r(most + 1, 0.0);
    for (uint32_t lag = 0; lag <= most; ++lag) {
        for (uint32_t i = lag; i < count; ++i) {
            r[lag] += windowed[i] * windowed[i - lag];
        }
    }
    if (r[0] <= 0) {
        return false;
    }
    r[0] *= 1.0 + 1e-9; // keeps the recursion stable on pure tones
    std::vector<double> a(most + 1, 0.0);
    double error = r[0];
    for (uint32_t i = 1; i <= most; ++i) {
        double acc = r[i];
        for (uint32_t j = 1; j < i; ++j) {
            acc -= a[j] * r[i - j];
        }
        double k = acc / error;
        std::vector<double> next = a;
        next[i] = k;
        for (uint32_t j = 1; j < i; ++j) {
            next[j] = a[j] - k * a[i - j];
        }
        a = next;
        error *= 1 - k * k;
        if (error <= 0) {
            return !all->empty();
        }
        all->emplace_back(a.begin() + 1, a.begin() + i + 1);
    }
    return true;
}

// The coefficients in fixed point, each one's rounding carried into the next.
bool quantize(const std::vector<double>& coefficients, Predictor* predictor) {
    double most = 0;
    for (double c : coefficients) {
        most = std::max(most, std::fabs(c));
    }
    if (most <= 0 || !std::isfinite(most)) {
        return false;
    }
    int32_t limit = (1 << (kPrecision - 1)) - 1;
    int shift = static_cast<int>(kPrecision) - 2 - static_cast<int>(std::floor(std::log2(most)));
    shift = std::min<int>(shift, static_cast<int>(kMostShift));
    if (shift < 0) {
        return false;
    }
    predictor->order = static_cast<uint32_t>(coefficients.size());
    predictor->shift = static_cast<uint32_t>(shift);
    double carried = 0;
    for (size_t j = 0; j < coefficients.size(); ++j) {
        double exact = coefficients[j] * std::ldexp(1.0, shift) + carried;
        long rounded = std::lround(exact);
        rounded = std::max<long>(-limit - 1, std::min<long>(limit, rounded));
        carried = exact - static_cast<double>(rounded);
        predictor->coefficients[j] = static_cast<int32_t>(rounded);
    }
    return true;
}

PartCode bestPart(const int32_t* samples, uint32_t count) {
    PartCode best = {};
    best.predictor.order = 0;
    predict(samples, count, best.predictor, &best.differences);
    priceSplits(count, &best);
    std::vector<std::vector<double>> all;
    uint32_t most = std::min<uint32_t>(kLosslessWaveMostOrder, count > 1 ? count - 1 : 0);
    if (most == 0 || !levinson(samples, count, most, &all)) {
        return best;
    }
    for (uint32_t order : kOrders) {
        if (order > all.size()) {
            break;
        }
        PartCode code = {};
        if (!quantize(all[order - 1], &code.predictor) ||
            !predict(samples, count, code.predictor, &code.differences)) {
            continue;
        }
        priceSplits(count, &code);
        if (code.bits < best.bits) {
            best = std::move(code);
        }
    }
    return best;
}

void writePart(BitWriter* writer, const int32_t* samples, uint32_t count, uint32_t bits,
               const PartCode& code) {
    const Predictor& predictor = code.predictor;
    putBits(writer, predictor.order, 6);
    if (predictor.order > 0) {
        putBits(writer, kPrecision - 1, 4);
        putBits(writer, predictor.shift, 5);
        for (uint32_t j = 0; j < predictor.order; ++j) {
            putBits(writer, static_cast<uint32_t>(predictor.coefficients[j]), kPrecision);
        }
        for (uint32_t i = 0; i < predictor.order; ++i) {
            putBits(writer, static_cast<uint32_t>(samples[i]), bits);
        }
    }
    putBits(writer, code.partitionOrder, 4);
    uint32_t each = count >> code.partitionOrder;
    for (uint32_t part = 0; part < (1u << code.partitionOrder); ++part) {
        size_t from = part == 0 ? 0 : part * each - predictor.order;
        size_t to = (part + 1) * each - predictor.order;
        const int64_t* differences = code.differences.data() + from;
        PartitionCode partition = bestPartitionCode(differences, to - from);
        putBits(writer, partition.parameter, 5);
        if (partition.parameter == kEscape) {
            putBits(writer, partition.width, 5);
        }
        for (size_t i = 0; i < to - from; ++i) {
            if (partition.parameter == kEscape) {
                putBits(writer, static_cast<uint32_t>(differences[i]), partition.width);
            } else {
                putRice(writer, folded(differences[i]), partition.parameter);
            }
        }
    }
}

void put32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

} // namespace

bool encodeLosslessWave(const uint8_t* file, size_t size, std::vector<uint8_t>* out) {
    Samples wave = {};
    if (file == nullptr || size > UINT32_MAX || !findSamples(file, size, &wave)) {
        return false;
    }
    size_t sampleBytes = wave.bits / 8;
    size_t tailAt = wave.at + size_t{wave.frames} * wave.channels * sampleBytes;
    out->clear();
    put32(out, static_cast<uint32_t>(wave.at));
    put32(out, static_cast<uint32_t>(size - tailAt));
    out->push_back(static_cast<uint8_t>(wave.bits));
    out->push_back(static_cast<uint8_t>(wave.channels));
    put32(out, wave.frames);
    out->push_back(static_cast<uint8_t>(kBlockFrames & 0xFF));
    out->push_back(static_cast<uint8_t>(kBlockFrames >> 8));
    out->insert(out->end(), file, file + wave.at);
    out->insert(out->end(), file + tailAt, file + size);
    BitWriter writer = {out, 0, 0};
    std::vector<int32_t> samples(kBlockFrames);
    for (uint32_t first = 0; first < wave.frames; first += kBlockFrames) {
        uint32_t count = std::min(kBlockFrames, wave.frames - first);
        for (uint32_t channel = 0; channel < wave.channels; ++channel) {
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* at =
                    file + wave.at + ((size_t{first} + i) * wave.channels + channel) * sampleBytes;
                samples[i] = wave.bits == 8 ? at[0] - 128 : static_cast<int16_t>(read16(at));
            }
            writePart(&writer, samples.data(), count, wave.bits, bestPart(samples.data(), count));
        }
    }
    flush(&writer);
    std::vector<uint8_t> back(size);
    return decodeLosslessWave(out->data(), out->size(), back.data(), back.size()) &&
           memcmp(back.data(), file, size) == 0;
}
