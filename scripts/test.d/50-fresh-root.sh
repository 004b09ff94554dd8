#!/usr/bin/env bash
# The README's prerequisites and play command on a Debian 12 root made anew, with the
# demo's first picture checked on a display lent from outside the root; then the
# test command's install and configure steps in the same root.
set -euo pipefail
cd "$BEXU_ROOT"
mkdir -p build/fresh-root
timeout -k 30 1800 python3 tests/fresh/fresh_root.py --checkout "$BEXU_ROOT" --out build/fresh-root \
  --test-setup
