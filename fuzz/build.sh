#!/usr/bin/env bash
# Builds the BMP fuzzer with clang's libFuzzer, AddressSanitizer and UBSan.
# Usage: fuzz/build.sh [output folder]   (default: build-fuzz in the checkout)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-fuzz}"
mkdir -p "$out"
# vptr checks need RTTI, which the project builds without.
clang++ -std=c++17 -O1 -g -fno-omit-frame-pointer -fno-exceptions -fno-rtti \
  -fsanitize=fuzzer,address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all \
  -I"$root/src" \
  "$root/fuzz/bmp_fuzz.cpp" "$root"/src/platform/soft/*.cpp "$root"/src/platform/posix/*.cpp \
  "$root"/src/platform/*.cpp \
  -o "$out/fuzz_bmp"
echo "$out/fuzz_bmp"
