// bexu-studio STORY [--site DIR] [--port N]: serves bexu studio and the story folder
// STORY on 127.0.0.1 only, and tells the page when a story file changes (server-sent
// events). It prints the address and opens nothing else.
#include "studio/server/folder_watch.h"
#include "studio/server/served_files.h"

#include <httplib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#ifndef BEXU_STUDIO_SITE
#define BEXU_STUDIO_SITE "build-web/studio"
#endif

namespace {

const char kUsage[] =
    "usage: bexu-studio STORY [--site DIR] [--port N]\n"
    "Serves bexu studio for the story folder STORY on 127.0.0.1 and prints its address;\n"
    "the page checks, plays and exports the story, and follows its files as they change.\n"
    "--site names the studio's site folder (default: the one `make studio` writes);\n"
    "--port a port to listen on (default: 8470, or the next free one; 0: any free one).\n";

constexpr int kDefaultPort = 8470;
constexpr int kPortsTried = 10;
constexpr size_t kMostFiles = 100000;
constexpr uint32_t kEventWaitMs = 15000;
constexpr size_t kChunk = 64 * 1024;

struct Options {
    std::string story;
    std::string site = BEXU_STUDIO_SITE;
    int port = -1; // none given
};

struct Served {
    std::string story; // real paths
    std::string site;
    std::string name; // the story folder's name
    FolderWatch* watch;
};

int usageError(const std::string& message) {
    fprintf(stderr, "bexu-studio: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parseOptions(int argc, char** argv, Options* options, int* exitCode) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool valued = argument == "--site" || argument == "--port";
        if (valued && i + 1 >= argc) {
            *exitCode = usageError(argument + " needs a value");
            return false;
        }
        if (argument == "--help" || argument == "-h") {
            fputs(kUsage, stdout);
            *exitCode = 0;
            return false;
        } else if (argument == "--site") {
            options->site = argv[++i];
        } else if (argument == "--port") {
            char* end = nullptr;
            long port = strtol(argv[++i], &end, 10);
            if (*end != '\0' || end == argv[i] || port < 0 || port > 65535) {
                *exitCode = usageError(std::string("bad port '") + argv[i] + "'");
                return false;
            }
            options->port = static_cast<int>(port);
        } else if (argument[0] == '-' || !options->story.empty()) {
            *exitCode = usageError("unexpected argument '" + argument + "'");
            return false;
        } else {
            options->story = argument;
        }
    }
    if (options->story.empty()) {
        *exitCode = usageError("no story folder given");
        return false;
    }
    return true;
}

std::string realFolder(const std::string& path) {
    char real[PATH_MAX];
    struct stat info;
    if (realpath(path.c_str(), real) == nullptr || stat(real, &info) != 0 ||
        !S_ISDIR(info.st_mode)) {
        return "";
    }
    return real;
}

const char* contentType(const std::string& path) {
    static const char* const kTypes[][2] = {{".html", "text/html; charset=utf-8"},
                                            {".js", "text/javascript"},
                                            {".css", "text/css"},
                                            {".wasm", "application/wasm"},
                                            {".json", "application/json"},
                                            {".png", "image/png"},
                                            {".bmp", "image/bmp"},
                                            {".wav", "audio/wav"},
                                            {".txt", "text/plain"}};
    for (const auto& type : kTypes) {
        size_t length = strlen(type[0]);
        if (path.size() >= length && path.compare(path.size() - length, length, type[0]) == 0) {
            return type[1];
        }
    }
    return "application/octet-stream";
}

void notFound(httplib::Response& response) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
}

// The file's bytes, read as the client asks for them (ranges included).
void sendFile(const std::string& path, const char* type, httplib::Response& response) {
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (descriptor >= 0) {
            close(descriptor);
        }
        notFound(response);
        return;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content_provider(
        static_cast<size_t>(info.st_size), type,
        [descriptor](size_t offset, size_t length, httplib::DataSink& sink) {
            std::unique_ptr<char[]> buffer(new char[kChunk]);
            ssize_t got = pread(descriptor, buffer.get(), std::min(length, kChunk),
                                static_cast<off_t>(offset));
            return got > 0 && sink.write(buffer.get(), static_cast<size_t>(got));
        },
        [descriptor](bool) { close(descriptor); });
}

