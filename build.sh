#!/usr/bin/env bash
# Builds Orvane and runs what is asked:
#   ./build.sh main    build, then run the main job (the orvane tool's demo)
#   ./build.sh test    build, then run every test
# Missing Debian packages are installed first.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev libeigen3-dev zlib1g-dev nlohmann-json3-dev
  libsquish-dev libstb-dev libjpeg-dev clang-format libcli11-dev doxygen dpkg-dev file
  libassimp-dev libpng-dev libgif-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

case "${1:-}" in
  main) shift; ./build/tools/orvane demo "$@" ;;
  test) ctest --test-dir build --output-on-failure -j "$jobs" ;;
  *) echo "usage: $0 main|test" >&2; exit 2 ;;
esac
