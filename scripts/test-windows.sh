#!/usr/bin/env bash
# Builds TarvikUpdate.exe, tarvik-update-cli.exe and the tests for 64-bit
# Windows with MinGW-w64 (warnings as errors) and runs every test under Wine, the window tests on a
# virtual X server. Wine's prefix lives in the build tree and is kept between
# runs. Screenshots of the main window land in build/win/screenshots.
# Needs the Windows packages of scripts/install-deps.sh and ImageMagick.
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "$script")/.."

build=build/win
export WINEPREFIX="$PWD/build/win-wine"
export WINEARCH=win64
export WINEDEBUG=-all
# No offer to install Mono or Gecko when the prefix is made: nothing here uses them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes the interface language and the file-name encoding from the locale.
export LC_ALL=C.UTF-8
export TARVIK_SCREENSHOT_DIR="Z:$PWD/$build/screenshots"

# The part that needs the display; runs under xvfb-run (see the end).
run_tests_on_display() {
  mkdir -p "$WINEPREFIX"  # wineserver starts only in an existing folder
  # A server left over from an interrupted run holds the prefix's old state.
  wineserver -k 2>/dev/null || true
  # One server for the whole run: without it every test program starts its own (~3 s each).
  wineserver -p >/dev/null 2>&1
  trap 'wineserver -k 2>/dev/null || true' EXIT
  echo "== Wine prefix $WINEPREFIX =="
  wine wineboot >/dev/null 2>&1

  # The dialog's font "宋体" (SimSun) is not in Wine: without a substitute its
  # Chinese texts show as boxes. Xvfb has no window manager: unmanaged windows
  # draw their own frames, and closing one does not wait for a manager's answer.
  local settings="$build/wine-settings.reg"
  printf '%s\r\n' \
    'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"宋体"="Noto Sans CJK SC"' \
    '"SimSun"="Noto Sans CJK SC"' '' \
    '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
    '"Managed"="N"' \
    | iconv -f UTF-8 -t UTF-16 >"$settings"
  wine regedit /S "$settings"

  echo "== Tests under Wine =="
  rm -rf "$build/screenshots"
  # Now and then Wine fails to start a test program at all (it ends at once,
  # with nothing written): such a test is run once more. A test that fails
  # when it runs fails twice.
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 120 --repeat until-pass:2
  # The window tests write BMPs: no image library inside the test programs.
  for shot in dialog-en dialog-zh; do
    if [[ ! -s "$build/screenshots/$shot.bmp" ]]; then
      echo "missing screenshot $build/screenshots/$shot.bmp" >&2
      return 1
    fi
    convert "$build/screenshots/$shot.bmp" "$build/screenshots/$shot.png"
    rm "$build/screenshots/$shot.bmp"
  done
}

if [[ ${1:-} == --on-display ]]; then
  run_tests_on_display
  exit
fi

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres wine wineserver xvfb-run iconv convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/install-deps.sh" >&2
    exit 1
  fi
done

echo "== Windows build ($build) =="
# Unoptimised: the quickest build to test, and GCC 12's optimiser (-O3) reports
# false out-of-bounds warnings in the tests' vector code.
cmake -S . -B "$build" -G Ninja --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE= -DTARVIK_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

for program in TarvikUpdate tarvik-update-cli; do
  echo "== DLLs $program.exe imports =="
  x86_64-w64-mingw32-objdump -p "$build/desktop/win32/$program.exe" | grep 'DLL Name'
done

xvfb-run -a -s '-screen 0 1024x768x24' bash "$script" --on-display
echo "== Windows build and tests passed; screenshots in $build/screenshots =="
