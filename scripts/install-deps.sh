#!/usr/bin/env bash
# Installs the Debian packages bexu needs. Idempotent: skips what is present.
# Usage: scripts/install-deps.sh play|test|dist|studio
set -euo pipefail

build_packages=(build-essential cmake ninja-build pkg-config libsdl2-dev zlib1g-dev libfreetype-dev libpng-dev libjpeg-dev)
play_packages=(xfonts-base fonts-dejavu-core)
dist_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 emscripten)
studio_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 emscripten libcpp-httplib-dev)
test_packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpixman-1-dev libpng-dev
  clang libclang-rt-14-dev clang-format valgrind
  debootstrap xvfb xauth xfonts-base xdotool imagemagick x11-utils libx11-dev libxdamage-dev
  desktop-file-utils
  fonts-dejavu-core espeak-ng sox python3 python3-pil
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 zip unzip
  emscripten chromium python3-websocket libcpp-httplib-dev
  g++-aarch64-linux-gnu qemu-user-static
  libgtest-dev:arm64 libbenchmark-dev:arm64 libpixman-1-dev:arm64 libpng-dev:arm64
)

case "${1:-test}" in
  play) wanted=("${build_packages[@]}" "${play_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  dist) wanted=("${build_packages[@]}" "${dist_packages[@]}") ;;
  studio) wanted=("${build_packages[@]}" "${studio_packages[@]}") ;;
  *) echo "usage: $0 play|test|dist|studio" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "installing: ${missing[*]}"
# A package of another architecture (name:arch) needs that architecture known to dpkg.
for package in "${missing[@]}"; do
  arch="${package#*:}"
  if [ "$arch" != "$package" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    "${sudo_cmd[@]}" dpkg --add-architecture "$arch"
  fi
done
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
