#include "tool_run.h"

#include "png_reference.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <sys/wait.h>

ToolRun runCommand(const std::string& command) {
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, got);
    }
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string builtProgram(const char* name) {
    return shellQuoted(std::string(BEXU_BINARY_DIR) + "/" + name);
}

std::string testName(const char* name) {
    std::string out;
    for (const char* c = name; *c != '\0'; ++c) {
        out += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
    return out;
}

std::string demoStoryFolder() {
    std::string demo = std::string(BEXU_SOURCE_DIR) + "/examples/demo";
    return readFile(demo + "/script.bexu").empty() ? std::string() : demo;
}

TestImage readPpm(const std::string& path) {
    std::string bytes = readFile(path);
    int width = 0;
    int height = 0;
    int maximum = 0;
    int header = 0;
    if (sscanf(bytes.c_str(), "P6 %d %d %d%n", &width, &height, &maximum, &header) != 3 ||
        maximum != 255 || width <= 0 || height <= 0) {
        return TestImage{0, 0, {}};
    }
    size_t start = static_cast<size_t>(header) + 1; // one blank after the maximum
    size_t count = size_t(width) * size_t(height);
    if (bytes.size() < start + count * 3) {
        return TestImage{0, 0, {}};
    }
    TestImage image{width, height, std::vector<uint32_t>(count)};
    for (size_t i = 0; i < count; ++i) {
        auto byte = [&](size_t k) { return uint32_t(uint8_t(bytes[start + i * 3 + k])); };
        image.pixels[i] = byte(0) << 16 | byte(1) << 8 | byte(2);
    }
    return image;
}

TestImage readPngImage(const std::string& path) {
    ReferenceImage png;
    if (!readPng(path, &png)) {
        return TestImage{0, 0, {}};
    }
    TestImage image{png.width, png.height, png.pixels};
    for (uint32_t& pixel : image.pixels) {
        pixel &= 0xFFFFFF;
    }
    return image;
}

std::vector<std::string> filesEndingWith(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
