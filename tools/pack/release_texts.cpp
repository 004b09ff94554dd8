#include "pack/release_texts.h"

namespace {

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

} // namespace

std::string printableTitle(const std::string& title) {
    std::string out;
    for (char c : title) {
        out += c >= 32 && c <= 126 ? c : '?';
    }
    return out;
}

std::string windowsReadMe(const std::string& title, const std::string& fileTitle) {
    return withCrLf(
        printableTitle(title) + "\n\n" + "Start " + fileTitle +
        ".exe to read the story.\n"
        "Space reads on. Closing the window quits.\n\n"
        "The player reads the story from the files beside it: keep this folder together.\n"
        "Unpack the whole archive first (right-click it, then Extract All): started from\n"
        "inside the zip, the player finds no story.\n\n"
        "The player is not signed, so Windows may warn before it first starts it:\n"
        "- A blue window, \"Windows protected your PC\", says that Microsoft Defender\n"
        "  SmartScreen prevented an unrecognized app from starting. Click \"More info\",\n"
        "  then \"Run anyway\".\n"
        "- A window \"Open File - Security Warning\" says that the publisher could not be\n"
        "  verified. Click \"Run\" (clear \"Always ask before opening this file\" to be\n"
        "  asked no more).\n"
        "If Windows offers neither button, right-click " +
        fileTitle +
        ".exe, choose Properties, tick\n"
        "\"Unblock\" at the bottom of the General tab, click OK and start it again.\n");
}

std::string linuxReadMe(const std::string& title, const std::string& fileTitle) {
    return printableTitle(title) + "\n\n" + "Start ./" + fileTitle + " (or open " + fileTitle +
           ".desktop from a file manager) to read the story.\n"
           "Space reads on. Closing the window quits.\n\n"
           "The player reads the story from the files beside it: keep this folder together.\n"
           "It brings everything along but the C library (glibc 2.34 or later). It shows\n"
           "its window through the desktop's X11 libraries (Wayland desktops run it through\n"
           "XWayland) and plays sound through ALSA's library, when the machine has it.\n";
}

std::string webReadMe(const std::string& title) {
    return printableTitle(title) + "\n\n" +
           "The story as a web page. Put these files, as they are, in a folder of any static\n"
           "web host (GitHub Pages, Netlify, your own server; itch.io takes this zip as an\n"
           "HTML project) and open index.html there. No server code is needed.\n\n"
           "Opened from the disk (file://), the page cannot load the story: the browser\n"
           "allows that only over the web. To try it on your own machine, serve the folder:\n"
           "  python3 -m http.server --bind 127.0.0.1 8000\n"
           "and open http://127.0.0.1:8000/ in a browser.\n";
}

std::string linuxLauncher() {
    return "#!/bin/sh\n"
           "# Plays the story of this folder, from wherever it is started.\n"
           "cd \"$(dirname \"$(readlink -f \"$0\")\")\" || exit 1\n"
           "exec ./bexu \"$@\"\n";
}

std::string desktopEntry(const std::string& title, const std::string& fileTitle) {
    std::string name;
    for (char c : printableTitle(title)) {
        name += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    // %k is this entry's own path. The argument is quoted for the entry's Exec rules
    // (\" and \$ inside quotes), then each backslash is doubled for the file's.
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" +
           name +
           "\n"
           "Comment=A picture story\n"
           "Exec=sh -c \"exec \\\\\"\\\\$(dirname \\\\\"\\\\$0\\\\\")/" +
           fileTitle +
           "\\\\\"\" %k\n"
           "Terminal=false\n"
           "Categories=Game;\n";
}
