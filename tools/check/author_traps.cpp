#include "check/author_traps.h"

#include "check/check_text.h"
#include "engine/engine.h"
#include "render/render.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool isNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDecimalDigit(c);
}

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Edits (insert, delete, replace, swap two neighbours) from one word to the other.
size_t editDistance(const std::string& from, const std::string& to) {
    std::vector<std::vector<size_t>> d(from.size() + 1, std::vector<size_t>(to.size() + 1));
    for (size_t i = 0; i <= from.size(); ++i) {
        for (size_t j = 0; j <= to.size(); ++j) {
            if (i == 0 || j == 0) {
                d[i][j] = i + j;
                continue;
            }
            size_t cost = from[i - 1] == to[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && from[i - 1] == to[j - 2] && from[i - 2] == to[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[from.size()][to.size()];
}

// The characters a UTF-8 finding names.
constexpr size_t kNamedCharacters = 4;

struct Replacement {
    uint32_t code;
    const char* name;
    const char* ascii;
};

const Replacement kReplacements[] = {
    {0x2018, "left single quotation mark", "'"},
    {0x2019, "right single quotation mark", "'"},
    {0x201C, "left double quotation mark", "\""},
    {0x201D, "right double quotation mark", "\""},
    {0x2013, "en dash", "-"},
    {0x2014, "em dash", "--"},
    {0x2026, "ellipsis", "..."},
    {0x00A0, "no-break space", "a space"},
    {0x00AB, "left guillemet", "\""},
    {0x00BB, "right guillemet", "\""},
};

// The code point of the UTF-8 sequence at `at`, and its length; 0 when not UTF-8.
uint32_t decodeUtf8(const std::string& text, size_t at, uint32_t* code) {
    auto lead = static_cast<unsigned char>(text[at]);
    uint32_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) {
        return 0;
    }
    uint32_t value = lead & (0x7F >> length);
    for (uint32_t i = 1; i < length; ++i) {
        auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        return 0;
    }
    *code = value;
    return length;
}

std::string characterName(uint32_t code) {
    char number[16];
    snprintf(number, sizeof number, "U+%04X", code);
    for (const Replacement& r : kReplacements) {
        if (r.code == code) {
            return std::string(number) + " " + r.name + " (write " + r.ascii + " instead)";
        }
    }
    if (code >= 0xC0 && code <= 0x17F) {
        return std::string(number) + ", a letter with an accent (write it without)";
    }
    return number;
}

// The UTF-8 characters of a text, in order, each once; false when some byte beyond
// ASCII is not part of a UTF-8 sequence.
bool utf8Characters(const std::string& text, std::vector<uint32_t>* codes, size_t* first) {
    bool any = false;
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        uint32_t code = 0;
        uint32_t length = decodeUtf8(text, i, &code);
        if (length == 0) {
            return false;
        }
        if (!any) {
            *first = i;
        }
        any = true;
        // Enough to name a few and tell that there are more; a longer list would make
        // each look-up slower on a line of many different characters.
        if (codes->size() <= kNamedCharacters &&
            std::find(codes->begin(), codes->end(), code) == codes->end()) {
            codes->push_back(code);
        }
        i += length;
    }
    return any;
}

std::string lineWord(const std::string& line, size_t at) {
    size_t from = line.find_last_of(' ', at);
    size_t to = line.find(' ', at);
    from = from == std::string::npos ? 0 : from + 1;
    return line.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

} // namespace

bool bracketTrap(const std::string& bytes, uint32_t start, uint32_t end, uint32_t textEnd,
                 const PlaceOf& placeOf, TrapFinding* out) {
    const void* inner = memchr(bytes.data() + start, '[', end - start);
    if (inner == nullptr) {
        return false;
    }
    auto at = static_cast<uint32_t>(static_cast<const char*>(inner) - bytes.data());
    uint32_t nameEnd = at + 1;
    while (nameEnd < end && isNameByte(bytes[nameEnd])) {
        ++nameEnd;
    }
    if (nameEnd > at + 1 && nameEnd < end && bytes[nameEnd] == '~') {
        *out = {Severity::Error, "unclosed-command", start - 1,
                "this command is not closed before the '[' at " + placeOf(at) +
                    ": the two are read as one command, so " + shown(bytes.substr(at, end - at)) +
                    " becomes part of this one's argument (a say shows it as text, its '~' left "
                    "out) and never runs; close this command with ']'"};
        return true;
    }
    const void* next =
        end < textEnd ? memchr(bytes.data() + end + 1, '[', textEnd - end - 1) : nullptr;
    uint32_t lostEnd = next == nullptr
                           ? textEnd
                           : static_cast<uint32_t>(static_cast<const char*>(next) - bytes.data());
    std::string lost = end < textEnd ? trimmed(bytes.substr(end + 1, lostEnd - end - 1)) : "";
    *out = {Severity::Warning, "bracket-in-command", at,
            "'[' inside the command begun at " + placeOf(start - 1) +
                ": the command ends at the first ']' (" + placeOf(end) + ")" +
                (lost.empty() ? std::string() : ", and " + shown(lost) + " after it is lost") +
                "; a command cannot hold brackets: write ( ) instead"};
    return true;
}

std::string likelyKeyword(const std::string& name) {
    std::string lowered = name;
    for (char& c : lowered) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    size_t digits = lowered.find_last_not_of("0123456789") + 1;
    std::string base = lowered.substr(0, digits);
    std::string best;
    size_t bestDistance = SIZE_MAX;
    // Two edits from the longest keyword at most: longer names are never near one.
    if (base.size() > strlen("stutter") + 2) {
        return best;
    }
    for (CommandKind kind : kCommandKindOrder) {
        const char* keyword = commandKeyword(kind);
        size_t distance = editDistance(base, keyword);
        size_t allowed = strlen(keyword) <= 3 ? 1 : 2;
        if (!base.empty() && distance <= allowed && distance < bestDistance) {
            best = keyword;
            bestDistance = distance;
        }
    }
    if (best == "stutter") {
        best += lowered.substr(digits);
    }
    return best;
}

bool sceneSizeTrap(const std::string& path, int32_t width, int32_t height, std::string* message) {
    if (width == kCanvasWidth && height == kCanvasHeight) {
        return false;
    }
    std::vector<std::string> parts;
    if (width > kCanvasWidth) {
        parts.push_back(std::to_string(width - kCanvasWidth) + " columns at the right are cropped");
    }
    if (height > kCanvasHeight) {
        parts.push_back(std::to_string(height - kCanvasHeight) + " rows at the bottom are cropped");
    }
    if (width < kCanvasWidth) {
        parts.push_back("a black margin " + std::to_string(kCanvasWidth - width) +
                        " pixels wide shows at the right");
    }
    if (height < kCanvasHeight) {
        parts.push_back("a black margin " + std::to_string(kCanvasHeight - height) +
                        " pixels high shows at the bottom");
    }
    std::string joined = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        joined += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    std::string canvas = std::to_string(kCanvasWidth) + " x " + std::to_string(kCanvasHeight);
    *message = "scene " + shown(path) + " is " + std::to_string(width) + " x " +
               std::to_string(height) + " but the canvas is " + canvas +
               " and shows it unscaled from its top-left corner: " + joined + "; convert it to " +
               canvas + " with bexu-scene (docs/authoring.md)";
    return true;
}

bool findIgnoringCase(const std::string& path, std::string* found) {
    std::string at = path[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? path.size() + 1 : slash + 1;
        if (part.empty()) {
            continue;
        }
        struct stat info;
        std::string exact = at + part;
        if (part == "." || part == ".." || stat(exact.c_str(), &info) == 0) {
            at = exact + (start <= path.size() ? "/" : "");
            continue;
        }
        DIR* dir = opendir(at.empty() ? "." : at.c_str());
        std::string match;
        while (dir != nullptr && match.empty()) {
            dirent* entry = readdir(dir);
            if (entry == nullptr) {
                break;
            }
            if (strcasecmp(entry->d_name, part.c_str()) == 0) {
                match = entry->d_name;
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        if (match.empty()) {
            return false;
        }
        at += match + (start <= path.size() ? "/" : "");
    }
    *found = at;
    return !at.empty();
}

bool absoluteName(const std::string& path) {
    return !path.empty() && (path[0] == '/' || (path.size() > 1 && path[1] == ':' &&
                                                isalpha(static_cast<unsigned char>(path[0]))));
}

bool climbsOutOfFolder(const std::string& path) {
    int depth = 0;
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        depth += part == ".." ? -1 : (part.empty() || part == "." ? 0 : 1);
        if (depth < 0) {
            return true;
        }
        start = slash == std::string::npos ? path.size() : slash + 1;
    }
    return false;
}

TitleByte titleByteKind(unsigned char c) {
    if (c == '\n' || c == '\r') {
        return TitleByte::LineBreak;
    }
    if (c < 32 || c == 127) {
        return TitleByte::Control;
    }
    return c >= 128 ? TitleByte::BeyondAscii : TitleByte::Shown;
}

bool pathTrap(const std::string& path, bool opens, bool scene, TrapFinding* out) {
    if (path.empty()) {
        return false;
    }
    Severity stops = scene ? Severity::Error : Severity::Warning;
    std::string what = scene ? "the Linux player stops with \"Failed to load scene.\""
                             : "the Linux player plays nothing";
    std::string slashed = path;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::string found;
    if (!opens && findIgnoringCase(slashed, &found) && found != path) {
        if (slashed != path) {
            *out = {stops, "path-backslash", 0,
                    shown(path) + " has '\\' between folders: it works on Windows, but " + what +
                        "; the file is " + shown(found) + ": write '/'"};
        } else {
            *out = {stops, "path-case", 0,
                    shown(path) + " is found only as " + shown(found) +
                        ": it works on Windows, whose names ignore case, but " + what +
                        "; write the name as the file has it"};
        }
        return true;
    }
    if (absoluteName(slashed) || climbsOutOfFolder(slashed)) {
        *out = {Severity::Warning, "path-outside", 0,
                shown(path) + " lies outside the story folder: it works on this machine only and "
                              "breaks once the story is shared; copy the file into the story "
                              "folder and name it from there"};
        return true;
    }
    return false;
}

bool utf8Trap(const std::string& line, TrapFinding* out) {
    std::vector<uint32_t> codes;
    size_t first = 0;
    if (!utf8Characters(line, &codes, &first)) {
        return false;
    }
    std::string named;
    for (size_t i = 0; i < codes.size() && i < kNamedCharacters; ++i) {
        named += (i == 0 ? "" : ", ") + characterName(codes[i]);
    }
    if (codes.size() > kNamedCharacters) {
        named += " and more";
    }
    *out = {Severity::Warning, "utf8-text", static_cast<uint32_t>(first),
            "this line is UTF-8 text, which the font cannot draw: " + named +
                "; the player leaves these bytes out. Write plain ASCII"};
    return true;
}

// Where the player's pen wraps each line of the text: rows start over at each line
// break, so a break is always the renderer's own.
std::vector<TrapFinding> longLineTraps(const std::string& line) {
    std::vector<TrapFinding> traps;
    PenPlace pen = {0, 0};
    uint32_t glyphs = 0;
    size_t breakAt = std::string::npos;
    size_t lastGlyph = 0;
    size_t beforeBreak = 0;
    size_t rowStart = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        auto c = static_cast<unsigned char>(i < line.size() ? line[i] : '\n');
        if (c == '\n') {
            if (breakAt != std::string::npos) {
                std::string row = line.substr(rowStart, i - rowStart);
                bool midWord = line[breakAt] != ' ' && line[beforeBreak] != ' ';
                std::string where = midWord ? "in the middle of the word " +
                                                  shown(lineWord(row, breakAt - rowStart))
                                            : "between words";
                traps.push_back({Severity::Warning, "long-line", static_cast<uint32_t>(breakAt),
                                 "this line is " + std::to_string(glyphs) +
                                     " glyphs long; a row holds " + std::to_string(kGlyphsPerLine) +
                                     ", so the player breaks it here, " + where +
                                     "; break the line yourself (a new say) where it reads well"});
            }
            pen = {0, 0};
            glyphs = 0;
            breakAt = std::string::npos;
            rowStart = i + 1;
            continue;
        }
        PenPlace glyph = {0, 0};
        if (movePen(&pen, 0, c, &glyph) != PenMove::Glyph) {
            continue;
        }
        if (glyph.y > 0 && breakAt == std::string::npos) {
            breakAt = i;
            beforeBreak = lastGlyph;
        }
        ++glyphs;
        lastGlyph = i;
    }
    return traps;
}

namespace {

// Glyphs one stammer pair adds to the row it stands in: the first byte, if the font
// draws it, and the '-'. Pairs of a line break and '-' end the row before them instead,
// and make rows of one '-' each.
uint32_t pairGlyphs(unsigned char first) {
    if (first == '\n') {
        return 0;
    }
    return (isTextGlyph(first) ? 1 : 0) + 1;
}

// Counts a row's glyphs as the layout grows, and where it first passes the row.
struct RowCount {
    uint32_t glyphs;
    uint32_t most;
};

void countGlyphs(RowCount* row, uint32_t added) {
    row->glyphs += added;
    row->most = std::max(row->most, row->glyphs);
}

} // namespace

StammerLayout stammerLayout(const std::string& argument, uint32_t intensity) {
    StammerLayout layout = {"", {}, 0, 0, UINT32_MAX};
    uint32_t pairs = intensity > 0 ? intensity - 1 : 0;
    RowCount plain = {0, 0};
    RowCount worst = {0, 0};
    auto passes = [&](uint32_t at) {
        if (worst.glyphs > uint32_t(kGlyphsPerLine) && layout.worstBreak == UINT32_MAX) {
            layout.worstBreak = at;
        }
    };
    bool partStart = true;
    for (uint32_t i = 0; i < argument.size(); ++i) {
        auto c = static_cast<unsigned char>(argument[i]);
        if (c == ' ' || c == '/') {
            // A space is kept and ends the word; a '/' ends the syllable and goes.
            if (c == ' ') {
                layout.plain += ' ';
                layout.from.push_back(i);
                countGlyphs(&plain, 1);
                countGlyphs(&worst, 1);
                passes(i);
            }
            partStart = true;
            continue;
        }
        if (partStart) {
            partStart = false;
            if (c == '%') {
                continue; // no stammer, and the mark goes
            }
            // Any stammer comes before the syllable's first byte.
            countGlyphs(&worst, pairs * pairGlyphs(c));
            passes(i);
            if (c == '\n' && pairs > 0) {
                worst.most = std::max(worst.most, 1u);
            }
        }
        layout.plain += static_cast<char>(c);
        layout.from.push_back(i);
        if (c == '\n') {
            plain.glyphs = 0;
            worst.glyphs = 0;
        } else if (isTextGlyph(c)) {
            countGlyphs(&plain, 1);
            countGlyphs(&worst, 1);
            passes(i);
        }
    }
    layout.shortest = plain.most;
    layout.longest = worst.most;
    return layout;
}

uint32_t longestRow(const std::string& text) {
    RowCount row = {0, 0};
    for (char c : text) {
        if (c == '\n') {
            row.glyphs = 0;
        } else if (isTextGlyph(static_cast<unsigned char>(c))) {
            countGlyphs(&row, 1);
        }
    }
    return row.most;
}

namespace {

// The word of the line without stammers that holds the argument's byte `at`.
std::string plainWordAt(const StammerLayout& layout, uint32_t at) {
    auto index = std::lower_bound(layout.from.begin(), layout.from.end(), at) - layout.from.begin();
    return layout.plain.empty()
               ? ""
               : lineWord(layout.plain, std::min<size_t>(size_t(index), layout.plain.size() - 1));
}

} // namespace

bool stammerTrap(const StammerLayout& layout, uint32_t intensity, uint32_t sheetGlyphs,
                 TrapFinding* out) {
    if (layout.worstBreak == UINT32_MAX || layout.shortest > uint32_t(kGlyphsPerLine)) {
        return false;
    }
    *out = {Severity::Warning, "stammer-long-line", layout.worstBreak,
            "with stammers of up to " + std::to_string(intensity - 1) + " repeats this line of " +
                std::to_string(layout.shortest) + " glyphs can grow to " +
                std::to_string(layout.longest) + "; a row holds " + std::to_string(kGlyphsPerLine) +
                ", so the player may break it here, in " +
                shown(plainWordAt(layout, layout.worstBreak)) + " (with bexu-shot's seed it is " +
                std::to_string(sheetGlyphs) +
                " glyphs long); shorten it, split it, or mark syllables that must not stammer "
                "with '%'"};
    return true;
}

bool readsAsNote(const std::string& argument, const StammerLayout& layout, TrapFinding* out) {
    size_t slash = argument.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    *out = {Severity::Note, "stammer-reads-as", static_cast<uint32_t>(slash),
            "reads as: " + shown(layout.plain, 80) +
                " (a '/' joins the syllables it divides with no gap)"};
    return true;
}

std::vector<TrapFinding> titleTraps(const std::string& title) {
    std::vector<TrapFinding> found;
    size_t end = title.size();
    if (end > 0 && title[end - 1] == '\n') {
        end -= end > 1 && title[end - 2] == '\r' ? 2 : 1;
        found.push_back({Severity::Error, "title-line-break", static_cast<uint32_t>(end),
                         "init.bexc ends with a line break, which becomes part of the window "
                         "title; save the file without one (printf 'My Story' > init.bexc)"});
    }
    for (size_t i = 0; i < end; ++i) {
        auto c = static_cast<unsigned char>(title[i]);
        TitleByte kind = titleByteKind(c);
        if (kind == TitleByte::LineBreak || kind == TitleByte::Control) {
            found.push_back({Severity::Error, "title-control-byte", static_cast<uint32_t>(i),
                             "the title holds " + byteName(c) +
                                 ", which title bars show as a box or not at all; keep the title "
                                 "to one line of plain text"});
            break;
        }
    }
    std::vector<uint32_t> codes;
    size_t first = 0;
    std::string body = title.substr(0, end);
    if (utf8Characters(body, &codes, &first)) {
        found.push_back({Severity::Error, "title-non-ascii", static_cast<uint32_t>(first),
                         "the title is UTF-8, " + characterName(codes[0]) +
                             ": the players read a title as Windows-1252 text, so each such "
                             "character shows as two or three others; keep the title to plain "
                             "ASCII"});
    } else {
        auto beyond = std::find_if(body.begin(), body.end(), [](char c) {
            return titleByteKind(static_cast<unsigned char>(c)) == TitleByte::BeyondAscii;
        });
        if (beyond != body.end()) {
            found.push_back({Severity::Error, "title-non-ascii",
                             static_cast<uint32_t>(beyond - body.begin()),
                             "the title holds " + byteName(static_cast<unsigned char>(*beyond)) +
                                 ", which the players show as a Windows-1252 letter and a "
                                 "Windows set to another code page as another; keep the title to "
                                 "plain ASCII"});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const TrapFinding& a, const TrapFinding& b) { return a.offset < b.offset; });
    return found;
}

std::string titleMadeSafe(const std::string& title) {
    std::string safe;
    for (char c : title) {
        if (titleByteKind(static_cast<unsigned char>(c)) == TitleByte::Shown) {
            safe += c;
        }
    }
    return safe;
}
