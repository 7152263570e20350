#!/usr/bin/env bash
# Updates simulated controllers through a real Linux kernel: boots Debian's
# kernel in a QEMU guest (software emulation), creates each controller as a
# uhid device whose device side is uhid_controller, and runs
# tarvik-update-cli on the guest's hidraw devices, without --simulate: one
# controller at a time (a two-record boot-mode update, then a report-mode-1
# update), then three at once (two boot-mode controllers with UIDs of their
# own and a report-mode-1 one), listed with `list --json` and all updated by
# one `flash --all`. Each controller checks what it holds on its device side.
#
#   run_kernel_test.sh CLI UHID_CONTROLLER IMAGES_DIR WORK_DIR
#
# Fails, and says why, when the kernel cannot be fetched or the guest cannot run.
set -euo pipefail

cli=$1 peer=$2 images=$3 work=$4
mkdir -p "$work"
cd "$work"

fail() { echo "kernel test: $*" >&2; exit 1; }

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
modules=$(ls -d kernel/root/lib/modules/*/kernel/drivers/hid)

# The guest's root: busybox, the HID modules, the programs and their libraries, the images.
rm -rf initrd && mkdir -p initrd/{bin,proc,sys,dev,tmp,run,images,lib/modules}
cp "$(command -v busybox)" initrd/bin/busybox
for module in hid uhid hid-generic; do cp "$modules/$module.ko" initrd/lib/modules/; done
cp "$cli" initrd/bin/tarvik-update-cli
cp "$peer" initrd/bin/uhid_controller
cp "$images"/*.dat initrd/images/
for binary in "$cli" "$peer"; do
  ldd "$binary" | grep -o '/[^ ]*' | while read -r library; do
    mkdir -p "initrd$(dirname "$library")"
    cp -L "$library" "initrd$library"
  done
done

cat > initrd/init <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
for module in hid uhid hid-generic; do insmod /lib/modules/$module.ko || echo "GUEST-ERROR insmod $module"; done

# One update per protocol: the controller appears, the updater finds it through
# hidraw, writes the image, and the controller checks what it received.
run_case() {
  mode=$1 image=$2
  uhid_controller "$mode" "$image" > /tmp/peer.log 2>&1 &
  peer=$!
  for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    ls /dev/hidraw* >/dev/null 2>&1 && break
    sleep 0.2
  done
  timeout 120 tarvik-update-cli --json flash --yes "$image" > /tmp/cli.json 2> /tmp/cli.err
  echo "CLI-EXIT $mode $?"
  cat /tmp/cli.json /tmp/cli.err
  kill -TERM $peer
  wait $peer
  cat /tmp/peer.log
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}
hidraw_count() { ls /dev/hidraw* 2>/dev/null | wc -l; }

# Three controllers on the bus at once, each its own uhid_controller with a log
# of its own: the list shows them in bus order and one flash --all updates
# them side by side. The peers' lines are renamed so that they cannot pass
# for the single-controller cases'.
run_all() {
  image=$1
  peers=""
  n=0
  for entry in boot-a:boot:0 boot-b:boot:1 packet1:packet1:0; do
    name=${entry%%:*} rest=${entry#*:}
    mode=${rest%%:*} step=${rest#*:}
    uhid_controller "$mode" "$image" uid.step=$step > /tmp/all-$name.log 2>&1 &
    peers="$peers $!"
    n=$((n + 1))
    # One at a time, so that the bus order is the order of creation.
    for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
      [ "$(hidraw_count)" -ge $n ] && break
      sleep 0.2
    done
  done
  timeout 60 tarvik-update-cli list --json > /tmp/list.json 2> /tmp/list.err
  echo "ALL-LIST-EXIT $?"
  cat /tmp/list.json /tmp/list.err
  echo "ALL-LIST-COUNT $(grep -c '"index":' /tmp/list.json)"
  echo "ALL-LIST-MODES $(grep -o '"reportMode": *[0-9]*' /tmp/list.json | grep -o '[0-9]*$' | tr '\n' ' ')"
  echo "ALL-LIST-UIDS $(grep -o '"uid": *"[0-9a-f]*"' /tmp/list.json | sort -u | wc -l)"
  timeout 180 tarvik-update-cli --json flash --all --yes "$image" > /tmp/cli.json 2> /tmp/cli.err
  echo "ALL-FLASH-EXIT $?"
  cat /tmp/cli.json /tmp/cli.err
  echo "ALL-FLASH-UPGRADED $(grep -c '"result": *"upgraded"' /tmp/cli.json)"
  for peer in $peers; do kill -TERM $peer; done
  for peer in $peers; do wait $peer; done
  for name in boot-a boot-b packet1; do
    sed -e "s/^PEER-CHECK \([A-Z]*\)/ALL-CHECK $name \1/" /tmp/all-$name.log
  done
  while ls /dev/hidraw* >/dev/null 2>&1; do sleep 0.1; done
}
run_case boot /images/boot-two-mcus-v1.31.dat
run_case packet1 /images/packet-v1.40.dat
# One record, so that both protocols take the image whole.
run_all /images/boot-main-v1.31.dat
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
tr -d '\r' < console.log | grep -v '^\s*$' | sed -e 's/^/guest: /'
[[ $qemu -eq 0 ]] || fail "the guest did not run to its end (qemu exit $qemu); see $work/console.log"
grep -q GUEST-DONE console.log || fail "the guest stopped early; see $work/console.log"
status=0
for mode in boot packet1; do
  if grep -q "CLI-EXIT $mode 0" console.log && grep -q "PEER-CHECK OK $mode" console.log; then
    echo "kernel test: $mode update through hidraw: passed"
  else
    echo "kernel test: $mode update through hidraw: FAILED" >&2
    status=1
  fi
done
# Three at once: the list shows them all (two boot-mode controllers with UIDs
# of their own, then the report-mode-1 one), flash --all upgrades every one
# (three results, besides the document's own), and each holds the image.
all_ok=1
grep -q "ALL-LIST-EXIT 0" console.log || all_ok=0
grep -q "ALL-LIST-COUNT 3" console.log || all_ok=0
grep -Eq "ALL-LIST-MODES 3 3 1 *$" <(tr -d '\r' < console.log) || all_ok=0
grep -q "ALL-LIST-UIDS 2" console.log || all_ok=0
grep -q "ALL-FLASH-EXIT 0" console.log || all_ok=0
grep -q "ALL-FLASH-UPGRADED 4" console.log || all_ok=0
for name in boot-a boot-b packet1; do
  grep -q "ALL-CHECK $name OK" console.log || all_ok=0
done
if [[ $all_ok -eq 1 ]]; then
  echo "kernel test: three controllers listed and updated at once through hidraw: passed"
else
  echo "kernel test: three controllers listed and updated at once through hidraw: FAILED" >&2
  status=1
fi
exit $status
