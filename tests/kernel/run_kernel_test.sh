#!/usr/bin/env bash
# Updates simulated controllers through a real Linux kernel: boots Debian's
# kernel in a QEMU guest (software emulation) and runs tarvik-update-cli on
# the guest's hidraw devices, without --simulate. The controllers are played
# twice over: as uhid devices (uhid_controller), and as USB HID gadgets on
# dummy_hcd (gadget_controller), where the host side is the kernel's USB stack
# and usbhid, and a controller leaves the bus as a real one does (the
# boot-mode reset and the report-mode-2 controller's return in report mode 1
# are USB disconnects and reconnects, and a controller pulled out mid-update
# is an unbind). Each way: one controller at a time (a
# two-record boot-mode update, a report-mode-1 update, and over USB a
# report-mode-2 one), then three at once (two boot-mode controllers with UIDs
# of their own and a report-mode-1 one), listed with `list --json` and all
# updated by one `flash --all`. Each controller checks what it holds on its
# device side. Last, Debian's udevd runs in the guest: without the project's
# udev rules an unprivileged user gets the access hint and exit status 3;
# with them installed, the same user, a member of plugdev, updates the
# controller.
#
#   run_kernel_test.sh CLI UHID_CONTROLLER GADGET_CONTROLLER IMAGES_DIR WORK_DIR [HIDRAW_ROUNDTRIP]
#
# With HIDRAW_ROUNDTRIP the guest runs a benchmark instead and the script
# prints its results: round trips through hidraw (the packet protocol's
# version query, in report modes 1 and 2) and whole updates (three of each
# protocol), through uhid and over USB.
#
# Fails, and says why, when the kernel cannot be fetched or the guest cannot run.
set -euo pipefail
scripts=$(dirname "$(realpath "$0")")

cli=$1 peer=$2 gadget=$3 images=$4 work=$5 roundtrip=${6:-}
mkdir -p "$work"
cd "$work"

guest_name="kernel test"
source "$scripts/guest_common.sh"

for tool in qemu-system-x86_64 busybox cpio xz apt-get dpkg-deb; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done

# Debian's current kernel, fetched once per build tree.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'
}
if [[ ! -f kernel/vmlinux ]]; then
  rm -rf kernel && mkdir -p kernel/deb
  package=$(kernel_package)
  if [[ -z "$package" ]] || ! (cd kernel/deb && apt-get download "$package" >/dev/null 2>&1); then
    # Package lists can be missing or older than the mirror: refresh them once.
    apt-get update -q >/dev/null 2>&1 || true
    package=$(kernel_package)
    [[ -n "$package" ]] || fail "cannot tell which kernel package linux-image-amd64 depends on"
    (cd kernel/deb && apt-get download "$package" >/dev/null 2>&1) || fail "cannot download $package"
  fi
  dpkg-deb -x kernel/deb/*.deb kernel/root
  # The bzImage carries the kernel as an xz stream; the guest boots the ELF inside it directly.
  python3 - kernel/root/boot/vmlinuz-* kernel/vmlinux.xz <<'PY' || fail "no xz stream in the kernel image"
import sys
data = open(sys.argv[1], 'rb').read()
start = data.find(b'\xfd7zXZ\x00')
if start < 0:
    sys.exit(1)
open(sys.argv[2], 'wb').write(data[start:])
PY
  xz -dc kernel/vmlinux.xz > kernel/vmlinux 2>/dev/null || true
  [[ -s kernel/vmlinux ]] || fail "cannot unpack the kernel"
fi
modules=$(ls -d kernel/root/lib/modules/*/kernel)

