#include "hostile_player.h"

#include "support/test_files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr uid_t kNobody = 65534;
constexpr int kCannotDropPrivileges = 125;
constexpr unsigned kWallClockLimit = 60; // seconds

// In the child, between fork and exec: only async-signal-safe calls, then exec.
[[noreturn]] void execPlayer(const std::string& player, const std::string& folder,
                             const PlayerRun& run, const std::string& errorsPath) {
    int errors = open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (errors < 0 || dup2(errors, 2) < 0 || chdir(folder.c_str()) != 0) {
        _exit(126);
    }
    int nothing = open("/dev/null", O_RDWR);
    dup2(nothing, 0);
    dup2(nothing, 1);
    if (memoryCapApplies()) {
        rlimit cap = {run.memoryCapMiB << 20, run.memoryCapMiB << 20};
        setrlimit(RLIMIT_AS, &cap);
    }
    if (run.unprivileged && getuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(kCannotDropPrivileges);
        }
    }
    // A player that hangs is ended, and the test sees the signal.
    alarm(kWallClockLimit);
    execl(player.c_str(), player.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

} // namespace

bool memoryCapApplies() {
    return !kAddressSanitizer;
}

std::string headlessPlayerPath() {
    return std::string(BEXU_BINARY_DIR) + "/bexu-headless";
}

std::string sdlPlayerPath() {
#ifdef BEXU_SDL_PLAYER
    return BEXU_SDL_PLAYER;
#else
    return std::string();
#endif
}

PlayerOutcome runPlayer(const std::string& folder, const PlayerRun& run) {
    PlayerOutcome outcome;
    std::string logPath = folder + "/headless.log";
    std::string errorsPath = folder + "/errors.txt";
    // The log is opened by the player, maybe as the unprivileged user.
    writeFile(logPath, std::string());
    chmod(logPath.c_str(), 0666);
    chmod(folder.c_str(), 0755);
    setenv("BEXU_HEADLESS_LOG", logPath.c_str(), 1);
    setenv("BEXU_HEADLESS_KEYS", run.keys.c_str(), 1);
    setenv("BEXU_HEADLESS_LIMIT", std::to_string(run.timeLimit).c_str(), 1);
    setenv("BEXU_HEADLESS_SIZE", run.clientSize.c_str(), 1);

    auto start = std::chrono::steady_clock::now();
    // Under AddressSanitizer the cap becomes a limit on each allocation, past which
    // allocations fail as they would under the cap; kept low, as the sanitizer is slow.
    std::string sanitizerOptions;
    if (!memoryCapApplies()) {
        const char* inherited = getenv("ASAN_OPTIONS");
        sanitizerOptions = inherited != nullptr ? inherited : "";
        setenv("ASAN_OPTIONS",
               (sanitizerOptions + ":allocator_may_return_null=1:max_allocation_size_mb=" +
                std::to_string(std::min<uint64_t>(run.memoryCapMiB / 2, 256)))
                   .c_str(),
               1);
    }
    std::string player = run.player.empty() ? headlessPlayerPath() : run.player;
    if (run.unprivileged && getuid() == 0) {
        player = copyForAnyUser(player, folder);
    }
    // The SDL player needs no display and no sound card, and parses the waves all the same.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        execPlayer(player, folder, run, errorsPath);
    }
    if (!memoryCapApplies()) {
        setenv("ASAN_OPTIONS", sanitizerOptions.c_str(), 1);
    }
    int status = 0;
    rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        outcome.errors = "could not run " + player;
        return outcome;
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.exited = WIFEXITED(status);
    outcome.exitCode = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.unprivilegedUnavailable =
        run.unprivileged && outcome.exited && outcome.exitCode == kCannotDropPrivileges;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.peakResidentKiB = static_cast<uint64_t>(usage.ru_maxrss);
    outcome.errors = readFile(errorsPath);
    outcome.log = readFile(logPath);
    for (const char* name :
         {"BEXU_HEADLESS_LOG", "BEXU_HEADLESS_KEYS", "BEXU_HEADLESS_LIMIT", "BEXU_HEADLESS_SIZE"}) {
        unsetenv(name);
    }
    return outcome;
}
