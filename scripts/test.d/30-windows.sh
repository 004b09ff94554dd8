#!/usr/bin/env bash
# The Windows builds: both executables, what they import, the release archives of
# the demo (make dist), and the 64-bit player under Wine against the Linux player
# of the default build, loose and unzipped from the demo packed by bexu-pack.
set -euo pipefail
cd "$BEXU_ROOT"
for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
python3 tests/windows/check_imports.py \
  i686-w64-mingw32-objdump build-win32/bexu.exe \
  x86_64-w64-mingw32-objdump build-win64/bexu.exe

cmake --preset default >/dev/null
cmake --build --preset default --target bexu bexu-pack e2e_watch_window
packed=()
if [ -f examples/demo/script.bexu ]; then
  bash scripts/dist.sh >/dev/null
  python3 tests/windows/check_dist.py dist/The-Keeper-of-Gull-Rock-windows.zip examples/demo
  rm -rf build-win64/packed
  build/bexu-pack examples/demo --out build-win64/packed --windows-player build-win64/bexu.exe \
    >/dev/null
  packed=(--packed build-win64/packed/The-Keeper-of-Gull-Rock-windows.zip)
else
  echo "SKIP dist: examples/demo holds no story yet"
fi

rm -rf build-win64/wine-test-output
timeout -k 10 900 python3 tests/windows/run_tests.py --windows build-win64/bexu.exe \
  --linux build/bexu --watch-helper build/tests/e2e_watch_window \
  --out build-win64/wine-test-output "${packed[@]}"
