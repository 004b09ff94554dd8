// Checks a story folder. The blocks and commands, and where each stands in the file,
// come from the engine's own reader and cutter (readBlock, extractItems), so every
// finding can name its line and column.
#include "check/story_check.h"

#include "check/author_traps.h"
#include "check/check_text.h"
#include "check/story_paths.h"
#include "check/windows_sound.h"

#include "check/story_files.h"
#include "common/shot_seed.h"
#include "engine/play_cursor.h"
#include "platform/soft/wave_decoder.h"
#include "render/render.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

const char* const kScriptName = kScriptFileName;
constexpr uint32_t kNowhere = UINT32_MAX;
// A title file larger than this is no title an author meant; it is not looked into.
constexpr uint32_t kLargestTitle = 1u << 20;

// ---- where things stand in the file ------------------------------------------

// The whole script in memory, for the findings that look around a command.
struct Script {
    std::string bytes;
    LineIndex lines;
};

void positionOf(const Script& script, uint32_t offset, uint32_t* line, uint32_t* column) {
    lineAndColumn(&script.lines, offset, line, column);
}

std::string where(const Script& script, uint32_t offset) {
    uint32_t line = 0;
    uint32_t column = 0;
    positionOf(script, offset, &line, &column);
    return std::to_string(line) + ":" + std::to_string(column);
}

// ---- blocks and commands: the written ones by the reader, the played ones by the cursor --

// Every block as the file is written: each completed number outside a block opens one.
std::vector<BlockPlace> writtenBlocks(ScriptWindow* window, PlatformFile* file) {
    std::vector<BlockPlace> blocks;
    int32_t resume = 0;
    for (;;) {
        BlockPlace place = {};
        char* content = readNextBlock(window, file, &resume, &place);
        if (content == nullptr) {
            return blocks;
        }
        platformFree(content);
        blocks.push_back(place);
        // An unclosed block runs to the end of the file.
        if (!place.closed) {
            return blocks;
        }
    }
}

struct ItemSpan {
    uint32_t start; // first byte after `[`
    uint32_t end;   // the `]`
};

// ---- the check ----------------------------------------------------------------

struct Pen {
    PenPlace place;
    bool stopped;       // a wrap went below the last row: nothing more is drawn
    bool reported;      // this page's overflow has been told
    uint32_t firstLine; // offset of the page's first line, or kNowhere
};

struct SceneLoad {
    LoadFailure failure;
    int32_t width, height;
    bool inside;      // false: a link leads out of the story folder, and nothing was read
    TrapFinding link; // when not inside: the finding, told at every command naming it
};

struct Checker {
    CheckReport* report;
    Script script;
    Pen pen;
    bool held;                               // a command with an empty argument holds the play
    std::map<std::string, SceneLoad> scenes; // by path, loaded once
    ScriptPosition cursor;                   // the play's, over the script
    ScriptWindow window;                     // the reader's, for the blocks as written
    int folder;                              // the story folder, open
    bool notes;                              // style findings asked for
    bool lineExplained; // the command's text is told by a bracket finding already
    uint32_t seed;      // the stutter's generator, as bexu-shot's play from the start has it
};

void addAt(Checker* checker, Severity severity, uint32_t offset, const char* code,
           const std::string& message) {
    Diagnostic diagnostic = {severity, kScriptName, 0, 0, code, message};
    positionOf(checker->script, offset, &diagnostic.line, &diagnostic.column);
    checker->report->diagnostics.push_back(diagnostic);
}

void addTrap(Checker* checker, const TrapFinding& trap, uint32_t base) {
    addAt(checker, trap.severity, base + trap.offset, trap.code.c_str(), trap.message);
}

void addForFile(CheckReport* report, Severity severity, const char* file, const char* code,
                const std::string& message) {
    report->diagnostics.push_back(Diagnostic{severity, file, 0, 0, code, message});
}

// Loads a bitmap as the player does; the reason when it does not load.
LoadFailure loadBitmap(const char* path, int32_t* width, int32_t* height) {
    PlatformBitmap* bitmap = platformLoadBitmap(path);
    if (bitmap == nullptr) {
        return platformLoadFailure();
    }
    platformBitmapSize(bitmap, width, height);
    platformDeleteBitmap(bitmap);
    return LoadFailure::None;
}

