// What bexu-studio serves: only plain files inside the folder, whatever the path tries;
// the listing of a story folder; a change under the folder is noticed.
#include "studio/server/folder_watch.h"
#include "studio/server/served_files.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// base/story holds the story, base/outside what must never be served.
class ServedFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        base = makeTempFolder();
        char real[PATH_MAX];
        ASSERT_NE(realpath(base.c_str(), real), nullptr);
        base = real;
        story = base + "/story";
        std::string outside = base + "/outside";
        for (const std::string& folder : {story, outside, story + "/sub", story + "/sub/deeper"}) {
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0) << folder;
        }
        writeFile(story + "/script.bexu", "{0[say~hi]}");
        writeFile(story + "/sub/deeper/scene.bmp", "BM");
        writeFile(story + "/.hidden", "x");
        writeFile(story + "/100%.bmp", "x");
        writeFile(outside + "/secret.txt", "SECRET");
        ASSERT_EQ(symlink("../script.bexu", (story + "/sub/inside.bexu").c_str()), 0);
        ASSERT_EQ(symlink("sub", (story + "/sub-link").c_str()), 0);
        ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), (story + "/out.txt").c_str()), 0);
        ASSERT_EQ(symlink("../outside", (story + "/out-folder").c_str()), 0);
        ASSERT_EQ(symlink("loop", (story + "/loop").c_str()), 0);
        ASSERT_EQ(symlink("missing", (story + "/dangling").c_str()), 0);
        ASSERT_EQ(mkfifo((story + "/pipe").c_str(), 0644), 0);
    }
    void TearDown() override { removeFolder(base); }

    std::string base;
    std::string story;
};

struct PathCase {
    const char* path;     // after /story/, decoded once
    const char* servedAs; // relative to the story folder; null: refused
};

TEST_F(ServedFiles, OnlyPlainFilesInsideTheFolder) {
    const PathCase cases[] = {
        {"script.bexu", "script.bexu"},
        {"sub/deeper/scene.bmp", "sub/deeper/scene.bmp"},
        {"sub/inside.bexu", "script.bexu"}, // a link that stays inside
        {"sub-link/deeper/scene.bmp", "sub/deeper/scene.bmp"},
        {".hidden", ".hidden"},
        {"100%.bmp", "100%.bmp"}, // a name, not an encoding
        {"", nullptr},
        {"/", nullptr},
        {"../outside/secret.txt", nullptr},
        {"sub/../../outside/secret.txt", nullptr},
        {"sub/../script.bexu", nullptr}, // '..' anywhere, even staying inside
        {"./script.bexu", nullptr},
        {"sub//deeper/scene.bmp", nullptr},
        {"script.bexu/", nullptr},
        {"/etc/passwd", nullptr},
        {"%2e%2e/outside/secret.txt", nullptr}, // decoded once already: a literal name
        {"..\\outside\\secret.txt", nullptr},
        {"sub\\deeper\\scene.bmp", nullptr},
        {"out.txt", nullptr},               // a link to a file outside
        {"out-folder/secret.txt", nullptr}, // through a linked folder outside
        {"loop", nullptr},
        {"dangling", nullptr},
        {"pipe", nullptr},
        {"sub", nullptr}, // a folder
        {"missing.bmp", nullptr},
    };
    for (const PathCase& c : cases) {
        std::string file;
        bool served = servedFile(story, c.path, &file);
        if (c.servedAs == nullptr) {
            EXPECT_FALSE(served) << "'" << c.path << "' gave " << file;
        } else {
            EXPECT_TRUE(served) << "'" << c.path << "'";
            EXPECT_EQ(file, story + "/" + c.servedAs) << "'" << c.path << "'";
        }
    }
    std::string file;
    EXPECT_FALSE(servedFile(story, std::string("script.bexu\0.txt", 16), &file));
}

TEST_F(ServedFiles, ListingHoldsWhatIsInsideOnly) {
    ASSERT_EQ(symlink("..", (story + "/sub/up").c_str()), 0);
    writeFile(story + "/caf\xC3\xA9.bmp", "x");
    writeFile(story + "/bad\xE9.bmp", "x");
    FolderListing listing = listFolder(story, 1000);
    std::vector<std::string> paths;
    for (const ListedFile& file : listing.files) {
        paths.push_back(file.path);
    }
    // A linked folder inside is listed by each of its paths; links out, the loops (a link to
    // itself, a folder linking to its parent), the dangling link, the pipe and the name
    // that is not UTF-8 are left out.
    std::vector<std::string> wanted = {".hidden",
                                       "100%.bmp",
                                       "caf\xC3\xA9.bmp",
                                       "script.bexu",
                                       "sub-link/deeper/scene.bmp",
                                       "sub-link/inside.bexu",
                                       "sub/deeper/scene.bmp",
                                       "sub/inside.bexu"};
    EXPECT_EQ(paths, wanted);
    EXPECT_EQ(listing.leftOut, 7u); // the pipe is not a file: not counted
    EXPECT_FALSE(listing.cut);
    std::string json = listingJson("story", listing);
    EXPECT_NE(json.find("\"path\":\"caf\xC3\xA9.bmp\",\"size\":1,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"note\":\"7 names are left out"), std::string::npos) << json;
    EXPECT_EQ(json.find("secret"), std::string::npos) << json;
}

TEST_F(ServedFiles, ListingIsCutAtItsMost) {
    FolderListing listing = listFolder(story, 2);
    EXPECT_EQ(listing.files.size(), 2u);
    EXPECT_TRUE(listing.cut);
    EXPECT_NE(listingJson("story", listing).find("\"note\":\"The folder holds more than 2 files"),
              std::string::npos);
}

TEST_F(ServedFiles, NamesAreJsonStrings) {
    FolderListing listing = {{{"a\"b\\c\x01.bmp", 3, 1000}}, 0, false};
    EXPECT_EQ(listingJson("q\"", listing),
              "{\"name\":\"q\\\"\",\"files\":[{\"path\":\"a\\\"b\\\\c\\u0001.bmp\",\"size\":3,"
              "\"mtime\":1000}]}");
}

TEST_F(ServedFiles, ChangesAreNoticed) {
    FolderWatch* watch = startFolderWatch(story);
    uint64_t seen = changeCount(watch);
    // A file saved in a folder made after the watch began.
    ASSERT_EQ(mkdir((story + "/new").c_str(), 0755), 0);
    uint64_t now = waitForChange(watch, seen, 5000);
    EXPECT_GT(now, seen);
    usleep(200 * 1000);
    seen = changeCount(watch);
    writeFile(story + "/new/scene.bmp", "BM");
    EXPECT_GT(waitForChange(watch, seen, 5000), seen);
}

} // namespace
