#!/usr/bin/env bash
# Builds the updater's web page with Debian's emscripten into build/web/ and
# serves it on localhost with the two headers that make it cross-origin
# isolated (without them the browser gives it no shared memory, and the
# engine's threads cannot run).
#   scripts/web.sh [--build-only] [--port N]     (default port 8080)
#   scripts/web.sh --test    builds, then runs the page's tests in headless
#                            Chromium (web/tests; screenshots in build/web-test/)
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
run_tests=0
port=8080
while (($#)); do
  case "$1" in
    --build-only) build_only=1 ;;
    --test) run_tests=1 ;;
    --port) port=$2; shift ;;
    *) echo "web.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

# emcc's optimising link runs JavaScript tools that need acorn, which is in
# Debian's Node.js folder, not beside the machine's own Node.js.
export NODE_PATH=/usr/share/nodejs

# libsodium checks the signatures of images in the page. npm installs it into
# the build tree as web/package-lock.json pins it, and web/CMakeLists.txt
# copies it into the page.
mkdir -p build/web-build/npm
cp web/package.json web/package-lock.json build/web-build/npm/
(cd build/web-build/npm && npm ci --no-audit --no-fund --loglevel=error)

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
emcmake cmake -S . -B build/web-build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_WERROR=ON \
  -DTARVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/web-build -j "$jobs"

# The page, and the sample images of the demo beside it (written by the
# native sample writer: the images are the same bytes on any machine).
rm -rf build/web
cp -r build/web-build/page build/web
mkdir -p build/web/samples
if [[ samples/make_samples.cpp -nt build/web-build/make_samples ]]; then
  c++ -std=c++20 -O1 -o build/web-build/make_samples samples/make_samples.cpp
fi
build/web-build/make_samples build/web/samples
# Signed by this build's demo key, which the page trusts with simulated controllers.
cmake -DMINISIGN=minisign -DKEY=build/web-build/demo-key/demo.key -DDIR=build/web/samples -P cmake/SignSamples.cmake
# The demo lists them for download, each image's signature after it.
(cd build/web/samples && printf '%s\n' *.dat *.minisig | LC_ALL=C sort | sed 's/.*/"&"/' | paste -sd, | sed 's/.*/[&]/') \
  > build/web/samples/list.json
echo "web.sh: the page is in build/web/ ($(du -sh build/web | cut -f1))"

if ((run_tests)); then
  # playwright-core as web/tests/package-lock.json pins it; it drives Debian's chromium.
  (cd web/tests && npm ci --no-audit --no-fund --loglevel=error && node --test)
  exit
fi
if ((build_only)); then exit 0; fi
echo "web.sh: serving on http://localhost:${port}/ (the demo: http://localhost:${port}/?simulate=boot)"
exec node web/serve.mjs build/web "$port"
