// The author tools in the studio's page: bexu-check, bexu-shot's play and bexu-pack's
// plan, over a story folder the page mounts in the file system. The page makes a
// fresh instance for every call, as a shell starts a tool anew: a play that stops
// from inside ends the instance, as it ends bexu-shot's process.
#include "check/check_text.h"
#include "check/story_check.h"
#include "check/story_files.h"
#include "engine/play_cursor.h"
#include "pack/release_plan.h"
#include "platform/platform.h"
#include "shot/story_shots.h"

#include <emscripten.h>

#include <cstdio>
#include <string>

namespace {

// The answer of the one call an instance makes, kept until the page has read it.
std::string answer;

// The commands of the blocks that play, for the progress of the pictures.
uint32_t commandsToPlay;
// The pictures this call may make; the play stops after the last one.
uint32_t picturesLeft;
bool morePictures;

// clang-format off
EM_JS(bool, handPicture, (const char* name, int32_t width, int32_t height, const uint32_t* pixels,
                         uint32_t line, uint32_t column, uint32_t reached, uint32_t commands), {
    return Module.onPicture(UTF8ToString(name), width, height,
                            HEAPU8.subarray(pixels, pixels + width * height * 4),
                            {line: line, column: column, reached: reached, commands: commands});
});

EM_JS(void, handShots, (const char* json), {
    Module.onShotsDone(UTF8ToString(json));
});
// clang-format on

std::string jsonNumber(uint64_t value) {
    return std::to_string(value);
}

template <typename Item, typename Write>
std::string jsonList(const std::vector<Item>& items, Write write) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        out += (i == 0 ? "" : ",") + write(items[i]);
    }
    return out + "]";
}

// A command's block and index, the line and column of its `[`, and its name as bexu-shot
// gives it.
std::string placeJson(const ShotRun& run, int32_t block, int32_t command) {
    const CommandPlace* place = shotPlace(run, block, command);
    return "\"block\":" + std::to_string(block) + ",\"command\":" + std::to_string(command) +
           ",\"line\":" + jsonNumber(place != nullptr ? place->line : 0) +
           ",\"column\":" + jsonNumber(place != nullptr ? place->column : 0) +
           ",\"place\":" + jsonString(placeName(run, block, command));
}

const char* eventKindName(ShotEventKind kind) {
    switch (kind) {
    case ShotEventKind::Scene:
        return "scene";
    case ShotEventKind::Sound:
        return "sound";
    case ShotEventKind::Wait:
        return "wait";
    default:
        return "page-turn";
    }
}

const char* shotEndName(ShotEnd end) {
    switch (end) {
    case ShotEnd::Finished:
        return "finished";
    case ShotEnd::Fatal:
        return "fatal";
    case ShotEnd::Stuck:
        return "stuck";
    case ShotEnd::WriteFailed:
        return "write-failed";
    default:
        return "cannot-start";
    }
}

std::string eventsJson(const ShotRun& run, const std::vector<ShotEvent>& events) {
    return jsonList(events, [&](const ShotEvent& event) {
        return "{\"kind\":\"" + std::string(eventKindName(event.kind)) +
               "\",\"argument\":" + jsonString(event.argument) + "," +
               placeJson(run, event.block, event.command) + "}";
    });
}

// Hands the run to the page: the play is over, however it ended.
int finishShots(const ShotOptions&, const ShotRun& run) {
    std::string shots = jsonList(run.shots, [&](const Shot& shot) {
        return "{\"file\":" + jsonString(shot.file) + "," +
               placeJson(run, shot.block, shot.command) + ",\"text\":" + jsonString(shot.text) +
               ",\"dialogue\":" + jsonString(shot.dialogue) +
               ",\"before\":" + eventsJson(run, shot.before) + "}";
    });
    const char* end = morePictures ? "more" : shotEndName(run.end);
    answer = "{\"end\":\"" + std::string(end) + "\",\"message\":" + jsonString(run.message) +
             ",\"title\":" + jsonString(run.title) + ",\"shots\":" + shots +
             ",\"after\":" + eventsJson(run, run.after) + "}";
    handShots(answer.c_str());
    return run.end == ShotEnd::Finished ? 0 : 1;
}

// A picture is taken in the frame after its key wait began, with nothing executed since:
// the wait's command is the last one executed.
bool keepPicture(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels) {
    if (picturesLeft == 0) {
        morePictures = true;
        return false;
    }
    --picturesLeft;
    const StepRecord& step = engineState.script.lastStep;
    CommandPlace place = {};
    cursorPlaceOf(&engineState.script, step.index, &place);
    return handPicture(path.c_str(), width, height, pixels, place.line, place.column, step.executed,
                       commandsToPlay);
}

