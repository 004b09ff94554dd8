// The checker's report as compiler-style text or as JSON.
#include "check/check_text.h"
#include "check/story_check.h"

#include <cstdio>

namespace {

const char* severityName(Severity severity) {
    switch (severity) {
    case Severity::Error:
        return "error";
    case Severity::Warning:
        return "warning";
    default:
        return "note";
    }
}

std::string plural(uint32_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// A file of the story as the user names it; the empty name is the folder itself.
std::string shownFile(const std::string& prefix, const std::string& file) {
    if (!file.empty()) {
        return prefix + file;
    }
    return prefix.empty() ? "." : prefix.substr(0, prefix.size() - 1);
}

} // namespace

std::string folderPrefix(const std::string& folder) {
    if (folder.empty() || folder == ".") {
        return "";
    }
    return folder.back() == '/' ? folder : folder + "/";
}

std::string formatText(const CheckReport& report, const std::string& prefix) {
    std::string out;
    for (const Diagnostic& d : report.diagnostics) {
        out += shownFile(prefix, d.file) + ":";
        if (d.line != 0) {
            out += std::to_string(d.line) + ":" + std::to_string(d.column) + ":";
        }
        out +=
            std::string(" ") + severityName(d.severity) + ": " + d.message + " [" + d.code + "]\n";
    }
    out += prefix + "script.bexu: ";
    if (report.readable) {
        out += plural(report.blocks, "block") + ", " + plural(report.commands, "command") + ", " +
               plural(report.pages, "page") + ": ";
    }
    uint32_t errors = countSeverity(report, Severity::Error);
    uint32_t warnings = countSeverity(report, Severity::Warning);
    uint32_t notes = countSeverity(report, Severity::Note);
    out += errors + warnings == 0 ? std::string("clean")
                                  : plural(errors, "error") + ", " + plural(warnings, "warning");
    if (notes > 0) {
        out += ", " + plural(notes, "note");
    }
    return out + "\n";
}

std::string formatJson(const CheckReport& report, const std::string& prefix) {
    std::string out =
        "{\n  \"readable\": " + std::string(report.readable ? "true" : "false") +
        ",\n  \"blocks\": " + std::to_string(report.blocks) +
        ",\n  \"commands\": " + std::to_string(report.commands) +
        ",\n  \"pages\": " + std::to_string(report.pages) +
        ",\n  \"errors\": " + std::to_string(countSeverity(report, Severity::Error)) +
        ",\n  \"warnings\": " + std::to_string(countSeverity(report, Severity::Warning)) +
        ",\n  \"notes\": " + std::to_string(countSeverity(report, Severity::Note)) +
        ",\n  \"diagnostics\": [";
    const char* separator = "\n";
    for (const Diagnostic& d : report.diagnostics) {
        out += separator;
        out += "    {\"file\": " + jsonString(shownFile(prefix, d.file)) +
               ", \"line\": " + std::to_string(d.line) +
               ", \"column\": " + std::to_string(d.column) + ", \"severity\": \"" +
               severityName(d.severity) + "\", \"code\": " + jsonString(d.code) +
               ", \"message\": " + jsonString(d.message) + "}";
        separator = ",\n";
    }
    out += report.diagnostics.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}
