// The files a story's script names: the scenes and sounds of the blocks that play,
// found by walking the engine's play cursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FileUse {
    std::string name; // the argument as written, e.g. "rooms/hall.bmp"
    bool scene;       // `cg`; otherwise `play`
    uint32_t line;    // where the name stands in script.bexu, 1-based
    uint32_t column;  // 1-based byte column
};

struct FileUses {
    // False when the script cannot be opened or read.
    bool readable;
    std::vector<FileUse> uses; // in the order the play meets them, repeats included
};

// Bytes the block searches of a walk may read before a tool gives up: unclosed blocks make
// every later search read the rest of the file again.
constexpr uint64_t kWalkBudget = uint64_t{256} << 20;

// The scene or sound that `command`, whose text starts at offset `start` of the script,
// names: the name, and the offset of its first byte. False for other commands.
bool fileUseOf(const char* command, uint32_t start, FileUse* use, uint32_t* nameAt);

// The scene and sound names of `folder`'s script, block 0, 1, 2 ... as the player
// plays them, up to the first missing block or the first command without an
// argument, where the play stops for good.
FileUses listFileUses(const std::string& folder);
