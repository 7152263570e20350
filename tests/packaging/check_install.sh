#!/usr/bin/env bash
# Installs the build into a scratch root and builds the .deb, then checks that
# everything a desktop needs is in its place and valid, that lintian finds no
# error in the package, and that dpkg installs and removes it in a scratch root
# with its maintainer scripts (udevadm stubbed).
#   check_install.sh BUILD_DIR WORK_DIR SOURCE_DIR APP_ID VERSION RELEASE_DATE
set -euo pipefail
build=$1 work=$2 source=$3 app_id=$4 version=$5 release_date=$6
rm -rf "$work" && mkdir -p "$work"
fail() { echo "packaging: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
root="$work/root/usr"
desktop="$root/share/applications/$app_id.desktop"
metainfo="$root/share/metainfo/$app_id.metainfo.xml"
rules="$root/lib/udev/rules.d/70-tarvik-update.rules"
for file in bin/tarvik-update bin/tarvik-update-cli lib/udev/rules.d/70-tarvik-update.rules \
            share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
            share/icons/hicolor/256x256/apps/$app_id.png share/icons/hicolor/32x32/apps/$app_id.png \
            share/man/man1/tarvik-update.1.gz share/man/man1/tarvik-update-cli.1.gz \
            share/doc/tarvik-update/copyright share/doc/tarvik-update/changelog.gz \
            share/doc/tarvik-update/examples/boot-two-mcus-v1.31.dat; do
  [[ -e "$root/$file" ]] || fail "$file is not installed"
done

# One application id: the entry's name, its icon and window class, the metainfo.
desktop-file-validate "$desktop" || fail "desktop entry invalid"
for key in "Icon=$app_id" "StartupWMClass=$app_id" "Exec=tarvik-update"; do
  grep -qx "$key" "$desktop" || fail "the desktop entry lacks $key"
done
for key in 'Name\[zh_CN\]' 'Comment\[zh_CN\]'; do
  grep -qE "^$key=.*[^ -~]" "$desktop" || fail "the desktop entry has no Chinese $key"
done
appstreamcli validate --no-net "$metainfo" >/dev/null || fail "metainfo invalid"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch $app_id.desktop"
grep -q '<url type="homepage">https://' "$metainfo" || fail "the metainfo has no homepage"
grep -q '<name xml:lang="zh_CN">' "$metainfo" || fail "the metainfo has no Chinese name"
grep -q "<release version=\"$version\" date=\"$release_date\"/>" "$metainfo" ||
  fail "the metainfo's release is not $version of $release_date"
# Its screenshots are the picture tests' images kept in docs/screenshots.
shots=$(grep -oE '<image [^>]*>[^<]+</image>' "$metainfo") || fail "the metainfo has no screenshots"
while read -r shot; do
  name=$(sed -E 's|.*/([^/<]+)</image>|\1|' <<<"$shot")
  size=$(sed -E 's|.*width="([0-9]+)" height="([0-9]+)".*|\1x\2|' <<<"$shot")
  [[ -f "$source/docs/screenshots/$name" ]] || fail "screenshot $name is not in docs/screenshots"
  [[ "$(identify -format '%wx%h' "$source/docs/screenshots/$name")" == "$size" ]] ||
    fail "screenshot $name is not $size"
done <<<"$shots"

# The rules: the hidraw subsystem, the IDs on the USB parent, the session's
# user through uaccess and the group plugdev where there is no session.
for product in 7e21 7e22 7e23; do
  grep -q "usb:v5A3Cp${product^^}d\*" "$metainfo" || fail "metainfo does not provide product $product"
  grep -qx "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"5a3c\", ATTRS{idProduct}==\"$product\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"" \
    "$rules" || fail "udev rules miss product $product"
done
if grep -q 'KERNEL==' "$rules"; then fail "the udev rules match on KERNEL"; fi

# The changelog's latest entry is this version.
zcat "$root/share/doc/tarvik-update/changelog.gz" | head -1 | grep -q "^tarvik-update ($version) " ||
  fail "the changelog does not begin with $version"
zcat "$root/share/man/man1/tarvik-update.1.gz" | grep -q "^\.TH TARVIK-UPDATE 1 \"$release_date\"" ||
  fail "the manual page is not of $release_date"

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null) || fail "cpack failed"
deb=$(ls "$work"/deb/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libudev1 libssl3 libxcb1; do
  [[ "$depends" == *"$package"* ]] || fail "the .deb does not depend on $package"
done
[[ "$(dpkg-deb -f "$deb" Homepage)" == https://* ]] || fail "the .deb has no homepage"
dpkg-deb -c "$deb" > "$work/contents.txt"
grep -q './usr/bin/tarvik-update$' "$work/contents.txt" || fail "the .deb lacks tarvik-update"
dpkg-deb -x "$deb" "$work/unpacked"
for program in tarvik-update tarvik-update-cli; do
  if readelf -S "$work/unpacked/usr/bin/$program" | grep -qE '\.(symtab|debug_info)'; then
    fail "$program in the .deb is not stripped"
  fi
done

# lintian: no errors; what else it says is shown.
lintian --fail-on error --display-info "$deb" | tee "$work/lintian.txt" ||
  fail "lintian found errors in $(basename "$deb")"

# The maintainer scripts as dpkg runs them, in a scratch root whose udevadm
# is a stub that logs its calls.
target="$work/dpkg-root"
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates" "$work/stub"
touch "$target/var/lib/dpkg/status" "$target/var/lib/dpkg/available"
printf '#!/bin/sh\necho "udevadm $*" >> "%s"\nexit "${UDEVADM_STATUS:-0}"\n' "$work/udevadm.log" >"$work/stub/udevadm"
chmod +x "$work/stub/udevadm"
run_dpkg() {
  PATH="$work/stub:$PATH" dpkg --root="$target" --force-script-chrootless --force-depends \
    --force-not-root --log=/dev/null "$@" >"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out" >&2; return 1; }
}
expected=$'udevadm control --reload-rules\nudevadm trigger --subsystem-match=hidraw --action=change'
run_dpkg -i "$deb" || fail "dpkg could not install the package"
[[ -f "$target/usr/lib/udev/rules.d/70-tarvik-update.rules" ]] || fail "dpkg did not install the rules"
[[ "$(cat "$work/udevadm.log")" == "$expected" ]] || fail "postinst did not reload and trigger udev: $(cat "$work/udevadm.log")"
rm "$work/udevadm.log"
run_dpkg --purge tarvik-update || fail "dpkg could not remove the package"
[[ ! -e "$target/usr/lib/udev/rules.d/70-tarvik-update.rules" ]] || fail "the rules stayed after purge"
# postrm runs for remove and for purge: each reloads.
[[ "$(cat "$work/udevadm.log")" == "$expected"$'\n'"$expected" ]] ||
  fail "postrm did not reload and trigger udev: $(cat "$work/udevadm.log")"
# Where udev does not run, or there is no udevadm, installing still succeeds.
UDEVADM_STATUS=1 run_dpkg -i "$deb" || fail "a failing udevadm failed the installation"
dpkg-deb -e "$deb" "$work/control"
env -i PATH=/nonexistent /bin/sh "$work/control/postinst" configure || fail "postinst fails without udevadm"
env -i PATH=/nonexistent /bin/sh "$work/control/postrm" remove || fail "postrm fails without udevadm"

echo "packaging: installed tree and $(basename "$deb") are complete"
