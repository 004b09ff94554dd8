// The players' decoders compiled to wasm, asked about every file that run_web.py packs
// into the page's file system under /corpus (tests/web/decode_corpus.py): one line
// "decode answer: NAME: REASON" for each file in name order, as the web player loads a
// scene or a sound, then "decode answers: N files". run_web.py compares the answers with
// the native checker's.
#include "support/player_load.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

const char kCorpus[] = "/corpus";

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    DIR* folder = opendir(kCorpus);
    if (folder == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.size() > 4 &&
            (name.rfind(".wav") == name.size() - 4 || name.rfind(".bmp") == name.size() - 4)) {
            names.push_back(name);
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

int main() {
    std::vector<std::string> names = corpusNames();
    for (const std::string& name : names) {
        LoadFailure failure = playerLoadFailure(std::string(kCorpus) + "/" + name);
        printf("decode answer: %s: %s\n", name.c_str(), loadFailureText(failure));
    }
    printf("decode answers: %zu files\n", names.size());
    return names.empty() ? 1 : 0;
}
