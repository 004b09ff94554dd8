// Each file is tried in the codings that suit it and the smallest kept: deflate for any
// file; a PNG of the pixels for a bitmap, when the BMP the page makes of it again is no
// larger than the file (so the page needs no more memory than before); the lossless
// wave coding for a sound. A file no coding makes smaller travels as it is.
#include "pack/web_story_writer.h"

#include "check/story_paths.h"
#include "pack/archive_entry.h"
#include "pack/lossless_wave_encoder.h"
#include "platform/soft/soft_surface.h"
#include "shot/png_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// Bitmaps and sounds up to this size are coded in memory; larger files, which the web
// player would not load anyway, are deflated as they stream.
constexpr uint64_t kLargestCodedWhole = 64u << 20;
constexpr size_t kChunk = 256 * 1024;
constexpr int kDeflateLevel = 9;

struct Coded {
    WebCoding coding;
    std::vector<uint8_t> bytes;
    uint64_t fileSize;
};

// Raw deflate (no zlib wrapper), as the browser's DecompressionStream("deflate-raw") reads.
struct Deflater {
    z_stream stream;
    std::vector<uint8_t> chunk;
};

bool startDeflate(Deflater* deflater) {
    deflater->stream = {};
    deflater->chunk.resize(kChunk);
    return deflateInit2(&deflater->stream, kDeflateLevel, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) ==
           Z_OK;
}

// Feeds `count` bytes; each piece of output goes to `take(bytes, count)`.
template <typename Take>
bool feedDeflate(Deflater* deflater, const uint8_t* bytes, size_t count, bool last, Take take) {
    z_stream& stream = deflater->stream;
    stream.next_in = const_cast<Bytef*>(bytes);
    stream.avail_in = static_cast<uInt>(count);
    int status = Z_OK;
    do {
        stream.next_out = deflater->chunk.data();
        stream.avail_out = static_cast<uInt>(deflater->chunk.size());
        status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_ERROR ||
            !take(deflater->chunk.data(), deflater->chunk.size() - stream.avail_out)) {
            return false;
        }
    } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
    return true;
}

bool deflated(const std::vector<uint8_t>& file, std::vector<uint8_t>* out) {
    Deflater deflater;
    if (!startDeflate(&deflater)) {
        return false;
    }
    bool fine = feedDeflate(&deflater, file.data(), file.size(), true,
                            [out](const uint8_t* bytes, size_t count) {
                                out->insert(out->end(), bytes, bytes + count);
                                return true;
                            });
    deflateEnd(&deflater.stream);
    return fine;
}

// The pixels as the player decodes them, as a PNG; false when the file is no bitmap the
// player loads, or the page's BMP of it would be larger than the file.
bool pngOf(const std::vector<uint8_t>& file, std::vector<uint8_t>* png, uint64_t* bitmapSize) {
    PlatformBitmap* bitmap = softDecodeBmp(file.data(), file.size());
    if (bitmap == nullptr) {
        return false;
    }
    *bitmapSize = webBitmapFileSize(static_cast<uint32_t>(bitmap->width),
                                    static_cast<uint32_t>(bitmap->height));
    bool fits = *bitmapSize <= file.size();
    if (fits) {
        *png = encodePng(bitmap->width, bitmap->height, bitmap->pixels, PngEffort::Smallest);
    }
    platformDeleteBitmap(bitmap);
    return fits && !png->empty();
}

Coded smallestCoding(const StoryFile& file, const std::vector<uint8_t>& bytes) {
    Coded best = {WebCoding::Stored, bytes, bytes.size()};
    auto consider = [&best](WebCoding coding, std::vector<uint8_t>* candidate, uint64_t size) {
        if (candidate->size() < best.bytes.size()) {
            best = {coding, std::move(*candidate), size};
        }
    };
    std::vector<uint8_t> candidate;
    if (deflated(bytes, &candidate)) {
        consider(WebCoding::Deflate, &candidate, bytes.size());
    }
    uint64_t bitmapSize = 0;
    candidate.clear();
    if (file.bitmap && pngOf(bytes, &candidate, &bitmapSize)) {
        consider(WebCoding::Png, &candidate, bitmapSize);
    }
    candidate.clear();
    if (file.wave && encodeLosslessWave(bytes.data(), bytes.size(), &candidate)) {
        consider(WebCoding::Wave, &candidate, bytes.size());
    }
    return best;
}

