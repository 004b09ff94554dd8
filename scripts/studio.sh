#!/usr/bin/env bash
# bexu studio: the site folder build-web/studio/, with the players it exports inside
# (the 32-bit Windows player, the self-contained Linux player and the web player), and
# build/bexu-studio, which serves the site and one story folder on 127.0.0.1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
# Debian's emscripten runs its JavaScript tools with node, which must see Debian's modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target bexu
# build/ as `make play` or `make test` configured it, or as `make play` would.
[ -f build/CMakeCache.txt ] || cmake --preset play >/dev/null
cmake --build build -j2 --target bexu-static bexu-studio
cmake --preset web >/dev/null
cmake --build --preset web --target bexu-studio-site
echo "bexu studio: build-web/studio/ (any static web host serves it as it is)"
echo "  build/bexu-studio STORY-FOLDER   serves it on 127.0.0.1 with that story"