// The archive of `plan` whose name ends in `kind`, written by bexu-pack's own writers to
// `outPath`, as JSON (its name, and its error or ""); null when the plan has none such.
// The web archive's story data is coded first, into a file beside it.
std::string writeReleaseArchive(const ReleasePlan& plan, const ReleasePlayers& players,
                                const std::string& kind, const char* outPath) {
    std::vector<ReleaseArchive> archives = plan.archives;
    std::string error;
    std::string codedPath = std::string(outPath) + ".story";
    auto result = [&](const std::string& name, bool fine) {
        remove(codedPath.c_str());
        return "{\"name\":" + jsonString(name) + ",\"error\":" +
               jsonString(fine            ? ""
                          : error.empty() ? "cannot be written"
                                          : error) +
               "}";
    };
    if (plan.refusal.empty() && kind == "-web.zip") {
        FILE* coded = fopen(codedPath.c_str(), "w+b");
        ReleaseArchive web;
        bool fine =
            coded != nullptr && planWebArchive(plan, players, coded, codedPath, &web, &error);
        if (coded != nullptr) {
            fclose(coded);
        }
        if (!fine) {
            return result(webArchiveName(plan.contents), false);
        }
        archives.push_back(web);
    }
    for (const ReleaseArchive& archive : archives) {
        if (archive.name.size() < kind.size() ||
            archive.name.compare(archive.name.size() - kind.size(), kind.size(), kind) != 0) {
            continue;
        }
        FILE* file = fopen(outPath, "wb");
        OutputFile out = {file, 0, file == nullptr, &error, nullptr};
        bool fine = file != nullptr && (archive.zip ? writeZip(&out, archive.entries)
                                                    : writeTarGz(&out, archive.entries));
        fine = (file == nullptr || fclose(file) == 0) && fine;
        return result(archive.name, fine);
    }
    remove(codedPath.c_str());
    return "null";
}

std::string quoted(const std::string& text) {
    return jsonString(text);
}

} // namespace

extern "C" {

// bexu-check FOLDER [--notes], run from the folder's parent: the text it prints and its
// JSON, and the story files the player opens (the fixed ones and those the script names).
EMSCRIPTEN_KEEPALIVE const char* studioCheck(const char* folder, int notes) {
    std::string prefix = folderPrefix(folder);
    CheckReport report = checkStory(folder, notes != 0);
    std::string names = jsonList(report.uses, [](const FileUse& use) { return quoted(use.name); });
    answer = "{\"text\":" + jsonString(formatText(report, prefix)) +
             ",\"report\":" + formatJson(report, prefix) + ",\"uses\":" + names + "}";
    return answer.c_str();
}

// bexu-shot's play of the story in `folder`, from page `fromPage` on, for at most `most`
// pictures: each picture goes to the page as it is made, and the run when the play is
// over (also when it stops from inside, which then ends this instance); its end is
// "more" when the story goes on after the last picture allowed. `commands`, the check's
// count of the commands that play, measures the progress.
EMSCRIPTEN_KEEPALIVE const char* studioShots(const char* folder, int32_t width, int32_t height,
                                             uint32_t seed, uint32_t fromPage, uint32_t most,
                                             uint32_t commands) {
    ShotOptions options;
    options.folder = folder;
    options.outFolder = "";
    options.writePicture = keepPicture;
    options.width = width;
    options.height = height;
    options.seed = seed;
    options.firstPage = fromPage;
    picturesLeft = most;
    morePictures = false;
    commandsToPlay = commands;
    playAndShoot(options, finishShots);
    return answer.c_str();
}

// bexu-pack FOLDER [--force] with the players at these paths (the web player a folder),
// for its archive whose name ends in `kind` ("-windows.zip", "-linux-x86_64.tar.gz",
// "-web.zip"): the findings and refusal as bexu-pack prints them, what the story packs,
// and the archive written by bexu-pack's own writers to `outPath`.
EMSCRIPTEN_KEEPALIVE const char* studioExport(const char* folder, const char* windowsPlayer,
                                              const char* linuxPlayer, const char* webPlayer,
                                              int force, const char* kind, const char* outPath) {
    ReleasePlayers players = {windowsPlayer, linuxPlayer, webPlayer, 0, 0, {}};
    std::string error;
    if (!checkReleasePlayers(&players, &error)) {
        answer = "{\"findings\":\"\",\"refusal\":" + jsonString(error) + "}";
        return answer.c_str();
    }
    ReleasePlan plan = planRelease(folder, players, force != 0);
    const StoryContents& contents = plan.contents;
    std::string written = writeReleaseArchive(plan, players, kind, outPath);
    answer = "{\"findings\":" + jsonString(plan.findings) +
             ",\"refusal\":" + jsonString(plan.refusal) +
             ",\"title\":" + jsonString(contents.title) +
             ",\"files\":" + jsonNumber(contents.files.size()) +
             ",\"size\":" + jsonString(megabytes(contents.totalSize)) +
             ",\"leftOut\":" + jsonList(contents.leftOut, quoted) + ",\"archive\":" + written + "}";
    return answer.c_str();
}

} // extern "C"
