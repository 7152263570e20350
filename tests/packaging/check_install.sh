#!/usr/bin/env bash
# Installs the build into a scratch root and builds the .deb, then checks that
# everything a desktop needs is in its place and valid.
#   check_install.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
fail() { echo "packaging: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
root="$work/root/usr"
for file in bin/tarvik-update bin/tarvik-update-cli lib/udev/rules.d/70-tarvik-update.rules \
            share/applications/io.github.tarvik.TarvikUpdate.desktop \
            share/metainfo/io.github.tarvik.TarvikUpdate.metainfo.xml \
            share/icons/hicolor/256x256/apps/io.github.tarvik.TarvikUpdate.png \
            share/icons/hicolor/32x32/apps/io.github.tarvik.TarvikUpdate.png; do
  [[ -e "$root/$file" ]] || fail "$file is not installed"
done
desktop-file-validate "$root/share/applications/io.github.tarvik.TarvikUpdate.desktop" || fail "desktop entry invalid"
appstreamcli validate --no-net "$root/share/metainfo/io.github.tarvik.TarvikUpdate.metainfo.xml" >/dev/null ||
  fail "metainfo invalid"
for product in 7e21 7e22 7e23; do
  grep -q "usb:v5A3Cp${product^^}d\*" "$root/share/metainfo/io.github.tarvik.TarvikUpdate.metainfo.xml" ||
    fail "metainfo does not provide product $product"
  grep -q "ATTRS{idProduct}==\"$product\".*TAG+=\"uaccess\"" "$root/lib/udev/rules.d/70-tarvik-update.rules" ||
    fail "udev rules miss product $product"
done

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) || fail "cpack failed"
deb=$(ls "$work"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libudev1; do
  [[ "$depends" == *"$package"* ]] || fail "the .deb does not depend on $package"
done
dpkg-deb -c "$deb" > "$work/contents.txt"
grep -q './usr/bin/tarvik-update$' "$work/contents.txt" || fail "the .deb lacks tarvik-update"
echo "packaging: installed tree and $(basename "$deb") are complete"
