#!/usr/bin/env bash
# Installs what building and testing Tarvik Update needs on Debian 12.
# The one list of build dependencies: the README's commands and CI use it.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config  # toolchain
  libgtest-dev libgmock-dev         # test framework (GoogleTest through CTest)
  libcli11-dev                      # command-line parsing of tarvik-update-cli
  nlohmann-json3-dev                # JSON transcripts and --json output
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
