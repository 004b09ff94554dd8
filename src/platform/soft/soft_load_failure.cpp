// The reason of the last refused load, kept as stb keeps its failure reason.
#include "platform/platform.h"

namespace {
LoadFailure lastFailure = LoadFailure::None;
} // namespace

LoadFailure platformLoadFailure() {
    return lastFailure;
}

void platformNoteLoadFailure(LoadFailure failure) {
    lastFailure = failure;
}
