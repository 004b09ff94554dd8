#include "support/test_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace {
void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
} // namespace

TestImage solidImage(int32_t width, int32_t height, uint32_t pixel) {
    return TestImage{width, height, std::vector<uint32_t>(size_t(width) * height, pixel)};
}

std::vector<uint8_t> encodeBmp24(const TestImage& image) {
    uint32_t rowBytes = (uint32_t(image.width) * 3 + 3) & ~3u;
    uint32_t dataSize = rowBytes * uint32_t(image.height);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + dataSize);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, uint32_t(image.width));
    put32(out, uint32_t(image.height));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, dataSize);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int32_t y = image.height - 1; y >= 0; --y) {
        for (int32_t x = 0; x < image.width; ++x) {
            uint32_t p = image.at(x, y);
            out.push_back(uint8_t(p));
            out.push_back(uint8_t(p >> 8));
            out.push_back(uint8_t(p >> 16));
        }
        for (uint32_t pad = uint32_t(image.width) * 3; pad < rowBytes; ++pad) {
            out.push_back(0);
        }
    }
    return out;
}

uint32_t testFontPixel(unsigned char c, int32_t x, int32_t y) {
    // A diagonal band per cell keeps part of it transparent; the colour names the byte.
    if ((x + y + c) % 3 == 0) {
        return 0xFF00FF;
    }
    return (uint32_t(c) << 16) | (uint32_t(x * 10) << 8) | uint32_t(y * 7);
}

TestImage testFontSheet() {
    TestImage sheet = solidImage(400, 198, 0xFF00FF);
    for (int c = 32; c < 128; ++c) {
        int32_t left = ((c - 32) % 16) * 25;
        int32_t top = ((c - 32) / 16) * 33;
        for (int32_t y = 0; y < 33; ++y) {
            for (int32_t x = 0; x < 25; ++x) {
                sheet.pixels[size_t(top + y) * 400 + left + x] =
                    testFontPixel(static_cast<unsigned char>(c), x, y);
            }
        }
    }
    return sheet;
}

TestImage testTile() {
    TestImage tile = solidImage(32, 32, 0);
    for (int32_t y = 0; y < 32; ++y) {
        for (int32_t x = 0; x < 32; ++x) {
            tile.pixels[size_t(y) * 32 + x] = ((x / 4 + y / 4) % 2) ? 0x404040 : 0xC0C0C0;
        }
    }
    return tile;
}

std::string makeTempFolder() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/bexu-test-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    return name.data();
}

std::string copyForAnyUser(const std::string& program, const std::string& folder) {
    size_t slash = program.rfind('/');
    std::string copy = folder + "/" + program.substr(slash == std::string::npos ? 0 : slash + 1);
    writeFile(copy, readFile(program));
    chmod(copy.c_str(), 0755);
    return copy;
}

void removeFolder(const std::string& path) {
    if (path.find("/bexu-test-") == std::string::npos) {
        return; // never anything but our own temporary folders
    }
    std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0) {
        fprintf(stderr, "could not remove %s\n", path.c_str());
    }
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string makeStoryFolder(const std::string& script) {
    std::string folder = makeTempFolder();
    writeFile(folder + "/script.bexu", script);
    writeFile(folder + "/font.bmp", encodeBmp24(testFontSheet()));
    writeFile(folder + "/transparency.bmp", encodeBmp24(testTile()));
    return folder;
}
