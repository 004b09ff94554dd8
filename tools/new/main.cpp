// bexu-new DIR [--font FONT.ttf] [--title TEXT]: starts a story folder that plays and
// passes bexu-check: a font sheet made from an outline font, the tile pattern, one
// scene, one sound and a three-line script.
#include "check/author_traps.h"
#include "common/bmp_writer.h"
#include "font/font_sheet.h"
#include "format/story_format.h"
#include "new/story_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] =
    "usage: bexu-new DIR [--font FONT.ttf] [--title TEXT]\n"
    "Makes the story folder DIR (new, or empty) with script.bexu, font.bmp (from FONT.ttf,\n"
    "default DejaVu Sans Mono Bold from fonts-dejavu-core), transparency.bmp, scene.bmp, "
    "chime.wav\n"
    "and init.bexc (the window title, default the folder's name).\n";

const char kDefaultFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";

const char kScript[] = "{0 [cg~scene.bmp][play~chime.wav]\n"
                       "  [say~Your story starts here. Press Space to read on.]\n"
                       "  [say~Write it in script.bexu, then run bexu-check.]}\n";

bool emptyOrNew(const std::string& folder) {
    if (mkdir(folder.c_str(), 0755) == 0) {
        return true;
    }
    DIR* dir = errno == EEXIST ? opendir(folder.c_str()) : nullptr;
    if (dir == nullptr) {
        return false;
    }
    bool empty = true;
    while (dirent* entry = readdir(dir)) {
        empty = empty && (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0);
    }
    closedir(dir);
    return empty;
}

bool makeFont(const std::string& fontPath, const std::string& out) {
    FontFace font;
    std::string error;
    if (!openFontFace(fontPath, &font, &error)) {
        fprintf(stderr, "bexu-new: %s\n", error.c_str());
        return false;
    }
    // Light glyphs with a dark outline read over any art; a monospaced font fills the
    // fixed cells best, its narrower glyphs widened a little as the cells are wider.
    FontStyle style;
    style.stretch = 1.25;
    std::string report;
    int32_t size = chooseSize(&font, style, &report);
    SizeFit fit;
    Sheet sheet;
    bool made = size != 0 && measureSize(&font, style, size, &fit) &&
                buildSheet(font.library, style, fit, &sheet) &&
                writeBmp24(out, kFontSheetWidth, kFontSheetHeight, sheet.pixels.data());
    if (made) {
        printf("bexu-new: font.bmp from %s at %s\n", font.name.c_str(), report.c_str());
        std::string spaced = letterSpacingWarning(font, fit);
        if (!spaced.empty()) {
            fprintf(stderr, "bexu-new: warning: %s\n", spaced.c_str());
        }
    } else {
        fprintf(stderr, "bexu-new: cannot make font.bmp from %s: %s\n", fontPath.c_str(),
                report.c_str());
    }
    closeFontFace(&font);
    return made;
}

std::string folderName(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder.substr(folder.rfind('/') + 1);
}

// The folder this program runs from, where the player and the other tools are built,
// with a final slash; empty when it cannot be told.
std::string toolFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "";
    }
    std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.rfind('/') + 1);
}

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    std::string fontPath = kDefaultFont;
    std::string title;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        } else if (strcmp(argv[i], "--font") == 0 && hasValue) {
            fontPath = argv[++i];
        } else if (strcmp(argv[i], "--title") == 0 && hasValue) {
            title = argv[++i];
        } else if (argv[i][0] == '-' || !folder.empty()) {
            fprintf(stderr, "bexu-new: unexpected argument '%s'\n%s", argv[i], kUsage);
            return 2;
        } else {
            folder = argv[i];
        }
    }
    if (folder.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    // The one title rule: what bexu-check calls an error and bexu-pack will not pack.
    std::vector<TrapFinding> titleTrouble = titleTraps(title);
    if (!titleTrouble.empty()) {
        fprintf(stderr, "bexu-new: --title cannot be used: %s\n", titleTrouble[0].message.c_str());
        return 2;
    }
    if (!emptyOrNew(folder)) {
        fprintf(stderr, "bexu-new: '%s' cannot be made, or is a folder that is not empty\n",
                folder.c_str());
        return 2;
    }
    if (title.empty()) {
        // The folder's name, less what no title bar shows as written.
        std::string name = folderName(folder);
        title = titleMadeSafe(name);
        if (title != name) {
            printf("bexu-new: the folder's name holds bytes a title bar does not show as "
                   "written; the title is '%s' (--title gives another)\n",
                   title.c_str());
        }
    }
    std::string at = folder + "/";
    if (!makeFont(fontPath, at + kFontFileName)) {
        return 1;
    }
    if (!writeTile(at + kTileFileName) || !writeScene(at + "scene.bmp") ||
        !writeChime(at + "chime.wav") || !writeText(at + kScriptFileName, kScript) ||
        !writeText(at + kTitleFileName, title)) {
        fprintf(stderr, "bexu-new: cannot write into '%s'\n", folder.c_str());
        return 2;
    }
    std::string tools = toolFolder();
    printf("bexu-new: made the story '%s' in %s\n"
           "  check it: %sbexu-check %s\n"
           "  play it:  cd %s && %sbexu\n",
           title.c_str(), folder.c_str(), tools.c_str(), folder.c_str(), folder.c_str(),
           tools.c_str());
    return 0;
}
