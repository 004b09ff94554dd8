#!/usr/bin/env bash
# Every CTest test again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# (the sanitize preset, build-sanitize/): any report fails the test it happens in.
set -euo pipefail
cd "$BEXU_ROOT"
cmake --preset sanitize
cmake --build --preset sanitize
# The preset builds with -fno-sanitize-recover: the first report ends the program.
export UBSAN_OPTIONS="print_stacktrace=1"
ctest --preset sanitize -j2
