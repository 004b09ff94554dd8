#!/usr/bin/env bash
# Builds the Linux player and the author tools, without the tests, and plays the
# bundled demo story.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" --preset play >/dev/null
cmake --build --preset play
cd "$root/examples/demo"
exec "$root/build/bexu"