// Tells the page of each change; a comment now and then finds a page that has gone.
void sendEvents(FolderWatch* watch, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(changeCount(watch));
    auto started = std::make_shared<bool>(false);
    response.set_chunked_content_provider(
        "text/event-stream", [watch, seen, started](size_t, httplib::DataSink& sink) {
            std::string message;
            if (!*started) {
                *started = true;
                message = "retry: 500\n\n";
            } else {
                uint64_t now = waitForChange(watch, *seen, kEventWaitMs);
                message = now != *seen ? "event: change\ndata: " + std::to_string(now) + "\n\n"
                                       : std::string(": waiting\n\n");
                *seen = now;
            }
            return sink.write(message.data(), message.size());
        });
}

void handle(const Served& served, const httplib::Request& request, httplib::Response& response) {
    const std::string& path = request.path;
    std::string file;
    if (path == "/api/story") {
        response.set_header("Cache-Control", "no-store");
        response.set_content(listingJson(served.name, listFolder(served.story, kMostFiles)),
                             "application/json");
    } else if (path == "/api/events") {
        sendEvents(served.watch, response);
    } else if (path.compare(0, 7, "/story/") == 0) {
        if (servedFile(served.story, path.substr(7), &file)) {
            sendFile(file, "application/octet-stream", response);
        } else {
            notFound(response);
        }
    } else if (!path.empty() && path[0] == '/' &&
               servedFile(served.site, path == "/" ? "index.html" : path.substr(1), &file)) {
        sendFile(file, contentType(file), response);
    } else {
        notFound(response);
    }
}

// Listens on 127.0.0.1 only: the port asked for (0: any free one), or the first free one
// from the default.
int bindLoopback(httplib::Server* server, int port) {
    if (port == 0) {
        return server->bind_to_any_port("127.0.0.1");
    }
    if (port > 0) {
        return server->bind_to_port("127.0.0.1", port) ? port : -1;
    }
    for (int tried = 0; tried < kPortsTried; ++tried) {
        if (server->bind_to_port("127.0.0.1", kDefaultPort + tried)) {
            return kDefaultPort + tried;
        }
    }
    return server->bind_to_any_port("127.0.0.1");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    int exitCode = 0;
    if (!parseOptions(argc, argv, &options, &exitCode)) {
        return exitCode;
    }
    Served served;
    served.story = realFolder(options.story);
    served.site = realFolder(options.site);
    if (served.story.empty()) {
        fprintf(stderr, "bexu-studio: the story folder '%s' cannot be read\n",
                options.story.c_str());
        return 1;
    }
    std::string index;
    if (served.site.empty() || !servedFile(served.site, "index.html", &index)) {
        fprintf(stderr,
                "bexu-studio: the studio's site '%s' has no index.html: build it with `make "
                "studio`, or name it with --site\n",
                options.site.c_str());
        return 1;
    }
    served.name = served.story.substr(served.story.find_last_of('/') + 1);
    served.watch = startFolderWatch(served.story);
    httplib::Server server;
    server.Get(".*", [&served](const httplib::Request& request, httplib::Response& response) {
        handle(served, request, response);
    });
    int port = bindLoopback(&server, options.port);
    if (port <= 0) {
        fprintf(stderr, "bexu-studio: cannot listen on 127.0.0.1%s\n",
                options.port > 0 ? (":" + std::to_string(options.port)).c_str() : "");
        return 1;
    }
    printf("bexu-studio: http://127.0.0.1:%d/ (the studio for %s; Ctrl+C stops it)\n", port,
           served.story.c_str());
    fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
