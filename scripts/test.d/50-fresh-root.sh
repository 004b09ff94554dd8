#!/usr/bin/env bash
# A Debian 12 root made anew: first the demo's packed Linux archive, with only the X11
# client libraries installed; then the README's prerequisites and play command (and with
# BEXU_FRESH_TEST_SETUP=1 the test command's install and configure steps). The first
# picture is checked on a display lent from outside the root.
set -euo pipefail
cd "$BEXU_ROOT"
cmake --preset win32 >/dev/null
cmake --build --preset win32
# bexu-pack packs the web page too: the web player, built with Debian's emscripten.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web --target bexu
cmake --preset default >/dev/null
cmake --build --preset default --target bexu-pack bexu-static
packed="$(mktemp -d)"
trap 'rm -rf "$packed"' EXIT
build/bexu-pack examples/demo --out "$packed" >/dev/null
# The packer names the archive, its folder and the launcher after the story's title.
archive="$(echo "$packed"/*-linux-x86_64.tar.gz)"
title="$(basename "$archive" -linux-x86_64.tar.gz)"
mkdir -p build/fresh-root
# The test command's own install and configure steps are what CI itself runs in a new root
# on every run; `make fresh-check` (BEXU_FRESH_TEST_SETUP=1) runs them here too.
test_setup=()
[ "${BEXU_FRESH_TEST_SETUP:-0}" = 1 ] && test_setup=(--test-setup)
timeout -k 30 1800 python3 tests/fresh/fresh_root.py --checkout "$BEXU_ROOT" --out build/fresh-root \
  --archive "$archive" --launcher "$title/$title" "${test_setup[@]}"
