#!/usr/bin/env bash
# Fuzzes the BMP decoder for 30 s from the BMP suite and our own seed files.
# Any crash, sanitizer report, leak or timeout fails the phase; the input that
# caused it is left in build/fuzz/ (turn it into a regression test).
set -euo pipefail
cd "$BEXU_ROOT"
out="$BEXU_ROOT/build/fuzz"
fuzzer="$(fuzz/build.sh "$out" | tail -n 1)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seeds=("$BEXU_ROOT/fuzz/corpus/bmp")
suite="$BEXU_ROOT/../shared/testdata/bmpsuite"
if [ -d "$suite" ]; then
  seeds+=("$suite/g" "$suite/q" "$suite/b" "$suite/x")
else
  echo "BMP suite not found at $suite: fuzzing from fuzz/corpus/bmp only"
fi
# New inputs go to the scratch folder, the first one named; the seeds stay as they are.
"$fuzzer" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$out/" "$work" "${seeds[@]}"