// A fixed file of the story, opened from the story folder without following a link out
// of it. False when a link leads out: that is reported for the file, and nothing there
// is read. Else `*path` opens the very file that was checked while `*opened` stays open,
// or is empty when the file is missing.
bool reachFixedFile(CheckReport* report, int folder, const char* name, StoryFileOpened* opened,
                    std::string* path) {
    *opened = openInStoryAt(folder, name);
    TrapFinding trap;
    if (linkTrap(*opened, name, &trap)) {
        addForFile(report, trap.severity, name, trap.code.c_str(), trap.message);
        return false;
    }
    *path = opened->result == StoryOpen::Opened ? descriptorPath(opened->descriptor, name) : "";
    return true;
}

void checkSheet(CheckReport* report, int folder, const char* path, int32_t needWidth,
                int32_t needHeight, const char* what, const char* missingCode,
                const char* smallCode) {
    int32_t width = 0;
    int32_t height = 0;
    StoryFileOpened opened;
    std::string reached;
    if (!reachFixedFile(report, folder, path, &opened, &reached)) {
        return;
    }
    LoadFailure load =
        reached.empty() ? LoadFailure::Missing : loadBitmap(reached.c_str(), &width, &height);
    closeStoryFile(&opened);
    std::string failure =
        std::string(" the player stops at start with \"Failed to load ") + path + "\"";
    if (load == LoadFailure::Missing) {
        addForFile(report, Severity::Error, path, missingCode, "cannot be opened:" + failure);
    } else if (load != LoadFailure::None) {
        addForFile(report, Severity::Error, path, missingCode,
                   std::string("does not load as a bitmap (") + loadFailureText(load) +
                       "):" + failure);
    } else if (width < needWidth || height < needHeight) {
        addForFile(report, Severity::Error, path, smallCode,
                   "is " + std::to_string(width) + " x " + std::to_string(height) + "; " + what +
                       " needs at least " + std::to_string(needWidth) + " x " +
                       std::to_string(needHeight));
    }
}

std::string blankHint(const std::string& name) {
    if (name.empty()) {
        return "";
    }
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    if (blank(name.front()) || blank(name.back())) {
        return " (the name begins or ends with a blank, which is part of it)";
    }
    return "";
}

// Where the checker reads a file a command names: a name inside the story folder is
// opened without following a link out of it (false when a link leads out, with the
// finding in `*link`: nothing there is read), and `*path` then opens the very file that
// was checked, or is empty when it is missing. A name that leaves the folder by itself
// is read as the player reads it: `path-outside` tells of it.
bool reachName(Checker* checker, const std::string& name, TrapFinding* link,
               StoryFileOpened* opened, std::string* path) {
    *opened = StoryFileOpened{StoryOpen::Missing, -1, "", ""};
    if (absoluteName(name) || climbsOutOfFolder(name)) {
        *path = name;
        return true;
    }
    *opened = openInStoryAt(checker->folder, name);
    if (linkTrap(*opened, name, link)) {
        return false;
    }
    *path = opened->result == StoryOpen::Opened ? descriptorPath(opened->descriptor, name) : "";
    return true;
}

// Loads the bitmap at `path` as the player does; missing when there is no path.
LoadFailure loadReached(const std::string& path, int32_t* width, int32_t* height) {
    if (path.empty()) {
        platformNoteLoadFailure(LoadFailure::Missing);
        return LoadFailure::Missing;
    }
    return loadBitmap(path.c_str(), width, height);
}

void checkScene(Checker* checker, const std::string& path, uint32_t at) {
    auto known = checker->scenes.find(path);
    if (known == checker->scenes.end()) {
        SceneLoad scene = {LoadFailure::None, 0, 0, true, {}};
        StoryFileOpened opened;
        std::string reached;
        scene.inside = reachName(checker, path, &scene.link, &opened, &reached);
        if (scene.inside) {
            scene.failure = loadReached(reached, &scene.width, &scene.height);
        }
        closeStoryFile(&opened);
        known = checker->scenes.emplace(path, scene).first;
    }
    const SceneLoad& scene = known->second;
    if (!scene.inside) {
        addTrap(checker, scene.link, at);
        return;
    }
    TrapFinding trap;
    if (pathTrap(path, scene.failure != LoadFailure::Missing, true, &trap)) {
        addTrap(checker, trap, at);
        // A name that works on Windows only: that is why it is missing here.
        if (trap.code != "path-outside") {
            return;
        }
    }
    const char stop[] = ": the player stops with \"Failed to load scene.\"";
    std::string message;
    if (scene.failure == LoadFailure::Missing) {
        addAt(checker, Severity::Error, at, "scene-missing",
              "scene " + shown(path) + " cannot be opened" + stop + blankHint(path));
    } else if (scene.failure != LoadFailure::None) {
        addAt(checker, Severity::Error, at, "scene-unloadable",
              "scene " + shown(path) + " does not load as a bitmap (" +
                  loadFailureText(scene.failure) + ")" + stop);
    } else if (sceneSizeTrap(path, scene.width, scene.height, &message)) {
        addAt(checker, Severity::Warning, at, "scene-size", message);
    }
}

