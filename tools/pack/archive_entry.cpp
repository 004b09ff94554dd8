#include "pack/archive_entry.h"

#include "check/story_paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool writeBytes(OutputFile* out, const void* bytes, size_t count) {
    if (out->failed) {
        return false;
    }
    if (count > 0 && fwrite(bytes, 1, count, out->file) != count) {
        failWith(out, std::string("cannot be written: ") + strerror(errno));
        return false;
    }
    out->written += count;
    return true;
}

void failWith(OutputFile* out, const std::string& message) {
    if (!out->failed) {
        out->failed = true;
        *out->error = message;
    }
}

namespace {

std::string sourceName(const ArchiveEntry& entry) {
    return entry.storyFolder.empty() ? entry.source : entry.storyFolder + "/" + entry.source;
}

} // namespace

bool openSource(const ArchiveEntry& entry, SourceReader* reader, std::string* error) {
    // Without blocking: a file replaced by a pipe since the story was read must not hang.
    if (entry.storyFolder.empty()) {
        reader->descriptor = open(entry.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } else {
        StoryFileOpened opened = openInStory(entry.storyFolder, entry.source);
        if (opened.result == StoryOpen::Outside) {
            *error = sourceName(entry) + ": has become a link that leads out of the story folder";
            return false;
        }
        reader->descriptor = opened.descriptor;
        errno = ENOENT;
    }
    struct stat info;
    if (reader->descriptor < 0 || fstat(reader->descriptor, &info) != 0) {
        *error = sourceName(entry) + ": cannot be read: " + strerror(errno);
        closeSource(reader);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = sourceName(entry) + ": is no longer a plain file";
        closeSource(reader);
        return false;
    }
    reader->left = entry.size;
    return true;
}

bool readSource(const ArchiveEntry& entry, SourceReader* reader, std::vector<char>* buffer,
                size_t* got, std::string* error) {
    size_t wanted =
        reader->left < buffer->size() ? static_cast<size_t>(reader->left) : buffer->size();
    ssize_t count = 0;
    do {
        count = read(reader->descriptor, buffer->data(), wanted);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        *error = sourceName(entry) + ": cannot be read: " + strerror(errno);
        return false;
    }
    if (count == 0) {
        *error = sourceName(entry) + ": became shorter while it was packed";
        return false;
    }
    *got = static_cast<size_t>(count);
    reader->left -= *got;
    return true;
}

void closeSource(SourceReader* reader) {
    if (reader->descriptor >= 0) {
        close(reader->descriptor);
    }
    reader->descriptor = -1;
}
