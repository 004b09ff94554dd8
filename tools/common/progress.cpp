#include "common/progress.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

constexpr double kQuietSeconds = 1.0; // nothing shows before, unless told otherwise
constexpr double kRedrawSeconds = 0.1;

double secondsNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

std::string amount(uint64_t count, bool bytes) {
    char text[32];
    if (bytes) {
        snprintf(text, sizeof text, "%.1f MB", double(count) / 1e6);
    } else {
        snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(count));
    }
    return text;
}

std::string timeLeft(double seconds) {
    char text[32];
    if (seconds < 60) {
        snprintf(text, sizeof text, "%.0f s", seconds < 1 ? 1.0 : seconds);
    } else {
        snprintf(text, sizeof text, "%d min %02d s", int(seconds) / 60, int(seconds) % 60);
    }
    return text;
}

} // namespace

void startProgress(Progress* progress, const std::string& label, uint64_t total, bool bytes) {
    const char* after = getenv("BEXU_PROGRESS_AFTER_MS");
    double quiet = after != nullptr ? atof(after) / 1000.0 : kQuietSeconds;
    *progress =
        Progress{label, bytes, total, 0, secondsNow(), 0.0, quiet, isatty(STDERR_FILENO) != 0};
}

std::string progressLine(const Progress& progress, double now) {
    std::string line = progress.label + " " + amount(progress.done, progress.bytes) + " of " +
                       amount(progress.total, progress.bytes);
    if (progress.done > 0 && progress.done < progress.total) {
        double rate = double(progress.done) / (now - progress.started);
        line += ", about " + timeLeft(double(progress.total - progress.done) / rate) + " left";
    }
    return line;
}

void advanceProgress(Progress* progress, uint64_t more) {
    progress->done += more;
    if (!progress->terminal) {
        return;
    }
    double now = secondsNow();
    if (now - progress->started < progress->quiet || now - progress->shownAt < kRedrawSeconds) {
        return;
    }
    progress->shownAt = now;
    // Back to the line's start, the line, and the rest of the old one cleared.
    fprintf(stderr, "\r%s\033[K", progressLine(*progress, now).c_str());
    fflush(stderr);
}

void endProgress(Progress* progress) {
    if (progress->shownAt > 0) {
        fputs("\r\033[K", stderr);
        fflush(stderr);
    }
    progress->shownAt = 0;
}