// The sound as the Linux and web players' decoder reads it, without decoding.
void checkSound(Checker* checker, const std::string& path, uint32_t at) {
    StoryFileOpened opened;
    std::string reached;
    TrapFinding link;
    if (!reachName(checker, path, &link, &opened, &reached)) {
        addTrap(checker, link, at);
        return;
    }
    WaveFormat format = {};
    LoadFailure failure =
        reached.empty() ? LoadFailure::Missing : inspectWaveFile(reached.c_str(), &format);
    closeStoryFile(&opened);
    TrapFinding trap;
    if (pathTrap(path, failure != LoadFailure::Missing, false, &trap)) {
        addTrap(checker, trap, at);
        if (trap.code != "path-outside") {
            return;
        }
    }
    if (failure == LoadFailure::Missing) {
        addAt(checker, Severity::Warning, at, "sound-missing",
              "sound " + shown(path) + " cannot be opened: the player plays nothing, or the " +
                  "system's default sound" + blankHint(path));
    } else if (failure != LoadFailure::None) {
        addAt(checker, Severity::Warning, at, "sound-unreadable",
              "sound " + shown(path) + " does not load (" + loadFailureText(failure) +
                  "): the player cannot play it");
    } else if (std::string doubt = windowsSoundDoubt(format); !doubt.empty()) {
        addAt(checker, Severity::Warning, at, "sound-windows",
              "sound " + shown(path) + " is in " + doubt +
                  ": the Windows player may not play it; 8- or 16-bit PCM, or IMA ADPCM, in " +
                  "one or two channels plays on every Windows");
    }
}

void checkWait(Checker* checker, const std::string& argument, uint32_t at) {
    size_t digits = 0;
    uint64_t value = 0;
    while (digits < argument.size() && isDecimalDigit(argument[digits])) {
        value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(argument[digits] - '0'),
                                   UINT64_MAX / 16);
        ++digits;
    }
    if (digits == 0) {
        addAt(checker, Severity::Warning, at, "wait-argument",
              "wait argument " + shown(argument) + " is not a number: the wait lasts 0 ms");
    } else if (digits < argument.size()) {
        addAt(checker, Severity::Warning, at, "wait-argument",
              "wait argument " + shown(argument) + " has text after its number: the wait lasts " +
                  std::to_string(static_cast<uint32_t>(parseLeadingNumber(argument.c_str()))) +
                  " ms");
    } else if (value > (uint64_t{1} << 31)) {
        addAt(checker, Severity::Warning, at, "wait-argument",
              "wait of " + shown(argument) + " ms is longer than 2147483648 ms and ends at once");
    }
}

// Bytes of a dialogue line that the font cannot draw; a carriage return before a
// line break belongs to the break.
void checkDrawable(Checker* checker, const std::string& line, uint32_t at) {
    if (checker->lineExplained) {
        return;
    }
    TrapFinding trap;
    bool utf8 = utf8Trap(line, &trap);
    if (utf8) {
        addTrap(checker, trap, at);
    }
    uint32_t count = 0;
    size_t first = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        bool lineBreak = c == '\n' || (c == '\r' && i + 1 < line.size() && line[i + 1] == '\n');
        bool toldAsUtf8 = utf8 && c >= 0x80;
        if (!lineBreak && !toldAsUtf8 && (c < kFirstGlyphByte || c > kLastTextByte)) {
            if (count++ == 0) {
                first = i;
            }
        }
    }
    if (count == 0) {
        return;
    }
    std::string more =
        count > 1 ? " (and " + std::to_string(count - 1) + " more such bytes in this line)" : "";
    addAt(checker, Severity::Warning, at + static_cast<uint32_t>(first), "undrawable-byte",
          "the font cannot draw " + byteName(static_cast<unsigned char>(line[first])) +
              "; it is skipped and takes no space" + more);
}

