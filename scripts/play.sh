#!/usr/bin/env bash
# Builds the Linux player and plays the bundled demo story.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" --preset default >/dev/null
cmake --build "$root/build" --target bexu -j2
cd "$root/examples/demo"
exec "$root/build/bexu"
