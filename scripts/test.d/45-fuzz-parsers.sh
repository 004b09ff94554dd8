#!/usr/bin/env bash
# Fuzzes the story parsers for 20 s each, two at a time (about 2 minutes): the
# block reader, command cutting, the interpreter, the stutter transform, the wave
# decoder with the SDL backend's conversion of its samples, bexu-pack's list of named
# files, the wave decoder alone, the web story's lossless wave coding, the checker's
# readings of a story's text, bexu-scene's pictures and bexu-studio's request paths.
# Any finding fails the phase; see fuzz/run-parsers.sh.
set -euo pipefail
cd "$BEXU_ROOT"
BEXU_FUZZ_BUILD="$BEXU_ROOT/build-fuzz" bash fuzz/run-parsers.sh 20