void turnPage(Checker* checker) {
    checker->pen = Pen{{0, 0}, false, false, kNowhere};
}

// Moves the pen over one appended line as the text drawing does. Returns the index
// of the first byte whose glyph is lost below the canvas, or -1. Once the drawing has
// stopped, the page's loss has been told.
int64_t penOver(Pen* pen, const std::string& line) {
    int64_t lost = -1;
    for (size_t i = 0; i <= line.size() && !pen->stopped; ++i) {
        auto c = static_cast<unsigned char>(i < line.size() ? line[i] : '\n');
        PenPlace glyph;
        PenMove move = movePen(&pen->place, 0, c, &glyph);
        pen->stopped = move == PenMove::End;
        bool cut = pen->stopped || (move == PenMove::Glyph && glyph.y > kLastGlyphY);
        if (cut && lost < 0) {
            lost = static_cast<int64_t>(i);
        }
    }
    return lost;
}

void noteLongLines(Checker* checker, const std::string& line, uint32_t at) {
    if (checker->lineExplained) {
        return;
    }
    for (const TrapFinding& trap : longLineTraps(line)) {
        addTrap(checker, trap, at);
    }
}

// A stutter line's length without stammers (long-line) and at its longest
// (stammer-long-line), and with a '/' what it reads like (a note). `sheetLine` is the
// line with bexu-shot's seed.
void noteStammeredLine(Checker* checker, const std::string& argument, uint32_t intensity,
                       const std::string& sheetLine, uint32_t at) {
    if (checker->lineExplained) {
        return;
    }
    StammerLayout layout = stammerLayout(argument, intensity);
    std::vector<TrapFinding> long_ = longLineTraps(layout.plain);
    for (TrapFinding& trap : long_) {
        trap.offset = layout.from[trap.offset];
        addTrap(checker, trap, at);
    }
    TrapFinding trap;
    if (long_.empty() && stammerTrap(layout, intensity, longestRow(sheetLine), &trap)) {
        addTrap(checker, trap, at);
    }
    if (checker->notes && readsAsNote(argument, layout, &trap)) {
        addTrap(checker, trap, at);
    }
}

// `shownLine` is the text as it appears; `exact` when it maps byte for byte onto the
// argument at `at`. `commandAt` is the command's `[`.
void addDialogueLine(Checker* checker, const std::string& shownLine, bool exact, uint32_t at,
                     uint32_t commandAt) {
    Pen& pen = checker->pen;
    if (pen.firstLine == kNowhere) {
        pen.firstLine = commandAt;
        ++checker->report->pages;
    }
    int64_t lost = penOver(&pen, shownLine);
    if (lost < 0 || pen.reported) {
        return;
    }
    pen.reported = true;
    uint32_t offset = exact ? at + static_cast<uint32_t>(lost) : commandAt;
    addAt(
        checker, Severity::Warning, offset, "page-overflow",
        "the dialogue runs past the bottom of the canvas here and is cut off: the page begun at " +
            where(checker->script, pen.firstLine) + " is full; turn the page before this line");
}

bool plainName(const std::string& name, CommandKind kind) {
    const char* keyword = commandKeyword(kind);
    if (name == keyword) {
        return true;
    }
    // stutter3: the digits are the intensity.
    if (kind != CommandKind::Stutter || name.compare(0, 7, keyword) != 0) {
        return false;
    }
    return std::all_of(name.begin() + 7, name.end(), isDecimalDigit);
}

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

