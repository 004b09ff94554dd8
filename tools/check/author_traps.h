// Traps in how a story is written that the player passes over without a word: brackets
// inside commands, misspelt names, paths that only work on one system or one machine,
// scenes of the wrong size, title files and text in encodings the font cannot draw.
// Each function looks at one thing and says what the reader will see.
#pragma once

#include "check/story_check.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TrapFinding {
    Severity severity;
    std::string code;
    uint32_t offset; // where it stands, relative to what the function was given
    std::string message;
};

// "line:column" of an offset of the script.
using PlaceOf = std::function<std::string(uint32_t offset)>;

// A command cut from `bytes` between `start` (after its `[`) and `end` (its `]`) that
// holds a `[`: either a command left open before the next one (an error at the opening
// `[`) or brackets in the text, whose end is lost (a warning at the inner `[`).
// `textEnd` ends the block's text. Offsets are of `bytes`.
bool bracketTrap(const std::string& bytes, uint32_t start, uint32_t end, uint32_t textEnd,
                 const PlaceOf& placeOf, TrapFinding* out);

// The keyword a name without one was probably meant to be (`sya` -> `say`,
// `stuter3` -> `stutter3`), or empty.
std::string likelyKeyword(const std::string& name);

// A scene of another size than the canvas: what is cropped or left black.
bool sceneSizeTrap(const std::string& path, int32_t width, int32_t height, std::string* message);

// The path as the file system has it, each part matched without regard to case; false
// when some part is not there in any case. '.' and '..' are kept as written.
bool findIgnoringCase(const std::string& path, std::string* found);

// A name from '/' or a drive letter, which no other machine has.
bool absoluteName(const std::string& path);

// A relative name whose '..' climb above the folder it is read from.
bool climbsOutOfFolder(const std::string& path);

// A file name that works on Windows only (a `\`, or another case than the file's) or
// on this machine only (absolute, or leaving the story folder). `opens`: whether the
// name opens as written. Offset 0 is the name's first byte. Looks in the current folder.
bool pathTrap(const std::string& path, bool opens, bool scene, TrapFinding* out);

// A line holding UTF-8 text, named character by character with ASCII to write instead.
// Offset 0 is the line's first byte.
bool utf8Trap(const std::string& line, TrapFinding* out);

// Lines of a dialogue line longer than a row of the canvas (warnings): where the player
// breaks them. Offsets from the line's first byte.
std::vector<TrapFinding> longLineTraps(const std::string& line);

// A stutter line's argument laid out without stammers and at its longest. The transform
// puts before each syllable that does not begin with '%' up to intensity - 1 pairs of its
// first byte and '-'; the bound counts every one of them, without drawing a random byte.
// Only the bytes the font draws take room; rows end at line breaks.
struct StammerLayout {
    std::string plain;          // the line without stammers: no '/', no leading '%'
    std::vector<uint32_t> from; // the argument's offset of each byte of `plain`
    uint32_t shortest;          // glyphs of its longest row without stammers
    uint32_t longest;           // glyphs its longest row can reach with them
    uint32_t worstBreak;        // the argument's offset where the longest layout first
                                // passes a row, or UINT32_MAX when it never does
};
StammerLayout stammerLayout(const std::string& argument, uint32_t intensity);

// Glyphs of the longest row of a text as the player draws it (rows end at line breaks).
uint32_t longestRow(const std::string& text);

// A stutter line that fits a row without stammers but may not with them (a warning at
// the argument's byte where the longest layout first passes the row), or nothing.
// `sheetGlyphs`: its longest row with bexu-shot's seed.
bool stammerTrap(const StammerLayout& layout, uint32_t intensity, uint32_t sheetGlyphs,
                 TrapFinding* out);

// What a stutter line with a '/' reads like without stammers (a note at its first '/'):
// the syllables a '/' divides are joined with no gap.
bool readsAsNote(const std::string& argument, const StammerLayout& layout, TrapFinding* out);

// How a window title shows one byte of the title file.
enum class TitleByte { Shown, LineBreak, Control, BeyondAscii };
TitleByte titleByteKind(unsigned char c);

// The title rule, one for bexu-new, bexu-check and bexu-pack: a title every reader's
// title bar shows as written is one line of plain ASCII text. Each finding is an error,
// which bexu-new refuses, bexu-check reports and bexu-pack will not pack: a final line
// break, a control byte, bytes beyond ASCII. Offsets into the title.
std::vector<TrapFinding> titleTraps(const std::string& title);

// `title` with what the rule refuses left out: for a title taken from a folder's name.
std::string titleMadeSafe(const std::string& title);
