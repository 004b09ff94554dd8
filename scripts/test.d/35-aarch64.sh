#!/usr/bin/env bash
# The Linux build for 64-bit ARM, cross-built with Debian's aarch64 toolchain: the stretch
# tests run under qemu-user on the portable path, which the compiler vectorises for NEON.
set -euo pipefail
cd "$BEXU_ROOT"
cmake --preset aarch64 >/dev/null
cmake --build --preset aarch64 --target test_soft
ctest --test-dir build-aarch64 -R '^Stretch' --output-on-failure --timeout 300