void checkStutter(Checker* checker, const std::string& command, const std::string& argument,
                  uint32_t commandAt, uint32_t argumentAt) {
    uint32_t intensity = stutterIntensity(command.c_str());
    if (intensity == 0) {
        addAt(checker, Severity::Warning, commandAt, "no-stammer",
              "stutter intensity 0 (no digits in the name): the line shows unchanged, its '/' and "
              "'%' marks included; write e.g. stutter3");
    } else if (intensity == 1) {
        addAt(checker, Severity::Warning, commandAt, "no-stammer",
              "stutter intensity 1 never stammers; use 2 or more");
    }
    checkDrawable(checker, argument, argumentAt);
    if (intensity == 0) {
        noteLongLines(checker, argument, argumentAt);
        addDialogueLine(checker, argument, true, argumentAt, commandAt);
        return;
    }
    // The line as bexu-shot's sheet shows it: the generator runs on through the play.
    char* sheetLine = stutterText(argument.c_str(), intensity, &checker->seed);
    noteStammeredLine(checker, argument, intensity, sheetLine != nullptr ? sheetLine : "",
                      argumentAt);
    platformFree(sheetLine);
    // Without stammers the line is at its shortest: what overflows then always does.
    uint32_t seed = checker->seed;
    char* line = stutterText(argument.c_str(), 1, &seed);
    if (line != nullptr) {
        addDialogueLine(checker, line, false, argumentAt, commandAt);
        platformFree(line);
    }
}

void checkCommand(Checker* checker, const std::string& command, uint32_t at) {
    ++checker->report->commands;
    size_t tilde = command.find('~');
    std::string name = command.substr(0, tilde);
    std::string argument = tilde == std::string::npos ? "" : command.substr(tilde + 1);
    auto argumentAt = static_cast<uint32_t>(at + (tilde == std::string::npos ? 0 : tilde + 1));
    // What is said of the command as a whole stands at its `[`, as every tool names it.
    uint32_t bracketAt = at - 1;
    if (argument.empty()) {
        std::string what = command.empty() ? "an empty command" : "command " + shown(command);
        addAt(checker, Severity::Error, bracketAt, "empty-argument",
              what + " has no argument: the play stops here for good");
        checker->held = true;
        return;
    }
    CommandKind kind = commandKindOf(name.c_str());
    if (kind == CommandKind::None) {
        bool lowerCaseHolds = commandKindOf(lowered(name).c_str()) != CommandKind::None;
        std::string meant = likelyKeyword(name);
        if (!lowerCaseHolds && !meant.empty()) {
            addAt(checker, Severity::Warning, bracketAt, "misspelt-keyword",
                  "name " + shown(name) +
                      " holds no command keyword, so the command does nothing; "
                      "did you mean '" +
                      meant + "'?");
            return;
        }
        std::string hint =
            lowerCaseHolds ? " (keywords are lower case)" : " (say, cg, wait, play, stutter, turn)";
        addAt(checker, Severity::Warning, bracketAt, "no-keyword",
              "name " + shown(name) + " holds no command keyword" + hint + ", so it does nothing");
        return;
    }
    if (!plainName(name, kind)) {
        addAt(checker, Severity::Warning, bracketAt, "keyword-inside-name",
              "name " + shown(name) + " acts as '" + commandKeyword(kind) +
                  "', which is found inside it");
    }
    if (!checker->held && (kind == CommandKind::Say || kind == CommandKind::Stutter)) {
        ++checker->report->keyWaits;
    }
    switch (kind) {
    case CommandKind::Say:
        checkDrawable(checker, argument, argumentAt);
        noteLongLines(checker, argument, argumentAt);
        addDialogueLine(checker, argument, true, argumentAt, bracketAt);
        break;
    case CommandKind::Cg:
        checkScene(checker, argument, bracketAt);
        break;
    case CommandKind::Wait:
        checkWait(checker, argument, bracketAt);
        break;
    case CommandKind::Play:
        checkSound(checker, argument, bracketAt);
        break;
    case CommandKind::Stutter:
        checkStutter(checker, command, argument, bracketAt, argumentAt);
        break;
    case CommandKind::Turn:
        if (argument == "page") {
            turnPage(checker);
        } else {
            addAt(checker, Severity::Warning, bracketAt, "turn-argument",
                  "turn with " + shown(argument) + " does nothing; only 'page' turns the page");
        }
        break;
    case CommandKind::None:
        break;
    }
}

// A `{` and a digit between the commands of a block look like the next block, but
// inside a block they are plain content: the block before was not closed in time.
void checkBlockOpeners(Checker* checker, const BlockPlace& span, const std::vector<ItemSpan>& items,
                       uint32_t textEnd) {
    const std::string& bytes = checker->script.bytes;
    uint32_t from = span.contentStart;
    for (size_t i = 0; i <= items.size(); ++i) {
        uint32_t to = i < items.size() ? items[i].start - 1 : textEnd;
        for (uint32_t k = from; k + 1 < to; ++k) {
            if (bytes[k] == '{' && isDecimalDigit(bytes[k + 1])) {
                addAt(checker, Severity::Error, k, "brace-in-block",
                      "this '{' is inside block " + std::to_string(span.number) +
                          ", which is not closed before it: it opens no block, and the commands "
                          "after it belong to block " +
                          std::to_string(span.number));
                return;
            }
        }
        if (i < items.size()) {
            from = items[i].end + 1;
        }
    }
}

