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
#   ./build.sh web     build the run-time library and the viewer page for WebAssembly into
#                      build-web/web/ (Debian's emscripten); `build/tools/orvane view FILE`
#                      serves it
#   ./build.sh web-units
#                      the test programs of the subsystems that need no other library, built
#                      for WebAssembly (a 32-bit host) into build-web-tests/ and run under node
#   ./build.sh web-test
#                      the same, then the viewer's browser test: headless chromium (driven by
#                      puppeteer-core from npm) against the native tool, which is built first
# Missing Debian packages are installed first.
set -euo pipefail
cd "$(dirname "$0")"

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
# Installs those of the Debian packages named that are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
jobs=$(nproc 2>/dev/null || echo 2)

packages=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev libeigen3-dev zlib1g-dev nlohmann-json3-dev
  libsquish-dev libstb-dev libjpeg-dev clang-format libcli11-dev doxygen dpkg-dev file
  libassimp-dev libpng-dev libgif-dev)

# The WebAssembly build (web/CMakeLists.txt): the run-time library and the viewer. Emscripten's
# tools run under node, which must find Debian's acorn when node is not Debian's own.
web_build() {
  local build=${1:-build-web}
  shift || true
  install_missing emscripten node-acorn cmake make
  local tool
  for tool in emcmake emcc node; do
    if ! command -v "$tool" >/dev/null; then
      echo "build.sh web: $tool is missing (Debian's emscripten and nodejs packages)" >&2
      exit 1
    fi
  done
  export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
  emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$build" -j "$jobs" --target "${WEB_TARGET:-all}"
}

case "${1:-}" in
  web | web-build) # web-build: the same, for the browser test
    web_build
    [ "$1" = web ] && echo "build-web/web/ holds the viewer; build/tools/orvane view FILE serves it"
    exit 0
    ;;
  web-units)
    install_missing libgtest-dev libeigen3-dev nlohmann-json3-dev
    WEB_TARGET=orvane_web_tests web_build build-web-tests -DORVANE_WEB_TESTS=ON
    ctest --test-dir build-web-tests --output-on-failure -j "$jobs"
    exit 0
    ;;
  web-test)
    web_build
    install_missing chromium "${packages[@]}"
    command -v npm >/dev/null || install_missing npm
    # Configured after chromium is there, so that CTest has the browser test; only the tool
    # and the viewer's native calls are built.
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$jobs" --target orvane_tool orvane_viewer_native
    ctest --test-dir build --output-on-failure -R '^web\.'
    exit 0
    ;;
esac

install_missing "${packages[@]}"
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
  *) echo "usage: $0 main|test|web|web-test|web-units" >&2; exit 2 ;;
esac
