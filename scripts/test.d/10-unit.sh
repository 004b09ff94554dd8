#!/usr/bin/env bash
# The default build: player, headless tests and end-to-end tests through CTest.
set -euo pipefail
cd "$BEXU_ROOT"
cmake --preset default
cmake --build --preset default
ctest --preset default -j2
