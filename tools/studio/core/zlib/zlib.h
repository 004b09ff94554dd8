// The part of zlib's interface the author tools use (deflate, CRC-32), for the studio's
// wasm, where zlib is not to be had: the deflate is pako's, which ports zlib's and gives
// its bytes for the same settings, so the archives and PNGs the tools write there are the
// native tools' bytes. Built only into the studio's core (zlib_pako.cpp).
#pragma once

#include <cstddef>

using Bytef = unsigned char;
using uInt = unsigned int;
using uLong = unsigned long;
using uLongf = unsigned long;

struct internal_state;

struct z_stream {
    const Bytef* next_in;
    uInt avail_in;
    uLong total_in;
    Bytef* next_out;
    uInt avail_out;
    uLong total_out;
    const char* msg;
    internal_state* state; // pako's deflater, by its number
};
using z_streamp = z_stream*;

constexpr int Z_NO_FLUSH = 0;
constexpr int Z_FINISH = 4;
constexpr int Z_OK = 0;
constexpr int Z_STREAM_END = 1;
constexpr int Z_STREAM_ERROR = -2;
constexpr int Z_MEM_ERROR = -4;
constexpr int Z_BUF_ERROR = -5;
constexpr int Z_DEFLATED = 8;
constexpr int Z_DEFAULT_STRATEGY = 0;
constexpr int Z_FILTERED = 1;
constexpr int Z_HUFFMAN_ONLY = 2;
constexpr int Z_RLE = 3;
constexpr int Z_FIXED = 4;
constexpr int Z_DEFAULT_COMPRESSION = -1;

// windowBits as zlib's: 8..15 a zlib stream, -8..-15 raw deflate, 24..31 gzip.
int deflateInit2(z_streamp stream, int level, int method, int windowBits, int memLevel,
                 int strategy);
// Takes all the input at once; hands out what is made as room in next_out allows.
int deflate(z_streamp stream, int flush);
int deflateEnd(z_streamp stream);
uLong deflateBound(z_streamp stream, uLong sourceLen);
uLong compressBound(uLong sourceLen);
int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level);

uLong crc32(uLong crc, const Bytef* buf, uInt len);
uLong crc32_z(uLong crc, const Bytef* buf, size_t len);
