// Runs the built tools as a user would, and reads what they write.
#pragma once

#include "support/test_files.h"

#include <string>
#include <vector>

struct ToolRun {
    int exitCode = -1;
    std::string output; // standard output
};

// Runs `command` (a shell command line) and collects its standard output.
ToolRun runCommand(const std::string& command);
// The path of a program built beside the player, quoted for the shell.
std::string builtProgram(const char* name);
std::string shellQuoted(const std::string& text);

// A table row's name as a test's name: letters and digits kept, the rest '_'.
std::string testName(const char* name);

// The bundled demo story's folder, or empty while it has not landed.
std::string demoStoryFolder();

// A PPM (P6) frame as the headless backend dumps it; width 0 when unreadable.
TestImage readPpm(const std::string& path);
// A PNG as RGB pixels; width 0 when unreadable.
TestImage readPngImage(const std::string& path);
// Files of `folder` whose names end with `suffix`, sorted by name.
std::vector<std::string> filesEndingWith(const std::string& folder, const std::string& suffix);
