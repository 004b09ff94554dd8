#!/usr/bin/env bash
# Builds the parser harnesses (clang, libFuzzer, ASan, UBSan) and fuzzes each one
# for a bounded time from its seeds in fuzz/corpus/<harness>/, two at a time.
# Any crash, sanitizer report, leak, timeout or out-of-memory fails the run; the
# input that caused it is left in <build>/findings/ (make it a regression test and
# a seed). Prints one line of figures per harness.
# Usage: fuzz/run-parsers.sh [seconds per harness] [harness ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${BEXU_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(block_reader extract_items stutter step_script wave file_uses wave_decoder lossless_wave author_traps scene served_path)

mkdir -p "$out"
cmake -S "$root/fuzz/parsers" -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE= > "$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }
cmake --build "$out" -j2 --target "${harnesses[@]/%/_fuzz}"
mkdir -p "$out/findings" "$out/logs"

options_for() {
  case "$1" in
    # The transform's output grows with the square of the words at high intensities.
    stutter) echo "-max_len=1024" ;;
    step_script) echo "-max_len=4096 -dict=$root/fuzz/step_script.dict" ;;
    wave | wave_decoder | lossless_wave) echo "-max_len=8192" ;;
    # Room for a small PNG or JPEG with its tables.
    scene) echo "-max_len=16384" ;;
    served_path) echo "-max_len=256" ;;
    *) echo "-max_len=4096" ;;
  esac
}

# The wave decoder cuts chunk lengths to the file, so no harness may
# allocate more than its input warrants: the sanitizer's defaults stay strict.
sanitizer_options() {
  echo ""
}

fuzz_one() {
  local harness="$1" work log
  work="$(mktemp -d)"
  log="$out/logs/$harness.log"
  # shellcheck disable=SC2046
  if ASAN_OPTIONS="$(sanitizer_options "$harness")" "$out/${harness}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$out/findings/$harness-" $(options_for "$harness") \
      "$work" "$root/fuzz/corpus/$harness" > "$log" 2>&1; then
    local runs speed corpus
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    corpus="$(ls "$work" | wc -l)"
    echo "fuzz $harness: $runs executions in $seconds s ($speed/s), $corpus new inputs, no findings"
    rm -rf "$work"
  else
    rm -rf "$work"
    echo "fuzz $harness: FINDING (log: $log)"
    grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20
    return 1
  fi
}

failed=0
pids=()
names=()
for harness in "${harnesses[@]}"; do
  fuzz_one "$harness" &
  pids+=($!)
  names+=("$harness")
  # Two cores: two fuzzers at a time.
  if [ ${#pids[@]} -eq 2 ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for pid in "${pids[@]}"; do
  wait "$pid" || failed=1
done
exit $failed
