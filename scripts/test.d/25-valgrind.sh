#!/usr/bin/env bash
# The demo story played whole by the headless player (the default build's) under
# valgrind's memcheck: any invalid read or write, use of uninitialised memory or lost
# block fails the phase, as does a play that does not reach the story's end.
set -euo pipefail
cd "$BEXU_ROOT"
player="${BEXU_VALGRIND_PLAYER:-$BEXU_ROOT/build/bexu-headless}"
if [ ! -x "$player" ]; then
  cmake --preset default > /dev/null
  cmake --build --preset default --target bexu-headless
fi
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# Space every 400 ms: more than the story's key waits.
keys="$(seq -s, 300 400 24300)"
cd examples/demo
BEXU_HEADLESS_KEYS="$keys" BEXU_HEADLESS_LIMIT=40000 BEXU_HEADLESS_SIZE=400x225 \
  BEXU_HEADLESS_LOG="$log" \
  valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
  --errors-for-leak-kinds=definite,indirect \
  --track-origins=yes "$player"
grep -q ' play chime.wav$' "$log" || { echo "the demo did not reach its last block"; exit 1; }
grep -q ' exit 0$' "$log" || { echo "the demo did not end with exit code 0"; exit 1; }
echo "valgrind: the demo story played whole, no errors"
