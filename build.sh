#!/usr/bin/env bash
# Builds Orvane and runs what is asked:
#   ./build.sh main    build, then run the main job (the orvane tool's demo): the demo character
#                      built from code, written, loaded back, verified, played and drawn to
#                      build/orvane_demo.png
#   ./build.sh main FILE [DEMO OPTIONS]
#                      the same with a scene FILE, imported first (any format the importer
#                      reads) into build/<name>.ovn (a content file .ovn is used as it is); the
#                      picture goes beside the content file, as <name>.png
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
  main)
    shift
    if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
      scene=$1
      shift
      case "$scene" in
        *.ovn) content=$scene ;;  # already a content file
        *)
          name=$(basename "$scene")
          content="build/${name%.*}.ovn"
          ./build/tools/orvane import "$scene" -o "$content"
          ;;
      esac
      ./build/tools/orvane demo --content "$content" "$@"
    else
      ./build/tools/orvane demo build/orvane_demo.ovn "$@"
    fi
    ;;
  test) ctest --test-dir build --output-on-failure -j "$jobs" ;;
  *) echo "usage: $0 main|test" >&2; exit 2 ;;
esac
