// The story format's numbers, names and messages, in one place. Every layer and every
// tool takes them from here; nothing else spells them out. It includes nothing, so any
// file may include it.
#pragma once

#include <cstdint>

// ---- the canvas ------------------------------------------------------------

// The story is laid out on this canvas, whatever the window's size.
constexpr int32_t kCanvasWidth = 1600;
constexpr int32_t kCanvasHeight = 900;
// The bars around the scaled canvas repeat the top-left tile of the pattern.
constexpr int32_t kTileSize = 32;

// ---- the font sheet --------------------------------------------------------

// Glyph cells, 16 to a row from the sheet's top-left corner, for bytes 32 to 127.
constexpr int32_t kGlyphWidth = 25;
constexpr int32_t kGlyphHeight = 33;
constexpr int32_t kGlyphsPerRow = 16;
constexpr unsigned char kFirstGlyphByte = 32;   // the space
constexpr unsigned char kLastTextByte = 122;    // `z`: the last byte drawn as text
constexpr unsigned char kFirstMarkerByte = 123; // the marker's frames: bytes 123 to 127
constexpr unsigned char kLastGlyphByte = 127;
constexpr int32_t kMarkerCells = kLastGlyphByte - kFirstMarkerByte + 1;                // 5
constexpr int32_t kGlyphRows = (kLastGlyphByte - kFirstGlyphByte) / kGlyphsPerRow + 1; // 6
// The smallest sheet that holds every cell: 400 x 198.
constexpr int32_t kFontSheetWidth = kGlyphsPerRow * kGlyphWidth;
constexpr int32_t kFontSheetHeight = kGlyphRows * kGlyphHeight;
// The marker's frames: while the next command mentions "turn", a turning page; otherwise
// a blinking line end.
constexpr unsigned char kPageTurnMarker[] = {123, 124, 125, 124};
constexpr unsigned char kLineEndMarker[] = {126, 127};
// Pixels of this colour reference (0x00BBGGRR) are left out when a glyph is drawn.
constexpr uint32_t kTransparentColor = 0xFF00FF;

// The last places a whole glyph fits on the canvas; a line holds 64 glyphs.
constexpr int32_t kLastGlyphX = kCanvasWidth - kGlyphWidth;    // 1575
constexpr int32_t kLastGlyphY = kCanvasHeight - kGlyphHeight;  // 867
constexpr int32_t kGlyphsPerLine = kCanvasWidth / kGlyphWidth; // 64

inline bool isTextGlyph(unsigned char c) {
    return c >= kFirstGlyphByte && c <= kLastTextByte;
}

// The cell of byte c on the sheet.
inline int32_t glyphCellX(unsigned char c) {
    return ((c - kFirstGlyphByte) % kGlyphsPerRow) * kGlyphWidth;
}
inline int32_t glyphCellY(unsigned char c) {
    return ((c - kFirstGlyphByte) / kGlyphsPerRow) * kGlyphHeight;
}

// ---- the script ------------------------------------------------------------

// A block number has at most seven digits: no higher block can be found.
constexpr int32_t kBlockNumberDigits = 7;
constexpr int32_t kLargestBlockNumber = 9999999;
// Offsets in the script are 32-bit signed: no script may be larger.
constexpr uint32_t kLargestScriptSize = 0x7FFFFFFFu; // 2^31 - 1
// A wait of up to 2^31 ms lasts as asked; a longer one ends at once.
constexpr uint32_t kLongestWait = 0x80000000u;

// ---- timing ----------------------------------------------------------------

// The loop's pause after each iteration while commands run.
constexpr uint32_t kFramePause = 16;
// The marker changes at most once in this many milliseconds.
constexpr uint32_t kMarkerInterval = 300;

// ---- files, window and messages ---------------------------------------------

constexpr char kScriptFileName[] = "script.bexu";
constexpr char kTitleFileName[] = "init.bexc";
constexpr char kFontFileName[] = "font.bmp";
constexpr char kTileFileName[] = "transparency.bmp";

constexpr char kWindowClassName[] = "BexuGame";
constexpr char kDefaultTitle[] = "Bexu Game";

constexpr char kScriptMissingCaption[] = "Filenotfound";
constexpr char kScriptMissingMessage[] = "script.bexu could not be located.";
constexpr char kErrorCaption[] = "Error";
constexpr char kFontFailedMessage[] = "Failed to load font.bmp";
constexpr char kTileFailedMessage[] = "Failed to load transparency.bmp";
constexpr char kSceneFailedMessage[] = "Failed to load scene.";
constexpr char kDialogueFailedMessage[] = "Could not process dialogue: bad heap alloc";