# Debian's udevd (its udevadm binary), fetched once per build tree.
if [[ ! -x udev/root/bin/udevadm ]]; then
  rm -rf udev && mkdir -p udev/deb
  (cd udev/deb && apt-get download udev >/dev/null 2>&1) || fail "cannot download Debian's udev package"
  dpkg-deb -x udev/deb/*.deb udev/root
fi
rules=$(cd "$(dirname "$0")/../.." && pwd)/packaging/linux/70-tarvik-update.rules
# In load order: HID and uhid, then the USB host and gadget stacks.
hid_modules="hid uhid hid-generic"
usb_modules="configfs usb-common usbcore udc-core libcomposite usb_f_hid usbhid dummy_hcd"

# The guest's root: busybox, the HID modules, the programs and their libraries, the images.
rm -rf initrd && mkdir -p initrd/{bin,proc,sys,dev,tmp,run,images,rules,lib/modules,lib/systemd,etc,home/player}
cp "$(command -v busybox)" initrd/bin/busybox
for module in $hid_modules $usb_modules; do
  file=$(find "$modules" -name "$module.ko" | head -1)
  [[ -n "$file" ]] || fail "the kernel has no module $module"
  cp "$file" initrd/lib/modules/
done
cp "$cli" initrd/bin/tarvik-update-cli
cp "$peer" initrd/bin/uhid_controller
cp "$gadget" initrd/bin/gadget_controller
cp udev/root/bin/udevadm initrd/bin/udevadm
ln -s /bin/udevadm initrd/lib/systemd/systemd-udevd
cp "$rules" initrd/rules/
# root, and an unprivileged user who is a member of plugdev.
printf 'root:x:0:0:root:/root:/bin/sh\nplayer:x:1000:1000:player:/home/player:/bin/sh\n' > initrd/etc/passwd
printf 'root:x:0:\nplugdev:x:46:player\nplayer:x:1000:\n' > initrd/etc/group
cp "$images"/*.dat initrd/images/
binaries=("$cli" "$peer" "$gadget" udev/root/bin/udevadm)
if [[ -n "$roundtrip" ]]; then
  cp "$roundtrip" initrd/bin/hidraw_roundtrip
  binaries+=("$roundtrip")
  touch initrd/bench
fi
for binary in "${binaries[@]}"; do
  if ldd "$binary" | grep -q 'not found'; then
    fail "$binary needs libraries this machine lacks (scripts/install-deps.sh installs them): $(ldd "$binary" | grep 'not found' | tr -d '\t')"
  fi
  ldd "$binary" | grep -o '/[^ ]*' | while read -r library; do
    mkdir -p "initrd$(dirname "$library")"
    cp -L "$library" "initrd$library"
  done
done

{
  echo '#!/bin/busybox sh'
  echo "hid_modules='$hid_modules' usb_modules='$usb_modules'"
} > initrd/init
cat >> initrd/init <<'INIT'
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
chown 1000:1000 /home/player
for module in $hid_modules $usb_modules; do
  case $module in
    dummy_hcd) insmod /lib/modules/$module.ko num=3 ;;  # three USB buses, one controller on each
    *) insmod /lib/modules/$module.ko ;;
  esac || echo "GUEST-ERROR insmod $module"
  [ $module = configfs ] && mount -t configfs none /sys/kernel/config
done

hidraw_count() { ls /dev/hidraw* 2>/dev/null | wc -l; }
# Waits up to 20 s for N hidraw nodes (USB enumeration under emulation takes
# a second or two).
wait_hidraw() {
  i=0
  while [ "$(hidraw_count)" -lt $1 ] && [ $i -lt 100 ]; do sleep 0.2; i=$((i + 1)); done
}

# One update per protocol: the controller appears, the updater finds it through
# hidraw, writes the image, and the controller checks what it received. Its
# lines are renamed after the case. flash gets $pace (parts unless set).
run_case() {
  name=$1 image=$2
  shift 2
  "$@" > /tmp/peer.log 2>&1 &
  peer=$!
  wait_hidraw 1
  timeout 120 tarvik-update-cli --json flash --yes --pace "${pace:-parts}" "$image" > /tmp/cli.json 2> /tmp/cli.err
  echo "CLI-EXIT $name $?"
  cat /tmp/cli.json /tmp/cli.err
  echo "CLI-PRODUCT $name $(sed -n 's/.*"product": *"\([0-9a-f:]*\)".*/\1/p' /tmp/cli.json | head -1)"
  kill -TERM $peer
  wait $peer
  sed -e "s/^PEER-CHECK \([A-Z]*\)/CASE-CHECK $name \1/" /tmp/peer.log
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}