// The block the cursor walks, and the spans of its commands so far.
struct BlockWalk {
    bool open;
    BlockPlace span;
    uint32_t textEnd;  // a zero byte ends the text that is cut into commands
    bool cutShort;     // and came before the block's end
    uint32_t unclosed; // a `[` with no `]` after it, or UINT32_MAX
    std::vector<ItemSpan> items;
};

BlockWalk beginBlock(const CursorPlaces& places) {
    const BlockPlace& span = places.block;
    BlockWalk block = {true,
                       span,
                       span.contentStart + places.textLength,
                       places.textLength < span.contentEnd - span.contentStart,
                       places.items.unclosed,
                       {}};
    return block;
}

// The scenes and sounds the play meets, up to the command where it holds for good.
void noteFileUse(Checker* checker, const char* command, uint32_t start) {
    FileUse use;
    uint32_t argumentAt = 0;
    if (!checker->held && fileUseOf(command, start, &use, &argumentAt)) {
        positionOf(checker->script, start - 1, &use.line, &use.column);
        checker->report->uses.push_back(use);
    }
}

void checkPlayedCommand(Checker* checker, BlockWalk* block) {
    const ScriptPosition& cursor = checker->cursor;
    const char* command = cursor.commands[cursor.commandPointer];
    uint32_t start = block->span.contentStart + cursor.places.items.starts[cursor.commandPointer];
    uint32_t end = start + static_cast<uint32_t>(strlen(command));
    block->items.push_back(ItemSpan{start, end});
    TrapFinding trap;
    checker->lineExplained = false;
    PlaceOf placeOf = [checker](uint32_t offset) { return where(checker->script, offset); };
    if (bracketTrap(checker->script.bytes, start, end, block->textEnd, placeOf, &trap)) {
        addTrap(checker, trap, 0);
        checker->lineExplained = trap.code == "unclosed-command";
    }
    noteFileUse(checker, command, start);
    checkCommand(checker, command, start);
}

void endBlock(Checker* checker, const BlockWalk& block) {
    const BlockPlace& span = block.span;
    checkBlockOpeners(checker, span, block.items, block.textEnd);
    if (block.unclosed != UINT32_MAX && span.closed && !block.cutShort) {
        addAt(checker, Severity::Error, span.contentEnd, "brace-in-command",
              "'}' inside the command begun at " +
                  where(checker->script, span.contentStart + block.unclosed) + " closes block " +
                  std::to_string(span.number) +
                  ": the command is lost and the rest reads as text outside blocks");
    }
}

void noteBlock(Checker* checker, const BlockPlace& span) {
    ++checker->report->blocks;
    if (!span.closed) {
        addAt(checker, Severity::Error, span.open, "unclosed-block",
              "block " + std::to_string(span.number) +
                  " is never closed: it runs to the end of the file, and the search for block " +
                  std::to_string(span.number + 1) +
                  " starts again here, so commands after it may play twice");
    }
}

// Walks the play in the player's order. Returns the number that was not found and the
// offset its search started from; -1 when the walk ended otherwise.
void playBlocks(Checker* checker, std::vector<BlockPlace>* played, int32_t* missing,
                uint32_t* searchFrom) {
    ScriptPosition& cursor = checker->cursor;
    BlockWalk block = {};
    for (;;) {
        int32_t before = cursor.resumeOffset;
        int32_t number = cursor.nextBlockNumber;
        uint64_t scanned = cursor.places.scanned;
        WalkStep step = walkCursor(&cursor, kWalkBudget);
        if (step == WalkStep::Command) {
            checkPlayedCommand(checker, &block);
            continue;
        }
        if (block.open) {
            endBlock(checker, block);
        }
        if (step == WalkStep::Block) {
            block = beginBlock(cursor.places);
            played->push_back(block.span);
            noteBlock(checker, block.span);
            continue;
        }
        *searchFrom = static_cast<uint32_t>(before);
        // Seven digits at most: no higher number can be found.
        *missing = number > kLargestBlockNumber ? -1 : number;
        if (scanned > kWalkBudget) {
            addAt(checker, Severity::Warning, static_cast<uint32_t>(before), "checker-limit",
                  "bexu-check stops at block " + std::to_string(number) +
                      ": the unclosed blocks before it make every search read the rest of the "
                      "file again");
            *missing = -1;
        }
        return;
    }
}

