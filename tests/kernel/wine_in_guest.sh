#!/usr/bin/env bash
# The Windows programs under Wine in the kernel test's guest, each updating a
# controller played on a USB HID gadget: Wine's HID stack reaches the
# controller through the guest's hidraw, and the controller checks what it
# holds. tarvik-update-cli.exe lists and updates a report-mode-1 controller,
# and updates a report-mode-2 one, which comes back as report mode 1;
# TarvikUpdate.exe, on a virtual X server in the guest, updates a boot-mode
# one, whose reset takes it off the USB bus and back, with win32_dialog_person.exe
# clicking through the window from a process of its own.
#
# The guest's userland is Debian's own packages (Wine, Xvfb) laid out by
# mmdebstrap with a Wine prefix made in it, cached in WORK_DIR/userland and
# shared read-only over 9p; the guest chroots into it. Each run starts from a
# copy of the cached prefix.
#
#   wine_in_guest.sh KERNEL_DIR WIN_BUILD_DIR WORK_DIR
#
# KERNEL_DIR: the kernel test's folder after a run (build/test/tests/kernel),
# for its kernel and its initrd with the gadget controller; WIN_BUILD_DIR: the
# Windows build (build/win). Fails, and says why, when a step does.
set -euo pipefail
scripts=$(dirname "$(realpath "$0")")

kernel_dir=$(realpath "$1")
win=$(realpath "$2")
mkdir -p "$3"
work=$(realpath "$3")
cd "$work"

guest_name="wine in guest"
source "$scripts/guest_common.sh"

for tool in qemu-system-x86_64 mmdebstrap cpio gzip; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
[[ -s $kernel_dir/kernel/vmlinux && -x $kernel_dir/initrd/bin/gadget_controller ]] ||
  fail "no kernel test in $kernel_dir: run the Linux tests first"
cli=$win/desktop/win32/tarvik-update-cli.exe
dialog=$win/desktop/win32/TarvikUpdate.exe
person=$win/win32_dialog_person.exe
for exe in "$cli" "$dialog" "$person"; do
  [[ -f $exe ]] || fail "$exe is missing: build the Windows programs first (scripts/test-windows.sh)"
done

# The userland, made again only when what goes into it changes. The prefix is
# made by the userland's own Wine, so that Wine in the guest finds it up to
# date and does not set it up again (minutes under software emulation).
# Wine's HID bus reads hidraw only with its SDL backend off. Wine's service
# manager ends a service that has not started within 10 s; under emulation the
# Plug and Play service, which tells programs of devices coming and going,
# takes longer. Services get 10 minutes.
suite=bookworm
mirror="deb http://deb.debian.org/debian $suite main"
packages=wine,wine64,xvfb
prefix_hook='chroot "$1" env HOME=/root WINEPREFIX=/opt/wine-prefix WINEARCH=win64 WINEDEBUG=-all'
prefix_hook+=' WINEDLLOVERRIDES="mscoree,mshtml=" sh -c "wine reg add'
prefix_hook+=' \"HKLM\\System\\CurrentControlSet\\Services\\winebus\" /v \"Enable SDL\" /t REG_DWORD /d 0 /f'
prefix_hook+=' && wine reg add \"HKLM\\System\\CurrentControlSet\\Control\" /v ServicesPipeTimeout /t REG_SZ /d 600000 /f'
prefix_hook+=' && wineserver -w"'
key="$suite $packages $prefix_hook"
if [[ ! -f userland.key || $(cat userland.key) != "$key" || ! -d userland/opt/wine-prefix ]]; then
  echo "wine in guest: laying out the guest's userland (Debian $suite: $packages)"
  rm -rf userland userland.key
  mmdebstrap --quiet --variant=essential --include="$packages" --customize-hook="$prefix_hook" \
    "$suite" userland "$mirror" > userland.log 2>&1 || fail "mmdebstrap failed; see $work/userland.log"
  echo "$key" > userland.key
fi
echo "wine in guest: $(chroot userland dpkg-query -W -f '${Package} ${Version}' wine64)"

