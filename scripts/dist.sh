#!/usr/bin/env bash
# Release: dist/bexu-win32.zip holds the 32-bit player and the demo story side
# by side, since the player reads its story from its working directory.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
if [ ! -f examples/demo/script.bexu ]; then
  echo "dist: examples/demo has no story to ship" >&2
  exit 1
fi
cmake --preset win32 >/dev/null
cmake --build --preset win32
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/bexu"
cp build-win32/bexu.exe "$stage/bexu/"
cp -R examples/demo/. "$stage/bexu/"
mkdir -p dist
rm -f dist/bexu-win32.zip
(cd "$stage" && zip -q -r -X "$root/dist/bexu-win32.zip" bexu)
echo "dist/bexu-win32.zip"
