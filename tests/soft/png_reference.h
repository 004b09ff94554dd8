// Reference images of the BMP suite, read with libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReferenceImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels; // 0xAARRGGBB, rows top-down
};

bool readPng(const std::string& path, ReferenceImage* image);
