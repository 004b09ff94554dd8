#!/usr/bin/env bash
# Builds everything and runs every test phase in scripts/test.d, in name order.
# Stops at the first failing phase and exits non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export BEXU_ROOT="$root"
for phase in "$root"/scripts/test.d/*.sh; do
  echo "==== $(basename "$phase")"
  start=$(date +%s)
  bash "$phase"
  echo "==== $(basename "$phase") passed in $(( $(date +%s) - start )) s"
done
echo "all test phases passed"
