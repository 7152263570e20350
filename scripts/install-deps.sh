#!/usr/bin/env bash
# Installs what Tarvik Update needs on Debian 12: the one list of its
# dependencies, by the job they serve. The README's commands and CI use it.
#   scripts/install-deps.sh [build] [test] [windows] [web]
#     build    building and running the Linux programs (the demo needs only this)
#     test     the Linux tests (with build)
#     windows  the Windows build and its tests under Wine (with build)
#     web      the web page (scripts/web.sh) and its tests in headless Chromium
#              (with build; Node.js and npm as the machine has them)
# Without a group: all of them.
set -euo pipefail

build=(
  g++ cmake ninja-build pkg-config       # toolchain
  libcli11-dev                           # command-line parsing of the programs
  nlohmann-json3-dev                     # JSON transcripts and --json output
  libudev-dev                            # HID enumeration and hotplug on Linux
  libssl-dev                             # SHA-256 of images (OpenSSL's libcrypto)
  qt6-base-dev                           # the Linux desktop window
  libxcb1-dev                            # opening the X display before Qt does
  imagemagick                            # drawing the icon's PNGs
  fonts-noto-cjk                         # Chinese texts in the window
  qt6-translations-l10n                  # Qt's own texts (buttons, file dialog) in Chinese
  gettext                                # the CLI's catalogues: msgfmt builds them, xgettext and msgcmp check them
  minisign                               # the demo key that signs the sample images, and the tests' keys
)
test=(
  libgtest-dev libgmock-dev              # test framework (GoogleTest through CTest)
  umockdev libumockdev-dev               # hidraw bus tests against mocked devices
  xvfb x11-apps x11-utils xauth          # window tests and screenshots under a virtual X server
  at-spi2-core python3-pyatspi dbus xdotool  # the window read through AT-SPI and driven by keys
  desktop-file-utils appstream           # validating the desktop entry and the metainfo
  lintian                                # checking the .deb
  qemu-system-x86 busybox-static cpio    # hidraw tests on a real kernel in a guest
  python3 xz-utils                       # taking the guest's kernel out of Debian's image
  libkmod2 libacl1 libblkid1 libcap2 libselinux1  # what Debian's udevd links, run in the guest
  python3-jsonschema                     # checking the CLI's --json documents against their schema
)
windows=(
  googletest                             # GoogleTest's sources, built for Windows
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64  # Windows build
  libgcrypt-mingw-w64-dev                # Ed25519 and BLAKE2b-512 for image signatures, linked statically
  wine wine64                            # running the Windows build and its tests
  clang                                  # the fuzz targets (clang 14 with libFuzzer, scripts/fuzz.sh)
  mmdebstrap                             # the kernel test guest's userland with Wine (tests/kernel/wine_in_guest.sh)
)
web=(
  emscripten                             # the engine in WebAssembly (emcc 3.1.6, its libraries prebuilt)
  chromium                               # the page's tests, headless (driven by playwright-core from web/tests)
)

groups=("$@")
if ((${#groups[@]} == 0)); then groups=(build test windows web); fi
packages=("${build[@]}")
for group in "${groups[@]}"; do
  case "$group" in
    build) ;;
    test) packages+=("${test[@]}") ;;
    windows) packages+=("${windows[@]}") ;;
    web) packages+=("${web[@]}") ;;
    *) echo "install-deps.sh: no group \"$group\" (build, test, windows, web)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