// Blocks written in the file that the play never reaches, and stray braces.
void checkUnplayed(Checker* checker, const std::vector<BlockPlace>& played, int32_t missing,
                   uint32_t searchFrom) {
    std::vector<BlockPlace> written = writtenBlocks(&checker->window, checker->cursor.scriptFile);
    for (const BlockPlace& span : written) {
        if (span.digits == 0) {
            addAt(checker, Severity::Warning, span.open, "stray-brace",
                  "'{' outside a block starts a block number; with no digits after it, it opens "
                  "block 0 (write block numbers out, and no braces in notes)");
        }
    }
    auto wasPlayed = [&](const BlockPlace& span) {
        return std::any_of(played.begin(), played.end(),
                           [&](const BlockPlace& p) { return p.open == span.open; });
    };
    // A number in notes: what it would open holds no command, or holds a block the
    // player does read.
    const std::string& bytes = checker->script.bytes;
    auto strayNumber = [&](const BlockPlace& span) {
        bool commands = memchr(bytes.data() + span.contentStart, '[',
                               span.contentEnd - span.contentStart) != nullptr;
        return !commands || std::any_of(played.begin(), played.end(), [&](const BlockPlace& p) {
            return p.open > span.open && p.open < span.contentEnd;
        });
    };
    const BlockPlace* firstLater = nullptr;
    bool missingWritten = false;
    for (const BlockPlace& span : written) {
        // A stray brace that opened nothing the player reads is told above.
        if (wasPlayed(span) || span.digits == 0) {
            continue;
        }
        if (strayNumber(span)) {
            addAt(checker, Severity::Warning, span.open, "stray-brace",
                  "'{' outside a block starts block number " + std::to_string(span.number) +
                      " here, but no block the player reads (keep braces out of notes)");
            continue;
        }
        if (missing >= 0 && span.number == missing) {
            missingWritten = true;
            if (span.open < searchFrom) {
                addAt(checker, Severity::Error, span.open, "block-order",
                      "block " + std::to_string(missing) + " stands before the end of block " +
                          std::to_string(missing - 1) +
                          " and is never found; it and every later block never play");
            }
        } else if (missing < 0 || span.number < missing) {
            std::string playedAt;
            for (const BlockPlace& p : played) {
                if (p.number == span.number) {
                    playedAt = " at " + where(checker->script, p.open);
                }
            }
            addAt(checker, Severity::Error, span.open, "block-order",
                  "block " + std::to_string(span.number) +
                      " is never found: the reader has already played block " +
                      std::to_string(span.number) + playedAt);
        } else if (firstLater == nullptr || span.number < firstLater->number) {
            firstLater = &span;
        }
    }
    if (missing < 0 || missingWritten) {
        return;
    }
    if (firstLater != nullptr) {
        addAt(checker, Severity::Error, firstLater->open, "missing-block",
              "block " + std::to_string(missing) + " is missing, so block " +
                  std::to_string(firstLater->number) + " here and every later block never play");
    } else if (missing == 0) {
        addAt(checker, Severity::Error, 0, "missing-block",
              "the script has no block 0: the story plays nothing");
    }
}

