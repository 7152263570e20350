#!/usr/bin/env bash
# One table of signature cases, made by the minisign tool with keys made
# here. The tests of every platform read it: on Linux, under Wine and in the
# page. Each case is an image, with or without a signature file beside it.
#   make_signature_vectors.sh IMAGE OTHER_IMAGE DIR [MAKER_KEY MAKER_PUB]
# DIR gets maker.pub (the trusted key, named "Tarvik maker key"),
# stranger.pub, the cases' files and vectors.tsv: a line per case with its
# name, its image's file name and the status the check must give. With
# MAKER_KEY and MAKER_PUB, a key pair made before (without a password)
# stands for the maker's, and maker.pub is a copy of MAKER_PUB.
set -euo pipefail
image=$1 other=$2 dir=$3
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
if (($# >= 5)); then
  cp "$4" maker.key && cp "$5" maker.pub
else
  minisign -G -W -p maker.pub -s maker.key >/dev/null
  # A maker names its key in the key file's first line, which nothing signs.
  sed -i '1s/.*/untrusted comment: Tarvik maker key/' maker.pub
fi
minisign -G -W -p stranger.pub -s stranger.key >/dev/null

sign() {  # KEY FILE COMMENT [minisign options]
  minisign -S -s "$1" -m "$2" -t "$3" "${@:4}" >/dev/null
}
flip_byte() {  # FILE OFFSET: the byte at OFFSET with its lowest bit changed
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "\\$(printf %03o $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

cases=()
add() { cases+=("$1"$'\t'"$1.dat"$'\t'"$2"); }

cp "$image" default.dat && sign maker.key default.dat 'Tarvik image for the main mcu'
add default verified
cp "$image" legacy.dat && sign maker.key legacy.dat 'legacy form' -l
add legacy verified
cp "$image" unsigned.dat
add unsigned unsigned
cp "$image" changed.dat && cp default.dat.minisig changed.dat.minisig && flip_byte changed.dat 40
add changed mismatch
cp "$image" legacy-changed.dat && cp legacy.dat.minisig legacy-changed.dat.minisig && flip_byte legacy-changed.dat 40
add legacy-changed mismatch
cp "$other" other.dat && sign maker.key other.dat 'another image'
cp "$image" other-image.dat && mv other.dat.minisig other-image.dat.minisig && rm other.dat
add other-image mismatch
cp "$image" comment-changed.dat && sed '3s/main mcu/boot mcu/' default.dat.minisig > comment-changed.dat.minisig
add comment-changed mismatch
cp "$image" untrusted.dat && sign stranger.key untrusted.dat 'not the maker'
add untrusted untrusted
cp "$image" damaged.dat && head -c 100 default.dat.minisig > damaged.dat.minisig
add damaged damaged
cp "$image" empty.dat && : > empty.dat.minisig
add empty damaged
rm maker.key stranger.key
printf '%s\n' "${cases[@]}" > vectors.tsv
