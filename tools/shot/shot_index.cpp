// The contact sheet, index.html: pure ASCII, so it reads the same whatever bytes the
// story holds. Dialogue is written in the rows the player draws it in; script text is
// written with the bytes it cannot show as \xNN.
#include "shot/story_shots.h"

#include "render/render.h"

#include <cstdio>

namespace {

void appendEscaped(std::string* out, char c) {
    switch (c) {
    case '&':
        *out += "&amp;";
        break;
    case '<':
        *out += "&lt;";
        break;
    case '>':
        *out += "&gt;";
        break;
    case '"':
        *out += "&quot;";
        break;
    default:
        *out += c;
    }
}

// Script text, titles and file names: printable ASCII as it is, other bytes as \xNN.
std::string sourceText(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            appendEscaped(&out, c);
        }
    }
    return out;
}

// Text the font draws, for the page: the few bytes HTML gives a meaning escaped.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        appendEscaped(&out, c);
    }
    return out;
}

std::string joined(const std::vector<std::string>& rows, const char* between) {
    std::string out;
    for (size_t i = 0; i < rows.size(); ++i) {
        out += (i == 0 ? "" : between) + escaped(rows[i]);
    }
    return out;
}

std::string eventText(const ShotRun& run, const ShotEvent& event) {
    std::string place = placeName(run, event.block, event.command) + " ";
    switch (event.kind) {
    case ShotEventKind::Scene:
        return place + "scene <code>" + sourceText(event.argument) + "</code>";
    case ShotEventKind::Sound:
        return place + "sound <code>" + sourceText(event.argument) + "</code>";
    case ShotEventKind::Wait:
        return place + "wait " + event.argument + " ms";
    default:
        return place + "page turned";
    }
}

std::string eventList(const ShotRun& run, const std::vector<ShotEvent>& events) {
    if (events.empty()) {
        return "";
    }
    std::string html = "<ul class=\"events\">";
    for (const ShotEvent& event : events) {
        html += "<li>" + eventText(run, event) + "</li>";
    }
    return html + "</ul>";
}

std::string figure(const ShotRun& run, const Shot& shot) {
    uint32_t leftOut = 0;
    std::vector<std::string> rows = playerRows(shot.dialogue, &leftOut);
    std::string alt = joined(rows, " ");
    std::string text = joined(rows, "\n");
    std::string html = "<figure>" + eventList(run, shot.before) + "<a href=\"" + shot.file +
                       "\"><img src=\"" + shot.file + "\" alt=\"" + alt + "\"></a><figcaption><b>" +
                       shot.file + "</b> " + placeName(run, shot.block, shot.command) + " <code>[" +
                       sourceText(shot.text) + "]</code><pre>" + text + "</pre>";
    if (leftOut > 0) {
        html += "<p class=\"note\">" + std::to_string(leftOut) + " byte" +
                (leftOut == 1 ? "" : "s") +
                " of this dialogue the font cannot draw: the player leaves them out</p>";
    }
    return html + "</figcaption></figure>\n";
}

// " (pages 3 to 7)" when a range was asked for.
std::string pagesText(const ShotOptions& options) {
    if (options.firstPage == 1 && options.lastPage == UINT32_MAX) {
        return "";
    }
    return " (pages " + std::to_string(options.firstPage) + " to " +
           (options.lastPage == UINT32_MAX ? std::string("the end")
                                           : std::to_string(options.lastPage)) +
           ")";
}

const char kStyle[] =
    "<style>\nbody{font-family:sans-serif;background:#222;color:#ddd}\n"
    "figure{display:inline-block;margin:8px;width:400px;vertical-align:top}\n"
    "img{width:400px;border:1px solid #555}\nfigcaption{font-size:12px;word-wrap:break-word}\n"
    // The rows as the player breaks them and nowhere else: 64 glyphs fit the figure.
    "pre{white-space:pre;overflow-x:auto;font-size:10px;color:#fff}\n"
    ".events{font-size:12px;color:#9cf;padding-left:16px}\n.note{color:#fc6}\n"
    ".stop{color:#f88}\n</style>";

} // namespace

bool writeIndex(const ShotOptions& options, const ShotRun& run) {
    std::string title = sourceText(run.title.empty() ? options.folder : run.title);
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + title +
        " - bexu-shot</title>\n" + kStyle + "</head><body>\n<h1>" + title + "</h1>\n<p>" +
        sourceText(options.folder) + ": " + std::to_string(run.shots.size()) + " key waits" +
        pagesText(options) + " at " + std::to_string(options.width) + " x " +
        std::to_string(options.height) + ", stutter seed " + std::to_string(options.seed) +
        ".</p>\n";
    for (const Shot& shot : run.shots) {
        html += figure(run, shot);
    }
    html += eventList(run, run.after);
    if (run.end != ShotEnd::Finished) {
        html += "<p class=\"stop\"><strong>" + sourceText(run.message) + "</strong></p>\n";
    }
    html += "</body></html>\n";
    std::string path = options.outFolder + "/index.html";
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(html.data(), 1, html.size(), file) == html.size();
    return fclose(file) == 0 && written;
}

std::vector<std::string> playerRows(const std::string& dialogue, uint32_t* leftOut) {
    std::vector<std::string> rows(1);
    *leftOut = 0;
    PenPlace pen = {0, 0};
    int64_t rowY = 0;
    for (size_t i = 0; i < dialogue.size(); ++i) {
        auto c = static_cast<unsigned char>(dialogue[i]);
        PenPlace glyph = {0, 0};
        PenMove move = movePen(&pen, 0, c, &glyph);
        if (move == PenMove::End) {
            break;
        }
        if (c == '\n') {
            rows.emplace_back();
            rowY = pen.y;
        } else if (move == PenMove::Skip) {
            // A carriage return before a line break goes with it.
            bool lineEnd = c == '\r' && i + 1 < dialogue.size() && dialogue[i + 1] == '\n';
            *leftOut += lineEnd ? 0 : 1;
        } else {
            if (glyph.y != rowY) {
                rows.emplace_back();
                rowY = glyph.y;
            }
            rows.back() += static_cast<char>(c);
        }
    }
    return rows;
}
