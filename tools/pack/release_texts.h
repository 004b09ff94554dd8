// The files the packer writes beside a story: read-mes, the Linux launcher and its
// desktop entry.
#pragma once

#include <string>

// `title` as plain printable text: other bytes become '?'.
std::string printableTitle(const std::string& title);

std::string windowsReadMe(const std::string& title, const std::string& fileTitle);
std::string linuxReadMe(const std::string& title, const std::string& fileTitle);
std::string webReadMe(const std::string& title);
// A shell script that enters its own folder and starts the player there.
std::string linuxLauncher();
// A desktop entry that starts the launcher named `fileTitle` beside it.
std::string desktopEntry(const std::string& title, const std::string& fileTitle);
