// Inputs as files: the player reads its script and pictures through file handles,
// so the harnesses hand their input over the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// A private folder for one fuzzing process, made at the first call.
inline const std::string& fuzzFolder() {
    static std::string folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/bexu-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        return pattern;
    }();
    return folder;
}

// Writes `size` bytes to `name` in the fuzz folder and returns its path.
inline std::string writeFuzzFile(const char* name, const uint8_t* data, size_t size) {
    std::string path = fuzzFolder() + "/" + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && fwrite(data, 1, size, file) != size)) {
        perror(path.c_str());
        abort();
    }
    fclose(file);
    return path;
}
