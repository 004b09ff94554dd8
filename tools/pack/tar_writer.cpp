// The tar.gz archive: ustar headers (a pax record for a long path), owner root,
// fixed time, the whole stream deflated once with fixed settings.
#include "pack/archive_entry.h"

#include <cstring>
#include <zlib.h>

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kRecord = 20 * kBlock; // what tar itself pads an archive to

struct TarStream {
    OutputFile* out;
    z_stream zip;
    std::vector<unsigned char> packed;
    uint64_t length; // tar bytes so far
};

bool pump(TarStream* tar, const void* bytes, size_t count, int flush) {
    tar->zip.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    tar->zip.avail_in = static_cast<uInt>(count);
    int status = Z_OK;
    do {
        tar->zip.next_out = tar->packed.data();
        tar->zip.avail_out = static_cast<uInt>(tar->packed.size());
        status = deflate(&tar->zip, flush);
        size_t made = tar->packed.size() - tar->zip.avail_out;
        if (status == Z_STREAM_ERROR || !writeBytes(tar->out, tar->packed.data(), made)) {
            return false;
        }
    } while (tar->zip.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    tar->length += count;
    return true;
}

bool padToBlock(TarStream* tar) {
    static const char zeros[kRecord] = {};
    size_t over = tar->length % kBlock;
    return over == 0 || pump(tar, zeros, kBlock - over, Z_NO_FLUSH);
}

void octal(char* field, size_t width, uint64_t value) {
    // width - 1 digits and a NUL, as tar writes them
    for (size_t i = width - 1; i-- > 0;) {
        field[i] = static_cast<char>('0' + (value & 7));
        value >>= 3;
    }
    field[width - 1] = '\0';
}

// Fills name and prefix; false when the path cannot be split into them.
bool splitPath(const std::string& path, char* header) {
    if (path.size() <= 100) {
        memcpy(header, path.data(), path.size());
        return true;
    }
    for (size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (slash <= 155 && path.size() - slash - 1 <= 100 && slash + 1 < path.size()) {
            memcpy(header + 345, path.data(), slash);
            memcpy(header, path.data() + slash + 1, path.size() - slash - 1);
            return true;
        }
    }
    return false;
}

void header(char* block, const std::string& path, char type, uint32_t mode, uint64_t size) {
    memset(block, 0, kBlock);
    if (!splitPath(path, block)) {
        // The pax record before it holds the whole path.
        memcpy(block, path.data(), 100);
    }
    octal(block + 100, 8, mode);
    octal(block + 108, 8, 0); // uid
    octal(block + 116, 8, 0); // gid
    octal(block + 124, 12, size);
    octal(block + 136, 12, static_cast<uint64_t>(kArchiveUnixTime));
    block[156] = type;
    memcpy(block + 257, "ustar", 6);
    memcpy(block + 263, "00", 2);
    memcpy(block + 265, "root", 4);
    memcpy(block + 297, "root", 4);
    memset(block + 148, ' ', 8);
    uint32_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        sum += static_cast<unsigned char>(block[i]);
    }
    octal(block + 148, 7, sum);
    block[155] = ' ';
}

// "<length> path=<path>\n", where the length counts itself.
std::string paxPath(const std::string& path) {
    std::string body = " path=" + path + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) {
        ++length;
    }
    return std::to_string(length) + body;
}

bool writeEntry(TarStream* tar, const ArchiveEntry& entry) {
    char block[kBlock];
    char probe[kBlock] = {};
    if (!splitPath(entry.path, probe)) {
        std::string record = paxPath(entry.path);
        header(block, "PaxHeader/" + entry.path.substr(entry.path.size() - 80), 'x', 0644,
               record.size());
        if (!pump(tar, block, kBlock, Z_NO_FLUSH) ||
            !pump(tar, record.data(), record.size(), Z_NO_FLUSH) || !padToBlock(tar)) {
            return false;
        }
    }
    uint32_t mode = entry.folder || entry.executable ? 0755 : 0644;
    header(block, entry.path, entry.folder ? '5' : '0', mode, entry.folder ? 0 : entrySize(entry));
    if (!pump(tar, block, kBlock, Z_NO_FLUSH)) {
        return false;
    }
    if (entry.folder) {
        return true;
    }
    std::string error;
    bool fine = streamEntry(
        entry, [&](const char* bytes, size_t count) { return pump(tar, bytes, count, Z_NO_FLUSH); },
        tar->out->progress, &error);
    if (!error.empty()) {
        failWith(tar->out, error);
    }
    return fine && padToBlock(tar);
}

} // namespace

bool writeTarGz(OutputFile* out, const std::vector<ArchiveEntry>& entries) {
    TarStream tar = {out, {}, std::vector<unsigned char>(kStreamChunk), 0};
    // Window bits 31: a gzip wrapper whose header holds no name and time 0.
    if (deflateInit2(&tar.zip, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        failWith(out, "no memory for compression");
        return false;
    }
    bool fine = true;
    for (const ArchiveEntry& entry : entries) {
        fine = fine && writeEntry(&tar, entry);
    }
    static const char zeros[kRecord] = {};
    // Two empty blocks end the archive; the record is filled up as tar does.
    fine = fine && pump(&tar, zeros, 2 * kBlock, Z_NO_FLUSH) &&
           (tar.length % kRecord == 0 ||
            pump(&tar, zeros, kRecord - tar.length % kRecord, Z_NO_FLUSH)) &&
           pump(&tar, nullptr, 0, Z_FINISH);
    deflateEnd(&tar.zip);
    return fine;
}
