#!/usr/bin/env bash
# The web player: the web preset built with Debian's emscripten, then the browser
# tests in headless Chromium against the native headless player's frames, each story's
# page the web archive bexu-pack makes of it.
set -euo pipefail
cd "$BEXU_ROOT"
# Debian's emscripten runs node, which must see Debian's JavaScript modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web
cmake --preset default >/dev/null
cmake --build --preset default --target bexu-headless bexu-check bexu-pack
# Debian's python3-websocket belongs to the system's python.
timeout -k 10 660 /usr/bin/python3 tests/web/run_web.py --build build-web \
  --headless build/bexu-headless --pack build/bexu-pack --demo examples/demo \
  --out build-web/web-test-output
