// Opening story files: only plain files open, and opening never waits, whatever sits
// under the name (a folder, a named pipe with no writer, a device).
#include "platform/platform.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

TEST(PlatformFiles, OpensPlainFilesOnly) {
    std::string folder = makeTempFolder();
    writeFile(folder + "/plain", std::string("{0[say~x]}"));
    writeFile(folder + "/empty", std::string());
    mkdir((folder + "/folder").c_str(), 0755);
    mkfifo((folder + "/pipe").c_str(), 0644);
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {folder + "/plain", true}, {folder + "/empty", true},    {folder + "/folder", false},
        {folder + "/pipe", false}, {folder + "/missing", false}, {"/dev/null", false},
        {"/dev/zero", false},
    };
    for (const Case& c : cases) {
        PlatformFile* file = platformOpenFile(c.path.c_str());
        EXPECT_EQ(file != nullptr, c.opens) << c.path;
        platformCloseFile(file);
    }
    removeFolder(folder);
}
