#include "platform/sdl/windows_text.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <string>

namespace {

std::string utf8Of(const std::string& text) {
    std::string out(utf8Room(text.size()), '\0');
    windows1252ToUtf8(text.c_str(), &out[0]);
    out.resize(strlen(out.c_str()));
    return out;
}

// The C library's own conversion, for the bytes the code page assigns.
std::string iconvUtf8Of(char byte) {
    iconv_t conversion = iconv_open("UTF-8", "WINDOWS-1252");
    char in[1] = {byte};
    char out[8] = {};
    char* from = in;
    char* to = out;
    size_t left = 1;
    size_t room = sizeof out;
    size_t done = iconv(conversion, &from, &left, &to, &room);
    iconv_close(conversion);
    return done == static_cast<size_t>(-1) ? std::string("?") : std::string(out, to);
}

} // namespace

TEST(WindowsText, TitlesBecomeUtf8) {
    EXPECT_EQ(utf8Of("Bexu Game\n"), "Bexu Game\n");
    EXPECT_EQ(utf8Of("Caf\xe9"), "Caf\xc3\xa9");
    EXPECT_EQ(utf8Of("\x80 \x9f \xff"), "\xe2\x82\xac \xc5\xb8 \xc3\xbf");
    // Unassigned in the code page: the desktop gives the control of the same number.
    EXPECT_EQ(utf8Of("\x81\x8d\x8f\x90\x9d"), "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d");
    ASSERT_EQ(iconvUtf8Of('\x80'), "\xe2\x82\xac") << "the C library cannot convert";
    for (int byte = 1; byte < 256; ++byte) {
        std::string expected = iconvUtf8Of(static_cast<char>(byte));
        if (expected != "?") {
            EXPECT_EQ(utf8Of(std::string(1, static_cast<char>(byte))), expected) << byte;
        }
    }
}
