// The zip archive: each file deflated with fixed settings, its local header written
// first and its sizes and checksum filled in once the file has been streamed.
#include "pack/archive_entry.h"

#include <zlib.h>

namespace {

constexpr uint32_t kZipLimit = UINT32_MAX; // sizes and offsets have 32 bits here
constexpr size_t kZipMostEntries = 0xFFFF; // so has the entry count, in 16 bits
constexpr uint16_t kDosTime = 0;           // 00:00:00
constexpr uint16_t kDosDate = (kArchiveYear - 1980) << 9 | 1 << 5 | 1; // January 1st
constexpr uint16_t kMadeByUnix = 3 << 8 | 20; // keeps the Unix modes in the attributes
constexpr uint16_t kNeeded = 20;              // deflate

struct Central {
    std::string path;
    uint16_t method;
    uint32_t crc;
    uint32_t compressed;
    uint32_t size;
    uint32_t attributes;
    uint32_t offset;
};

std::string localHeader(const Central& entry) {
    std::string header;
    put32(&header, 0x04034b50);
    put16(&header, kNeeded);
    put16(&header, 0); // flags
    put16(&header, entry.method);
    put16(&header, kDosTime);
    put16(&header, kDosDate);
    put32(&header, entry.crc);
    put32(&header, entry.compressed);
    put32(&header, entry.size);
    put16(&header, static_cast<uint32_t>(entry.path.size()));
    put16(&header, 0); // extra field
    return header + entry.path;
}

std::string centralHeader(const Central& entry) {
    std::string header;
    put32(&header, 0x02014b50);
    put16(&header, kMadeByUnix);
    put16(&header, kNeeded);
    put16(&header, 0);
    put16(&header, entry.method);
    put16(&header, kDosTime);
    put16(&header, kDosDate);
    put32(&header, entry.crc);
    put32(&header, entry.compressed);
    put32(&header, entry.size);
    put16(&header, static_cast<uint32_t>(entry.path.size()));
    put16(&header, 0); // extra field
    put16(&header, 0); // comment
    put16(&header, 0); // disk
    put16(&header, 0); // internal attributes
    put32(&header, entry.attributes);
    put32(&header, entry.offset);
    return header + entry.path;
}

uint32_t unixAttributes(const ArchiveEntry& entry) {
    uint32_t mode = entry.folder ? 040755 : entry.executable ? 0100755 : 0100644;
    return mode << 16 | (entry.folder ? 0x10 : 0); // 0x10: the DOS folder bit
}

// Streams the entry into `out` as it is; fills crc and sizes.
bool storeEntry(OutputFile* out, const ArchiveEntry& entry, Central* central) {
    uLong crc = crc32(0, nullptr, 0);
    uint64_t written = 0;
    std::string error;
    bool fine = streamEntry(
        entry,
        [&](const char* bytes, size_t count) {
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), count);
            written += count;
            return writeBytes(out, bytes, count);
        },
        out->progress, &error);
    if (!error.empty()) {
        failWith(out, error);
    }
    central->crc = static_cast<uint32_t>(crc);
    central->compressed = static_cast<uint32_t>(written);
    return fine;
}

// Streams the entry through deflate into `out`; fills crc and sizes.
bool deflateEntry(OutputFile* out, const ArchiveEntry& entry, Central* central) {
    z_stream stream = {};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        failWith(out, "no memory for compression");
        return false;
    }
    std::vector<unsigned char> packed(kStreamChunk);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t compressed = 0;
    auto pump = [&](const void* bytes, size_t count, int flush) {
        stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
        stream.avail_in = static_cast<uInt>(count);
        int status = Z_OK;
        do {
            stream.next_out = packed.data();
            stream.avail_out = static_cast<uInt>(packed.size());
            status = deflate(&stream, flush);
            size_t made = packed.size() - stream.avail_out;
            compressed += made;
            if (status == Z_STREAM_ERROR || !writeBytes(out, packed.data(), made)) {
                return false;
            }
        } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        return true;
    };
    std::string error;
    bool fine = streamEntry(
        entry,
        [&](const char* bytes, size_t count) {
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), count);
            return pump(bytes, count, Z_NO_FLUSH);
        },
        out->progress, &error);
    fine = fine && pump(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    if (!error.empty()) {
        failWith(out, error);
    }
    if (!fine) {
        return false;
    }
    if (compressed > kZipLimit) {
        failWith(out, entry.path + " is too large for a zip archive (4 GiB)");
        return false;
    }
    central->crc = static_cast<uint32_t>(crc);
    central->compressed = static_cast<uint32_t>(compressed);
    return true;
}

bool writeEntry(OutputFile* out, const ArchiveEntry& entry, std::vector<Central>* directory) {
    if (out->written > kZipLimit || entrySize(entry) > kZipLimit) {
        failWith(out, "the story is too large for a zip archive (4 GiB)");
        return false;
    }
    Central central = {entry.path,
                       static_cast<uint16_t>(entry.folder || entry.stored ? 0 : 8),
                       0,
                       0,
                       static_cast<uint32_t>(entrySize(entry)),
                       unixAttributes(entry),
                       static_cast<uint32_t>(out->written)};
    uint64_t headerAt = out->written;
    if (!writeBytes(out, localHeader(central).data(), localHeader(central).size())) {
        return false;
    }
    if (!entry.folder) {
        bool fine =
            entry.stored ? storeEntry(out, entry, &central) : deflateEntry(out, entry, &central);
        if (!fine) {
            return false;
        }
        // Back to the header for the checksum and sizes, then on at the end.
        std::string header = localHeader(central);
        if (fseeko(out->file, static_cast<off_t>(headerAt), SEEK_SET) != 0 ||
            fwrite(header.data(), 1, header.size(), out->file) != header.size() ||
            fseeko(out->file, 0, SEEK_END) != 0) {
            failWith(out, "cannot be written");
            return false;
        }
    }
    directory->push_back(central);
    return true;
}

} // namespace

bool writeZip(OutputFile* out, const std::vector<ArchiveEntry>& entries) {
    if (entries.size() > kZipMostEntries) {
        failWith(out, "the story has too many files for a zip archive");
        return false;
    }
    std::vector<Central> directory;
    for (const ArchiveEntry& entry : entries) {
        if (!writeEntry(out, entry, &directory)) {
            return false;
        }
    }
    uint64_t directoryAt = out->written;
    std::string all;
    for (const Central& central : directory) {
        all += centralHeader(central);
    }
    if (directoryAt + all.size() > kZipLimit) {
        failWith(out, "the story is too large for a zip archive (4 GiB)");
        return false;
    }
    std::string end;
    put32(&end, 0x06054b50);
    put16(&end, 0);
    put16(&end, 0);
    put16(&end, static_cast<uint32_t>(directory.size()));
    put16(&end, static_cast<uint32_t>(directory.size()));
    put32(&end, static_cast<uint32_t>(all.size()));
    put32(&end, static_cast<uint32_t>(directoryAt));
    put16(&end, 0); // comment
    return writeBytes(out, all.data(), all.size()) && writeBytes(out, end.data(), end.size());
}
