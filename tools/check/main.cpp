// bexu-check [DIR] [--json] [--notes]: reports the traps of the story in DIR (default: here).
// Exit code 0 without errors, 1 with errors, 2 when the script cannot be read.
#include "check/story_check.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: bexu-check [DIR] [--json] [--notes]\n"
                      "Checks the story in DIR (default: the current folder) the way the player\n"
                      "reads it. --notes adds notes on style (how a stammered line with '/'\n"
                      "reads without its stammers).\n"
                      "Exit code 0 without errors, 1 with errors, 2 when the script cannot be\n"
                      "read.\n";

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    bool json = false;
    bool notes = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (strcmp(argv[i], "--notes") == 0) {
            notes = true;
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        } else if (argv[i][0] == '-' || !folder.empty()) {
            fprintf(stderr, "bexu-check: unexpected argument '%s'\n%s", argv[i], kUsage);
            return 2;
        } else {
            folder = argv[i];
        }
    }
    std::string prefix = folderPrefix(folder);
    CheckReport report = checkStory(folder.empty() ? "." : folder, notes);
    std::string out = json ? formatJson(report, prefix) : formatText(report, prefix);
    fputs(out.c_str(), stdout);
    if (!report.readable) {
        return 2;
    }
    return countSeverity(report, Severity::Error) > 0 ? 1 : 0;
}
