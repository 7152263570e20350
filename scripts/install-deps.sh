#!/usr/bin/env bash
# Installs what building and testing Tarvik Update needs on Debian 12.
# The one list of build dependencies: the README's commands and CI use it.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config       # toolchain
  libgtest-dev libgmock-dev googletest   # test framework (GoogleTest through CTest; sources for Windows)
  libcli11-dev                           # command-line parsing of tarvik-update-cli
  nlohmann-json3-dev                     # JSON transcripts and --json output
  libudev-dev                            # HID enumeration and hotplug on Linux
  umockdev libumockdev-dev               # hidraw bus tests against mocked devices
  qt6-base-dev                           # the Linux desktop window
  xvfb x11-apps imagemagick xauth        # window tests and screenshots under a virtual X server
  fonts-noto-cjk                         # Chinese texts in the window and its screenshots
  desktop-file-utils appstream           # validating the desktop entry and the metainfo
  qemu-system-x86 busybox-static cpio    # hidraw tests on a real kernel in a guest
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64  # Windows build
  wine wine64                            # running the Windows build and its tests
  clang                                  # the fuzz targets (clang 14 with libFuzzer, scripts/fuzz.sh)
)

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