# What the guest reads and writes: the programs, the images, a fresh prefix.
rm -rf share && mkdir -p share
cp "$cli" "$dialog" "$person" share/
cp "$kernel_dir"/initrd/images/{packet-v1.40.dat,boot-main-v1.31.dat} share/
cp -a userland/opt/wine-prefix share/prefix

# What the guest's boot up to its init and its shell loops take on a quiet
# machine, in seconds: the guest weighs its own against them.
quiet_boot=3.0 quiet_loops=1.1

# The kernel test's initrd, with 9p added and its own init replaced.
modules=$(ls -d "$kernel_dir"/kernel/root/lib/modules/*/kernel)
rm -rf initrd && cp -a "$kernel_dir/initrd" initrd && rm -f initrd/init initrd/bench
virtio_modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p"
for module in $virtio_modules; do
  file=$(find "$modules" -name "$module.ko" | head -1)
  [[ -n "$file" ]] || fail "the kernel has no module $module"
  cp "$file" initrd/lib/modules/
done
mkdir -p initrd/userland
echo '#!/bin/busybox sh' > initrd/init
echo "virtio_modules='$virtio_modules'" >> initrd/init
echo "quiet_boot=$quiet_boot quiet_loops=$quiet_loops" >> initrd/init
cat >> initrd/init <<'INIT'
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
# How slow this guest runs: its boot up to here, and a shell loop on each of
# its CPUs at once, each against what it takes on a quiet machine. The limits
# of the steps grow with it; they are never below their quiet values.
read boot _ < /proc/uptime
spin() { i=0; while [ $i -lt 60000 ]; do i=$((i + 1)); done; }
read t0 _ < /proc/uptime; spin | spin; read t1 _ < /proc/uptime
loops=$(awk "BEGIN { print $t1 - $t0 }")
slowness=$(awk "BEGIN { f = $boot / $quiet_boot; g = $loops / $quiet_loops; if (g > f) f = g
  if (f < 1) f = 1; printf \"%.1f\", int(f * 10 + 0.999) / 10 }")
echo "GUEST-SLOWNESS $slowness (boot $boot s, loops $loops s)"
scale() { awk -v s=$1 -v f=$slowness 'BEGIN { printf "%d", s * f + 0.999 }'; }
mount -t tmpfs tmp /tmp; mount -t tmpfs run /run
for m in hid hid-generic configfs usb-common usbcore udc-core libcomposite usb_f_hid usbhid; do
  insmod /lib/modules/$m.ko || echo "GUEST-ERROR insmod $m"
  [ $m = configfs ] && mount -t configfs none /sys/kernel/config
done
insmod /lib/modules/dummy_hcd.ko num=1
for m in $virtio_modules; do insmod /lib/modules/$m.ko || echo "GUEST-ERROR insmod $m"; done
U=/userland
mount -t 9p -o trans=virtio,version=9p2000.L,ro userland $U || echo "GUEST-ERROR mount userland"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share $U/mnt || echo "GUEST-ERROR mount share"
mount -t proc proc $U/proc; mount -t sysfs sys $U/sys; mount -t devtmpfs dev $U/dev
mount -t tmpfs tmp $U/tmp
# Wine's HID bus follows devices through udev.
mkdir -p /run/udev /etc/udev/rules.d /lib/udev/rules.d
/lib/systemd/systemd-udevd --daemon || echo "GUEST-ERROR udevd"
mount -o bind /run $U/run || echo "GUEST-ERROR bind /run"
# Wine crashes starting a program from a 9p share: the programs run from tmpfs.
cp /userland/mnt/*.exe $U/tmp/
W="chroot $U /usr/bin/env HOME=/tmp WINEPREFIX=/mnt/prefix WINEDEBUG=-all DISPLAY=:1 LC_ALL=C.UTF-8"

wait_hidraw() {
  i=0 n=$(scale 100)
  while ! ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt $n ]; do sleep 0.2; i=$((i + 1)); done
  udevadm settle -t $(scale 20)
}
peer_off() {
  kill -TERM $peer
  wait $peer
  sed -e "s/^PEER-CHECK \([A-Z]*\)/CASE-CHECK $1 \1/" /tmp/peer.log
  i=0 n=$(scale 200)
  while ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt $n ]; do sleep 0.1; i=$((i + 1)); done
  ls /dev/hidraw* >/dev/null 2>&1 && echo "GUEST-ERROR the controller's hidraw node stayed"
}
elapsed() { echo $(( $(date +%s) - $1 )); }

t0=$(date +%s)
$W /usr/bin/wineserver -p
timeout $(scale 600) $W /usr/bin/wine wineboot > /tmp/boot.log 2>&1
echo "WINEBOOT $? $(elapsed $t0) s"

# The command-line program: list, then flash.
gadget_controller 0 packet1 /images/packet-v1.40.dat > /tmp/peer.log 2>&1 &
peer=$!
wait_hidraw
t0=$(date +%s)
timeout $(scale 600) $W /usr/bin/wine /tmp/tarvik-update-cli.exe --json list > /tmp/list.json 2> /tmp/list.err
echo "WINE-LIST-EXIT $? $(elapsed $t0) s"
cat /tmp/list.json /tmp/list.err
echo "WINE-LIST-PRODUCTS $(grep -o '"product": *"[0-9a-f:]*"' /tmp/list.json | grep -o '[0-9a-f]\{4\}:[0-9a-f]\{4\}' | tr '\n' ' ')"
t0=$(date +%s)
timeout $(scale 600) $W /usr/bin/wine /tmp/tarvik-update-cli.exe --json flash --yes 'Z:\mnt\packet-v1.40.dat' \
  > /tmp/flash.json 2> /tmp/flash.err
echo "WINE-FLASH-EXIT $? $(elapsed $t0) s"
grep -v '^    ' /tmp/flash.json | head -40; cat /tmp/flash.err
peer_off wine-cli
# The report-mode-2 controller: Wine's HID bus must see it leave on the mode-2
# signal and come back as the report-mode-1 product.
gadget_controller 0 packet2 /images/packet-v1.40.dat > /tmp/peer.log 2>&1 &
peer=$!
wait_hidraw
t0=$(date +%s)
timeout $(scale 600) $W /usr/bin/wine /tmp/tarvik-update-cli.exe --json flash --yes 'Z:\mnt\packet-v1.40.dat' \
  > /tmp/flash.json 2> /tmp/flash.err
echo "WINE-FLASH2-EXIT $? $(elapsed $t0) s"
grep -v '^    ' /tmp/flash.json | head -40; cat /tmp/flash.err
echo "WINE-FLASH2-PRODUCT $(grep -o '"product": *"[0-9a-f:]*"' /tmp/flash.json | grep -o '[0-9a-f]\{4\}:[0-9a-f]\{4\}' | head -1)"
peer_off wine-cli-packet2

# The window, on a virtual X server, and the person at it.
chroot $U /usr/bin/Xvfb :1 -screen 0 1024x768x24 -nolisten tcp > /tmp/xvfb.log 2>&1 &
i=0 n=$(scale 300)
while [ ! -e $U/tmp/.X11-unix/X1 ] && [ $i -lt $n ]; do sleep 0.2; i=$((i + 1)); done
# Wine's desktop process first. A program that finds no desktop starts one
# and waits 10 s for it, then goes on with a desktop no process serves: its
# windows cannot be made. Under emulation the desktop takes longer than that.
# It is up once it has connected to the X server.
t0=$(date +%s)
$W /usr/bin/wine explorer.exe /desktop > /tmp/desktop.log 2>&1 &
i=0 n=$(scale 600)
while ! grep -q ' 03 [0-9]* @*/tmp/.X11-unix/X1$' /proc/net/unix && [ $i -lt $n ]; do
  sleep 0.2; i=$((i + 1))
done
grep -q ' 03 [0-9]* @*/tmp/.X11-unix/X1$' /proc/net/unix && echo "WINE-DESKTOP $(elapsed $t0) s" ||
  { echo "GUEST-ERROR Wine's desktop did not come up"; cat /tmp/desktop.log; }
# The window hears of the controller's return after its reset from the Plug
# and Play service, which Wine's service manager started at wineboot.
i=0 n=$(scale 600)
while ! pidof plugplay.exe >/dev/null && [ $i -lt $n ]; do sleep 0.2; i=$((i + 1)); done
pidof plugplay.exe >/dev/null || echo "GUEST-ERROR Wine's Plug and Play service is not running"
gadget_controller 0 boot /images/boot-main-v1.31.dat > /tmp/peer.log 2>&1 &
peer=$!
wait_hidraw
t0=$(date +%s)
# Wine's own errors (err: lines) go to the logs, shown when the step fails.
($W WINEDEBUG=fixme-all /usr/bin/wine /tmp/TarvikUpdate.exe > /tmp/window.log 2>&1
 echo "WINE-WINDOW-EXIT $? $(elapsed $t0) s" >> /tmp/window.log) &
window=$!
timeout $(scale 900) $W WINEDEBUG=fixme-all /usr/bin/wine /tmp/win32_dialog_person.exe \
  'Z:\mnt\boot-main-v1.31.dat' $(scale 300) > /tmp/person.log 2> /tmp/person.err
person=$?
echo "WINE-DIALOG-EXIT $person $(elapsed $t0) s"
cat /tmp/person.log
i=0 n=$(scale 300)
while kill -0 $window 2>/dev/null && [ $i -lt $n ]; do sleep 0.2; i=$((i + 1)); done
if kill -0 $window 2>/dev/null; then
  echo "GUEST-ERROR the window's program is still running"; cat /tmp/window.log
elif [ $person -ne 0 ]; then
  echo "GUEST-ERROR the window's program ended; it wrote:"; cat /tmp/window.log
fi
[ $person -ne 0 ] && echo "GUEST-ERROR the person wrote:" && cat /tmp/person.err
peer_off wine-dialog

$W /usr/bin/wineserver -k
echo GUEST-DONE
poweroff -f
INIT
chmod +x initrd/init
(cd initrd && find . | cpio -o -H newc 2>/dev/null | gzip -1 > ../initrd.gz)

echo "wine in guest: booting the guest"
qemu-system-x86_64 -M q35 -accel tcg -smp 2 -m 2048 -nographic -no-reboot -nodefaults \
  -serial stdio -kernel "$kernel_dir/kernel/vmlinux" -initrd initrd.gz \
  -virtfs local,path="$work/userland",mount_tag=userland,security_model=none,readonly=on \
  -virtfs local,path="$work/share",mount_tag=share,security_model=none \
  -append "console=ttyS0 quiet panic=-1" > console.log 2>&1 &
qemu=$!
# The guest has 1800 s, times how slow it says it runs once it knows.
limit=1800 slowness= started=$SECONDS
while kill -0 $qemu 2>/dev/null; do
  if [[ -z $slowness ]] && slowness=$(grep -a -o -m 1 'GUEST-SLOWNESS [0-9.]*' console.log); then
    slowness=${slowness#GUEST-SLOWNESS }
    limit=$(awk "BEGIN { printf \"%d\", 1800 * $slowness }")
    echo "wine in guest: the guest runs $slowness times as slow as on a quiet machine; it has $limit s"
  fi
  if (( SECONDS - started > limit )); then
    echo "wine in guest: the guest ran out of its $limit s" >&2
    kill $qemu
  fi
  sleep 1
done
set +e
wait $qemu
qemu_status=$?
set -e
guest_ran $qemu_status

expect "tarvik-update-cli.exe lists the USB controller through Wine's HID stack" \
  "WINE-LIST-EXIT 0 " "WINE-LIST-PRODUCTS 5a3c:7e21 *$"
expect "tarvik-update-cli.exe updates a report-mode-1 controller over USB" \
  "WINE-FLASH-EXIT 0 " "CASE-CHECK wine-cli OK"
expect "tarvik-update-cli.exe updates a report-mode-2 controller after it comes back in report mode 1" \
  "WINE-FLASH2-EXIT 0 " "WINE-FLASH2-PRODUCT 5a3c:7e21" "CASE-CHECK wine-cli-packet2 OK"
expect "TarvikUpdate.exe updates a boot-mode controller over USB, through its window" \
  "WINE-DIALOG-EXIT 0 " "DIALOG-NOTICE shown" "CASE-CHECK wine-dialog OK"
exit $status
