// The story's data as the web page fetches it: one file, story.bexw, that bexu-pack
// writes into the web archive and the page reads as it comes in. It holds the story's
// files in the order the play first opens them (script, title, font, tile, then what
// the blocks name), each coded as it travels smallest, behind an index read first.
//
// Layout, numbers little-endian:
//   magic "BEXUWEB1" (8 bytes), index bytes (u32), entry count (u32)
//   the index, per entry: coding (u8), stored bytes (u32), file bytes (u32),
//                         name bytes (u16), the name ('/'-separated, from the story folder)
//   the entries' stored bytes, one after another in the order of the index
// The page (index.html) reads the same layout; change both together.
#pragma once

#include <cstdint>

constexpr char kWebStoryFileName[] = "story.bexw";
constexpr char kWebStoryMagic[] = "BEXUWEB1"; // without its NUL
constexpr uint32_t kWebStoryMagicSize = 8;
constexpr uint32_t kWebStoryHeaderSize = 16;
constexpr uint32_t kWebStoryEntryHeaderSize = 11; // before the name

// How an entry's stored bytes give the file.
enum class WebCoding : uint8_t {
    Stored = 0,  // the file's bytes as they are
    Deflate = 1, // raw deflate, inflated by the browser
    Png = 2,     // a bitmap's pixels as a PNG, decoded by the browser; the player gets them
                 // back as a 24-bit BMP with the same pixels
    Wave = 3,    // a PCM wave coded losslessly (platform/soft/lossless_wave.h)
};

// The BMP a Png entry becomes in the player: a 40-byte info header, 24 bits a pixel,
// rows bottom-up, each padded to 4 bytes.
constexpr uint32_t kWebBitmapHeaderSize = 54;
constexpr uint64_t webBitmapFileSize(uint32_t width, uint32_t height) {
    return kWebBitmapHeaderSize + ((uint64_t{width} * 3 + 3) & ~uint64_t{3}) * height;
}
