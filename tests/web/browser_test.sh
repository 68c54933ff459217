#!/usr/bin/env bash
# The browser test as CTest runs it: brings the WebAssembly build (build-web/) up to date, finds
# puppeteer-core (installed into build-web/node/ by npm when missing) and runs browser_test.js
# on the demo character with the native tool and viewer_native of the calling build.
#   tests/web/browser_test.sh ORVANE_TOOL VIEWER_NATIVE [CHROMIUM]
# Exit status 77 (skipped) when puppeteer-core cannot be installed.
set -euo pipefail
tool=$1 native=$2 chromium=${3:-/usr/bin/chromium}
cd "$(dirname "$0")/../.."
./build.sh web-build >/dev/null
modules=build-web/node/node_modules
if [ ! -d "$modules/puppeteer-core" ]; then
  mkdir -p build-web/node
  if ! (cd build-web/node && npm install --no-audit --no-fund --silent puppeteer-core@25 >/dev/null 2>&1); then
    echo "browser_test: puppeteer-core cannot be installed with npm; skipped"
    exit 77
  fi
fi
NODE_PATH=$PWD/$modules exec node tests/web/browser_test.js --tool "$tool" --native "$native" \
  --site build-web/web --file data/orvane_demo.ovn --chromium "$chromium"
