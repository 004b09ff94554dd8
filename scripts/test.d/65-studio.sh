#!/usr/bin/env bash
# bexu studio: the site as `make studio` writes it (with the players it exports) and
# bexu-studio, then the studio's tests in headless Chromium against the native tools:
# findings against bexu-check, pages against bexu-shot, archives against bexu-pack,
# play from a line, local mode and its path escapes, bad input.
set -euo pipefail
cd "$BEXU_ROOT"
export NODE_PATH=/usr/share/nodejs
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target bexu
cmake --preset default >/dev/null
cmake --build --preset default --target bexu-static bexu-studio bexu-check bexu-shot bexu-pack
cmake --preset web >/dev/null
cmake --build --preset web --target bexu-studio-site
# Debian's python3-websocket belongs to the system's python.
timeout -k 10 900 /usr/bin/python3 tests/web/run_studio.py --site build-web/studio --tools build \
  --demo examples/demo --out build-web/studio-test-output
