#!/usr/bin/env bash
# Builds the web player (preset `web`) and a page that plays one story: OUTDIR gets
# index.html, bexu.js, bexu.wasm, and the story's files packed as story.data with its
# loader story.js; then <Title>-web.zip of those five, ready for any static web host.
# Usage: scripts/web.sh STORY OUTDIR [FILE-TITLE]
# FILE-TITLE names the archive (bexu-pack passes the one it gives its own archives);
# without it the title comes from init.bexc, made safe as a file name.
# BEXU_WEB_BUILD names another build folder of the web preset (default: build-web).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -lt 2 ] || [ $# -gt 3 ] || [ ! -d "$1" ]; then
  echo "usage: $0 STORY-FOLDER OUTDIR [FILE-TITLE]" >&2
  exit 2
fi
case "${3:-}" in
  */* | .*) echo "$0: FILE-TITLE must be a plain file name" >&2; exit 2 ;;
esac
story="$(cd "$1" && pwd)"
out="$2"
build="${BEXU_WEB_BUILD:-$root/build-web}"
# Debian's emscripten runs its JavaScript tools with node, which must see Debian's modules.
export NODE_PATH=/usr/share/nodejs

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset web -B "$build" >/dev/null
fi
cmake --build "$build" -j2 --target bexu >/dev/null

mkdir -p "$out"
rm -f "$out"/*-web.zip
cp "$build/index.html" "$build/bexu.js" "$build/bexu.wasm" "$out/"
# The story at the root of the page's file system, where the player looks for it.
python3 /usr/share/emscripten/tools/file_packager.py "$out/story.data" --preload "$story@/" \
  --js-output="$out/story.js" --no-node --exclude ".*" 2> >(grep -v "FORCE_FILESYSTEM" >&2) >/dev/null

# The archive is named after the story's title (init.bexc), made safe as a file name,
# unless the caller named it.
title="${3:-Bexu Game}"
if [ $# -eq 2 ] && [ -s "$story/init.bexc" ]; then
  title="$(head -c 200 "$story/init.bexc" | tr -d '\000' | tr -c 'A-Za-z0-9 ._-' '_' |
    sed 's/^[ ._-]*//; s/[ ._-]*$//')"
  [ -n "$title" ] || title="Bexu Game"
fi
(cd "$out" && zip -q -X "$title-web.zip" index.html bexu.js bexu.wasm story.js story.data)
echo "$out/$title-web.zip"
