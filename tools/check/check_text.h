// How the checker's messages show text taken from a story.
#pragma once

#include <cstddef>
#include <string>

// A text from the script as it may be shown in a message: short, one line, printable,
// in single quotes.
std::string shown(const std::string& text, size_t longest = 40);
// A byte by name: 'a', tab, byte 0xC3.
std::string byteName(unsigned char c);
// `text` as a JSON string, quoted; bytes outside printable ASCII as \u00XX, so a byte
// of the story stays one character. With `utf8`, bytes above 126 stay as they are: the
// text is UTF-8.
std::string jsonString(const std::string& text, bool utf8 = false);
