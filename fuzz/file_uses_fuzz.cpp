// The list of files a script names (bexu-pack's), over any script: every name with a
// place must stand at that place, right after the `~` of its command.
#include "check/story_files.h"
#include "format/story_format.h"
#include "fuzz_files.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeFuzzFile(kScriptFileName, data, size);
    FileUses uses = listFileUses(fuzzFolder());
    if (!uses.readable) {
        abort();
    }
    std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const FileUse& use : uses.uses) {
        if (use.name.empty() || use.line == 0 || use.column == 0) {
            abort();
        }
        size_t at = 0;
        for (uint32_t line = 1; line < use.line; ++line) {
            at = bytes.find('\n', at);
            if (at == std::string::npos) {
                abort();
            }
            ++at;
        }
        at += use.column - 1;
        if (at == 0 || at > size || bytes[at - 1] != '~' ||
            bytes.compare(at, use.name.size(), use.name) != 0) {
            abort();
        }
    }
    return 0;
}
