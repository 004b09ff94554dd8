#!/usr/bin/env bash
# The web player: the web preset built with Debian's emscripten, then the browser
# tests in headless Chromium against the native headless player's frames.
set -euo pipefail
cd "$BEXU_ROOT"
# Debian's emscripten runs node, which must see Debian's JavaScript modules.
export NODE_PATH=/usr/share/nodejs
cmake --preset web >/dev/null
cmake --build --preset web
cmake --preset default >/dev/null
cmake --build --preset default --target bexu-headless bexu-check
# Debian's python3-websocket belongs to the system's python.
timeout -k 10 600 /usr/bin/python3 tests/web/run_web.py --build build-web \
  --headless build/bexu-headless --demo examples/demo --out build-web/web-test-output