bool readFully(int descriptor, uint8_t* into, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t got = read(descriptor, into + done, count - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

bool writeOut(FILE* coded, const uint8_t* bytes, size_t count) {
    return count == 0 || fwrite(bytes, 1, count, coded) == count;
}

// A file too large to code in memory: deflated as it streams, or copied when deflate
// does not make it smaller.
bool streamLarge(int descriptor, uint64_t size, FILE* coded, WebStoryEntry* entry) {
    off_t start = ftello(coded);
    Deflater deflater;
    if (start < 0 || !startDeflate(&deflater)) {
        return false;
    }
    uint64_t written = 0;
    auto out = [&](const uint8_t* bytes, size_t count) {
        written += count;
        return writeOut(coded, bytes, count);
    };
    std::vector<uint8_t> buffer(kChunk);
    bool fine = true;
    for (uint64_t left = size; fine && left > 0;) {
        size_t count = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        fine = readFully(descriptor, buffer.data(), count) &&
               feedDeflate(&deflater, buffer.data(), count, false, out);
        left -= count;
    }
    fine = fine && feedDeflate(&deflater, nullptr, 0, true, out);
    deflateEnd(&deflater.stream);
    *entry = {entry->name, WebCoding::Deflate, written, size};
    if (!fine || written < size) {
        return fine;
    }
    // Deflate made it larger: the file as it is instead.
    if (fflush(coded) != 0 || ftruncate(fileno(coded), start) != 0 ||
        fseeko(coded, start, SEEK_SET) != 0 || lseek(descriptor, 0, SEEK_SET) != 0) {
        return false;
    }
    for (uint64_t left = size; left > 0;) {
        size_t count = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        if (!readFully(descriptor, buffer.data(), count) ||
            !writeOut(coded, buffer.data(), count)) {
            return false;
        }
        left -= count;
    }
    *entry = {entry->name, WebCoding::Stored, size, size};
    return true;
}

bool codeFile(const StoryContents& contents, const StoryFile& file, FILE* coded,
              WebStoryEntry* entry, std::string* error) {
    StoryFileOpened opened = openInStory(contents.folder, file.path);
    struct stat info;
    if (opened.result != StoryOpen::Opened || fstat(opened.descriptor, &info) != 0 ||
        !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) != file.size) {
        closeStoryFile(&opened);
        *error = file.source + ": has changed since the story was read";
        return false;
    }
    entry->name = file.path;
    bool fine = true;
    if (file.size <= kLargestCodedWhole) {
        std::vector<uint8_t> bytes(file.size);
        fine = readFully(opened.descriptor, bytes.data(), bytes.size());
        if (fine) {
            Coded best = smallestCoding(file, bytes);
            *entry = {file.path, best.coding, best.bytes.size(), best.fileSize};
            fine = writeOut(coded, best.bytes.data(), best.bytes.size());
        }
    } else {
        fine = streamLarge(opened.descriptor, file.size, coded, entry);
    }
    closeStoryFile(&opened);
    if (!fine) {
        *error = file.source +
                 ": cannot be read, or the web story cannot be written: " + strerror(errno);
    }
    return fine;
}

std::string headOf(const std::vector<WebStoryEntry>& entries) {
    std::string index;
    for (const WebStoryEntry& entry : entries) {
        index.push_back(static_cast<char>(entry.coding));
        put32(&index, static_cast<uint32_t>(entry.stored));
        put32(&index, static_cast<uint32_t>(entry.fileSize));
        put16(&index, static_cast<uint32_t>(entry.name.size()));
        index += entry.name;
    }
    std::string head(kWebStoryMagic, kWebStoryMagicSize);
    put32(&head, static_cast<uint32_t>(index.size()));
    put32(&head, static_cast<uint32_t>(entries.size()));
    return head + index;
}

} // namespace

bool writeWebStory(const StoryContents& contents, FILE* coded, WebStory* story,
                   std::string* error) {
    std::vector<const StoryFile*> files;
    for (const StoryFile& file : contents.files) {
        files.push_back(&file);
    }
    std::sort(files.begin(), files.end(),
              [](const StoryFile* a, const StoryFile* b) { return a->firstNeed < b->firstNeed; });
    story->entries.clear();
    story->codedSize = 0;
    for (const StoryFile* file : files) {
        WebStoryEntry entry;
        if (file->path.size() > UINT16_MAX || !codeFile(contents, *file, coded, &entry, error)) {
            if (error->empty()) {
                *error = file->source + ": its name is too long for the web story";
            }
            return false;
        }
        story->codedSize += entry.stored;
        story->entries.push_back(entry);
    }
    if (fflush(coded) != 0) {
        *error = std::string("the web story cannot be written: ") + strerror(errno);
        return false;
    }
    story->head = headOf(story->entries);
    return true;
}