bool readWhole(PlatformFile* file, std::string* bytes) {
    uint32_t size = 0;
    if (!platformFileSize(file, &size) || size > kLargestScriptSize || !platformSeekFile(file, 0)) {
        return false;
    }
    bytes->assign(size, '\0');
    uint32_t done = 0;
    while (done < size) {
        uint32_t got = 0;
        if (!platformReadFile(file, &(*bytes)[done], size - done, &got) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

// The title file as a whole: the window title is its every byte.
void checkTitle(CheckReport* report, int folder) {
    StoryFileOpened opened;
    std::string reached;
    PlatformFile* file = nullptr;
    if (reachFixedFile(report, folder, kTitleFileName, &opened, &reached) && !reached.empty()) {
        file = platformOpenFile(reached.c_str());
    }
    closeStoryFile(&opened);
    if (file == nullptr) {
        return;
    }
    std::string title;
    uint32_t size = 0;
    bool sized = platformFileSize(file, &size);
    bool read = sized && size <= kLargestTitle && readWhole(file, &title);
    platformCloseFile(file);
    if (sized && size > kLargestTitle) {
        addForFile(report, Severity::Error, "init.bexc", "title-too-long",
                   "is " + std::to_string(size >> 20) +
                       " MiB, no title a title bar can show; keep the title to one short line");
        return;
    }
    if (!read) {
        return;
    }
    Script text = {title, {}};
    if (!indexText(&text.lines, title.data(), static_cast<uint32_t>(title.size()))) {
        return;
    }
    for (const TrapFinding& trap : titleTraps(title)) {
        Diagnostic diagnostic = {trap.severity, kTitleFileName, 0, 0, trap.code, trap.message};
        positionOf(text, trap.offset, &diagnostic.line, &diagnostic.column);
        report->diagnostics.push_back(diagnostic);
    }
    releaseLineIndex(&text.lines);
}

// Read, and walked, from the descriptor that was checked.
bool readScript(Checker* checker) {
    StoryFileOpened opened;
    std::string reached;
    if (!reachFixedFile(checker->report, checker->folder, kScriptName, &opened, &reached)) {
        return false;
    }
    PlatformFile* file = reached.empty() ? nullptr : platformOpenFile(reached.c_str());
    bool read = file != nullptr && readWhole(file, &checker->script.bytes);
    platformCloseFile(file);
    if (!read) {
        addForFile(checker->report, Severity::Error, kScriptName, "script-unreadable",
                   file == nullptr ? std::string("cannot be opened: the player stops with \"") +
                                         kScriptMissingMessage + "\""
                                   : "cannot be read");
        closeStoryFile(&opened);
        return false;
    }
    const std::string& bytes = checker->script.bytes;
    bool walked =
        indexText(&checker->script.lines, bytes.data(), static_cast<uint32_t>(bytes.size())) &&
        openCursor(&checker->cursor, reached.c_str(), true);
    closeStoryFile(&opened);
    return walked;
}

void checkFolder(CheckReport* report, bool notes) {
    // Large: the cursor and the reader each hold a window of the script.
    auto* checker = new Checker{};
    checker->report = report;
    checker->notes = notes;
    checker->seed = kShotSeed;
    checker->folder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (readScript(checker)) {
        report->readable = true;
        turnPage(checker);
        checkSheet(report, checker->folder, kFontFileName, kFontSheetWidth, kFontSheetHeight,
                   "the font", "font-missing", "font-small");
        checkSheet(report, checker->folder, kTileFileName, kTileSize, kTileSize, "the tile pattern",
                   "tile-missing", "tile-small");
        checkTitle(report, checker->folder);
        std::vector<BlockPlace> played;
        int32_t missing = -1;
        uint32_t searchFrom = 0;
        playBlocks(checker, &played, &missing, &searchFrom);
        checkUnplayed(checker, played, missing, searchFrom);
        std::stable_sort(report->diagnostics.begin(), report->diagnostics.end(),
                         [](const Diagnostic& a, const Diagnostic& b) {
                             if (a.file != b.file) {
                                 return a.file != kScriptName && b.file == kScriptName;
                             }
                             return a.line != b.line ? a.line < b.line : a.column < b.column;
                         });
    }
    closeCursor(&checker->cursor);
    releaseLineIndex(&checker->script.lines);
    if (checker->folder >= 0) {
        close(checker->folder);
    }
    delete checker;
}

} // namespace

CheckReport checkStory(const std::string& folder, bool notes) {
    CheckReport report = {};
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr) {
        addForFile(&report, Severity::Error, "", "folder-unreadable",
                   "the current folder cannot be told");
        return report;
    }
    if (chdir(folder.c_str()) != 0) {
        addForFile(&report, Severity::Error, "", "folder-unreadable", "cannot be entered");
        return report;
    }
    checkFolder(&report, notes);
    if (chdir(previous) != 0) {
        perror("bexu-check: cannot return to the current folder");
    }
    return report;
}

uint32_t countSeverity(const CheckReport& report, Severity severity) {
    return static_cast<uint32_t>(
        std::count_if(report.diagnostics.begin(), report.diagnostics.end(),
                      [severity](const Diagnostic& d) { return d.severity == severity; }));
}
