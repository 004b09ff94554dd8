#!/usr/bin/env bash
# Release: bexu-pack packs the demo story for readers into dist/, a zip with the
# 32-bit Windows player, a tar.gz with the self-contained Linux player and a zip of
# the web page.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
if [ ! -f examples/demo/script.bexu ]; then
  echo "dist: examples/demo has no story to ship" >&2
  exit 1
fi
cmake --preset win32 >/dev/null
cmake --build --preset win32
# Debian's emscripten runs node, which must see Debian's JavaScript modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web --target bexu
cmake --preset dist >/dev/null
cmake --build --preset dist --target bexu-pack
mkdir -p dist
build-dist/bexu-pack examples/demo --out dist
