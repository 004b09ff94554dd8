// What goes into a release archive, and the streaming of it: files are read and
// written in chunks, so a story of any size never sits in memory whole.
#pragma once

#include "common/progress.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ArchiveEntry {
    std::string path; // inside the archive, '/'-separated; folders end with '/'
    bool folder;
    bool executable;
    std::string source; // file on disk to stream after `bytes`, or empty
    std::string bytes;  // made by the packer (read-me, launcher), or what comes before `source`
    uint64_t size;      // of the file on disk, as seen when the story was read
    // When set, `source` is a name in this story folder, read never through a link
    // that leads out of it.
    std::string storyFolder = "";
    // A zip keeps the entry as it is (its data is compressed already).
    bool stored = false;
};

// Every archive has the same time on every entry, so the same input gives the same bytes.
constexpr uint32_t kArchiveYear = 2024;
constexpr int64_t kArchiveUnixTime = 1704067200; // 2024-01-01 00:00:00 UTC

constexpr size_t kStreamChunk = 256 * 1024;

// An output file that remembers its first failure.
struct OutputFile {
    FILE* file;
    uint64_t written;
    bool failed;
    std::string* error;
    Progress* progress; // advanced by the bytes of the entries read; may be none
};

bool writeBytes(OutputFile* out, const void* bytes, size_t count);
void failWith(OutputFile* out, const std::string& message);

// Calls `take(bytes, count)` for each chunk of the entry's content, and advances
// `progress` (when there is one) by it; false (with `*error` set) when the file cannot be
// read or no longer has the size it had.
template <typename Take>
bool streamEntry(const ArchiveEntry& entry, Take take, Progress* progress, std::string* error);

// The chunk reader behind streamEntry: opens the source, fills `buffer` in turns.
struct SourceReader {
    int descriptor;
    uint64_t left;
};
bool openSource(const ArchiveEntry& entry, SourceReader* reader, std::string* error);
// Next chunk into `buffer`: `*got` bytes; false on a read failure or early end.
bool readSource(const ArchiveEntry& entry, SourceReader* reader, std::vector<char>* buffer,
                size_t* got, std::string* error);
void closeSource(SourceReader* reader);

template <typename Take>
bool streamEntry(const ArchiveEntry& entry, Take take, Progress* progress, std::string* error) {
    if (!entry.bytes.empty() && !take(entry.bytes.data(), entry.bytes.size())) {
        return false;
    }
    if (entry.source.empty()) {
        return true;
    }
    SourceReader reader = {};
    if (!openSource(entry, &reader, error)) {
        return false;
    }
    std::vector<char> buffer(kStreamChunk);
    bool fine = true;
    while (fine && reader.left > 0) {
        size_t got = 0;
        fine = readSource(entry, &reader, &buffer, &got, error) && take(buffer.data(), got);
        if (progress != nullptr) {
            advanceProgress(progress, got);
        }
    }
    closeSource(&reader);
    return fine;
}

// The size an entry's content has: the made bytes' and the file's as seen.
inline uint64_t entrySize(const ArchiveEntry& entry) {
    return entry.bytes.size() + (entry.source.empty() ? 0 : entry.size);
}

// Little-endian numbers, as zip headers and the web story's index hold them.
inline void put16(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>(value >> 8 & 0xFF));
}

inline void put32(std::string* out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// Writes `entries` in their order as a zip archive (deflate, no extra fields).
bool writeZip(OutputFile* out, const std::vector<ArchiveEntry>& entries);
// Writes `entries` in their order as a gzip-compressed tar archive (ustar).
bool writeTarGz(OutputFile* out, const std::vector<ArchiveEntry>& entries);
