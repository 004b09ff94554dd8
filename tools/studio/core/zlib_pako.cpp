// zlib's deflate as the author tools call it, done by pako in the worker that runs the
// studio's core (studio-worker.js loads it first). Each stream is a pako.Deflate, which
// takes the input whole; its output waits in JavaScript until the caller makes room.
#include "zlib/zlib.h"

#include <emscripten.h>

#include <cstdint>
#include <cstring>

namespace {

// clang-format off
EM_JS(int, pakoStart, (int level, int windowBits, int memLevel, int strategy), {
    var options = {level: level, memLevel: memLevel, strategy: strategy};
    if (windowBits < 0) {
        options.raw = true;
        options.windowBits = -windowBits;
    } else if (windowBits > 15) {
        options.gzip = true;
        options.windowBits = windowBits - 16;
    } else {
        options.windowBits = windowBits;
    }
    var deflater = new pako.Deflate(options);
    if (deflater.err) return 0;
    deflater.waiting = [];
    deflater.onData = function(chunk) { deflater.waiting.push(chunk); };
    Module.pakoStreams = Module.pakoStreams || [null];
    Module.pakoStreams.push(deflater);
    return Module.pakoStreams.length - 1;
});

EM_JS(int, pakoPush, (int id, const Bytef* bytes, uInt count, int finish), {
    var deflater = Module.pakoStreams[id];
    deflater.push(HEAPU8.slice(bytes, bytes + count), finish ? 4 : 0);
    return deflater.err ? 0 : 1;
});

// Moves up to `room` bytes of what waits into `out`; how many.
EM_JS(uInt, pakoTake, (int id, Bytef* out, uInt room), {
    var waiting = Module.pakoStreams[id].waiting;
    var moved = 0;
    while (waiting.length > 0 && moved < room) {
        var chunk = waiting[0];
        var count = Math.min(chunk.length, room - moved);
        HEAPU8.set(chunk.subarray(0, count), out + moved);
        moved += count;
        if (count == chunk.length) waiting.shift(); else waiting[0] = chunk.subarray(count);
    }
    return moved;
});

EM_JS(int, pakoWaiting, (int id), {
    return Module.pakoStreams[id].waiting.length > 0 ? 1 : 0;
});

EM_JS(void, pakoEnd, (int id), {
    Module.pakoStreams[id] = null;
});
// clang-format on

// A stream's number, and whether its input has ended.
struct PakoState {
    int id;
    bool finished;
};

PakoState* stateOf(z_streamp stream) {
    return reinterpret_cast<PakoState*>(stream->state);
}

uint32_t crcTable[256];

void makeCrcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        crcTable[n] = c;
    }
}

} // namespace

int deflateInit2(z_streamp stream, int level, int method, int windowBits, int memLevel,
                 int strategy) {
    if (method != Z_DEFLATED) {
        return Z_STREAM_ERROR;
    }
    int id = pakoStart(level, windowBits, memLevel, strategy);
    auto* state = new PakoState{id, false};
    if (id == 0) {
        delete state;
        return Z_STREAM_ERROR;
    }
    stream->state = reinterpret_cast<internal_state*>(state);
    stream->total_in = 0;
    stream->total_out = 0;
    stream->msg = nullptr;
    return Z_OK;
}

int deflate(z_streamp stream, int flush) {
    PakoState* state = stateOf(stream);
    if (state == nullptr || (flush != Z_NO_FLUSH && flush != Z_FINISH)) {
        return Z_STREAM_ERROR;
    }
    bool finishing = flush == Z_FINISH && !state->finished;
    if (stream->avail_in > 0 || finishing) {
        if (pakoPush(state->id, stream->next_in, stream->avail_in, finishing ? 1 : 0) == 0) {
            return Z_STREAM_ERROR;
        }
        stream->next_in += stream->avail_in;
        stream->total_in += stream->avail_in;
        stream->avail_in = 0;
        state->finished = state->finished || finishing;
    }
    uInt moved = pakoTake(state->id, stream->next_out, stream->avail_out);
    stream->next_out += moved;
    stream->avail_out -= moved;
    stream->total_out += moved;
    return state->finished && pakoWaiting(state->id) == 0 ? Z_STREAM_END : Z_OK;
}

int deflateEnd(z_streamp stream) {
    PakoState* state = stateOf(stream);
    if (state == nullptr) {
        return Z_STREAM_ERROR;
    }
    pakoEnd(state->id);
    delete state;
    stream->state = nullptr;
    return Z_OK;
}

// zlib's bound for any settings, with room for a gzip wrapper.
uLong deflateBound(z_streamp, uLong sourceLen) {
    return sourceLen + (sourceLen >> 12) + (sourceLen >> 14) + (sourceLen >> 25) + 13 + 18;
}

uLong compressBound(uLong sourceLen) {
    return sourceLen + (sourceLen >> 12) + (sourceLen >> 14) + (sourceLen >> 25) + 13;
}

int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level) {
    z_stream stream = {};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return Z_MEM_ERROR;
    }
    stream.next_in = source;
    stream.avail_in = static_cast<uInt>(sourceLen);
    stream.next_out = dest;
    stream.avail_out = static_cast<uInt>(*destLen);
    int status = deflate(&stream, Z_FINISH);
    *destLen = stream.total_out;
    deflateEnd(&stream);
    return status == Z_STREAM_END ? Z_OK : Z_BUF_ERROR;
}

uLong crc32_z(uLong crc, const Bytef* buf, size_t len) {
    if (buf == nullptr) {
        return 0;
    }
    if (crcTable[1] == 0) {
        makeCrcTable();
    }
    uint32_t c = ~static_cast<uint32_t>(crc);
    for (size_t i = 0; i < len; ++i) {
        c = crcTable[(c ^ buf[i]) & 0xFF] ^ (c >> 8);
    }
    return ~c;
}

uLong crc32(uLong crc, const Bytef* buf, uInt len) {
    return crc32_z(crc, buf, len);
}