# Three controllers on the bus at once, each its own uhid_controller with a log
# of its own: the list shows them in bus order and one flash --all updates
# them side by side. The peers' lines are renamed so that they cannot pass
# for the single-controller cases'. PREFIX names the run; with "usb" the
# controllers are gadgets, one on each dummy USB bus.
run_all() {
  image=$1 prefix=$2
  peers=""
  n=0
  for entry in boot-a:boot:0 boot-b:boot:1 packet1:packet1:0; do
    name=${entry%%:*} rest=${entry#*:}
    mode=${rest%%:*} step=${rest#*:}
    if [ "$prefix" = usb ]; then
      gadget_controller $n "$mode" "$image" uid.step=$step > /tmp/all-$name.log 2>&1 &
    else
      uhid_controller "$mode" "$image" uid.step=$step > /tmp/all-$name.log 2>&1 &
    fi
    peers="$peers $!"
    n=$((n + 1))
    # One at a time, so that the bus order is the order of creation.
    wait_hidraw $n
  done
  timeout 60 tarvik-update-cli list --json > /tmp/list.json 2> /tmp/list.err
  echo "$prefix-ALL-LIST-EXIT $?"
  cat /tmp/list.json /tmp/list.err
  echo "$prefix-ALL-LIST-COUNT $(grep -c '"index":' /tmp/list.json)"
  echo "$prefix-ALL-LIST-MODES $(grep -o '"reportMode": *[0-9]*' /tmp/list.json | grep -o '[0-9]*$' | tr '\n' ' ')"
  echo "$prefix-ALL-LIST-UIDS $(grep -o '"uid": *"[0-9a-f]*"' /tmp/list.json | sort -u | wc -l)"
  timeout 180 tarvik-update-cli --json flash --all --yes "$image" > /tmp/cli.json 2> /tmp/cli.err
  echo "$prefix-ALL-FLASH-EXIT $?"
  cat /tmp/cli.json /tmp/cli.err
  echo "$prefix-ALL-FLASH-UPGRADED $(grep -c '"result": *"upgraded"' /tmp/cli.json)"
  for peer in $peers; do kill -TERM $peer; done
  for peer in $peers; do wait $peer; done
  for name in boot-a boot-b packet1; do
    sed -e "s/^PEER-CHECK \([A-Z]*\)/$prefix-ALL-CHECK $name \1/" /tmp/all-$name.log
  done
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}
# The benchmark, instead of the tests.
peer_on() {
  transport=$1
  shift
  if [ $transport = usb ]; then
    gadget_controller 0 "$@" > /tmp/peer.log 2>&1 &
  else
    uhid_controller "$@" > /tmp/peer.log 2>&1 &
  fi
  peer=$!
  wait_hidraw 1
}
peer_off() {
  kill -TERM $peer
  wait $peer
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}
if [ -f /bench ]; then
  for transport in uhid usb; do
    for mode in packet1 packet2; do
      peer_on $transport $mode /images/packet-v1.40.dat
      hidraw_roundtrip /dev/hidraw0 $mode 1000 "$transport $mode"
      peer_off
    done
    for run in 1 2 3; do
      for entry in boot:parts:/images/boot-two-mcus-v1.31.dat boot:ack:/images/boot-two-mcus-v1.31.dat \
                   packet1:parts:/images/packet-v1.40.dat; do
        mode=${entry%%:*} rest=${entry#*:}
        pace=${rest%%:*} image=${rest#*:}
        peer_on $transport $mode $image
        tarvik-update-cli --json flash --yes --pace $pace $image > /tmp/cli.json 2> /tmp/cli.err
        status=$?
        echo "UPDATE $transport $mode pace=$pace run=$run exit=$status seconds=$(sed -n 's/.*"seconds": *\([0-9.]*\).*/\1/p' /tmp/cli.json | head -1) bytes=$(sed -n 's/.*"bytesSent": *\([0-9]*\).*/\1/p' /tmp/cli.json | head -1)"
        peer_off
      done
    done
  done
  echo GUEST-DONE
  poweroff -f
fi

run_case boot /images/boot-two-mcus-v1.31.dat uhid_controller boot /images/boot-two-mcus-v1.31.dat
run_case packet1 /images/packet-v1.40.dat uhid_controller packet1 /images/packet-v1.40.dat
# One record, so that both protocols take the image whole.
run_all /images/boot-main-v1.31.dat uhid
# The same over USB, and the report-mode-2 controller that comes back in report mode 1.
for mode in boot packet1 packet2; do
  image=/images/packet-v1.40.dat
  [ $mode = boot ] && image=/images/boot-two-mcus-v1.31.dat
  run_case usb-$mode $image gadget_controller 0 $mode $image
done
# The acknowledging pace over USB: the same frames, the same check of what the controller holds.
pace=ack
run_case usb-boot-ack /images/boot-two-mcus-v1.31.dat gadget_controller 0 boot /images/boot-two-mcus-v1.31.dat
pace=parts
# Pulled out mid-update: the gadget unbinds for good after its ninth report.
run_case usb-unplug /images/boot-two-mcus-v1.31.dat gadget_controller 0 boot /images/boot-two-mcus-v1.31.dat unplug.after=9
grep -q "tarvik-update-cli: the controller was disconnected" /tmp/cli.err && echo "DISCONNECTED usb-unplug"
run_all /images/boot-main-v1.31.dat usb

# As the unprivileged user, with udevd giving the hidraw nodes their owner and mode.
run_as_player() {
  name=$1 image=$2
  gadget_controller 0 packet1 "$image" > /tmp/peer.log 2>&1 &
  peer=$!
  wait_hidraw 1
  udevadm settle -t 20
  echo "NODE $name $(ls -l /dev/hidraw0 | awk '{print $1, $3, $4}')"
  su player -c "cd /home/player && exec /bin/tarvik-update-cli flash --yes $image" > /tmp/cli.out 2> /tmp/cli.err
  echo "CLI-EXIT $name $?"
  cat /tmp/cli.out /tmp/cli.err
  grep -q "udev rules file 70-tarvik-update.rules" /tmp/cli.err && echo "HINT $name"
  kill -TERM $peer
  wait $peer
  sed -e "s/^PEER-CHECK \([A-Z]*\)/CASE-CHECK $name \1/" /tmp/peer.log
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}
echo "PLAYER $(su player -c id)"
mkdir -p /run/udev /etc/udev/rules.d /lib/udev/rules.d
/lib/systemd/systemd-udevd --daemon || echo "GUEST-ERROR udevd"
run_as_player player-without-rules /images/packet-v1.40.dat
cp /rules/70-tarvik-update.rules /lib/udev/rules.d/
udevadm control --reload
run_as_player player-with-rules /images/packet-v1.40.dat
echo GUEST-DONE
poweroff -f
INIT
chmod +x initrd/init
(cd initrd && find . | cpio -o -H newc 2>/dev/null | gzip -1 > ../initrd.gz)

echo "kernel test: booting the guest"
set +e
timeout 600 qemu-system-x86_64 -M q35 -accel tcg -smp 1 -m 768 -nographic -no-reboot -nodefaults \
  -serial stdio -kernel kernel/vmlinux -initrd initrd.gz \
  -append "console=ttyS0 quiet panic=-1" > console.log 2>&1
qemu=$?
set -e
guest_ran $qemu
if [[ -n "$roundtrip" ]]; then
  echo "kernel benchmark: round trips in microseconds, whole updates in seconds (one emulated CPU)"
  tr -d '\r' < console.log | grep -oE '(ROUNDTRIP|UPDATE) .*'
  exit 0
fi
for name in boot packet1 usb-boot usb-packet1 usb-packet2 usb-boot-ack; do
  expect "$name update through hidraw" "CLI-EXIT $name 0" "CASE-CHECK $name OK"
done
# Pulled out mid-update: the update fails as disconnected, and the controller
# was pulled out before it held the whole image.
expect "a controller pulled out mid-update over USB: the update fails as disconnected" \
  "CLI-EXIT usb-unplug 1" "DISCONNECTED usb-unplug" "CASE-CHECK usb-unplug OK"
# Without the rules the node is root's alone: the access hint and exit status 3.
expect "an unprivileged user without the udev rules gets the access hint" \
  "NODE player-without-rules crw------- root root" "CLI-EXIT player-without-rules 3" "HINT player-without-rules"
# With them the node is plugdev's, and the user, a member, updates the controller.
expect "an unprivileged user in plugdev updates a controller through the installed udev rules" \
  "NODE player-with-rules crw-rw---- root plugdev" "CLI-EXIT player-with-rules 0" "CASE-CHECK player-with-rules OK"
# The report-mode-2 controller was updated after coming back as the report-mode-1 product.
expect "usb-packet2 updated in report mode 1 after enumerating again" "CLI-PRODUCT usb-packet2 5a3c:7e21"
# Three at once: the list shows them all (two boot-mode controllers with UIDs
# of their own, then the report-mode-1 one), flash --all upgrades every one
# (three results, besides the document's own), and each holds the image.
for prefix in uhid usb; do
  expect "three controllers ($prefix) listed and updated at once through hidraw" \
    "$prefix-ALL-LIST-EXIT 0" "$prefix-ALL-LIST-COUNT 3" "$prefix-ALL-LIST-MODES 3 3 1 *$" \
    "$prefix-ALL-LIST-UIDS 2" "$prefix-ALL-FLASH-EXIT 0" "$prefix-ALL-FLASH-UPGRADED 4" \
    "$prefix-ALL-CHECK boot-a OK" "$prefix-ALL-CHECK boot-b OK" "$prefix-ALL-CHECK packet1 OK"
done
exit $status
