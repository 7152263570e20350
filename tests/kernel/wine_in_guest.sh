#!/usr/bin/env bash
# tarvik-update-cli.exe under Wine in the kernel test's guest, updating a
# report-mode-1 controller played on a USB HID gadget: Wine's HID stack reaches
# the controller through the guest's hidraw, and the controller checks what it
# holds. The guest runs this machine's own Debian root (its Wine, as
# scripts/install-deps.sh windows installs it) read-only over 9p, chrooted.
# Not part of the test command yet: under QEMU without KVM one run takes about
# two minutes, most of it Wine setting up its prefix.
#   tests/kernel/wine_in_guest.sh KERNEL_DIR CLI_EXE WORK_DIR
# KERNEL_DIR: the kernel test's folder after a run (build/test/tests/kernel);
# CLI_EXE: the cross-built tarvik-update-cli.exe. Prints the guest's console;
# exits 0 when the flash ended 0 and the controller holds the image.
set -euo pipefail
k=$(realpath "$1")
exe=$(realpath "$2")
mkdir -p "$3"
here=$(realpath "$3")
cd "$here"
rm -rf share && mkdir -p share
cp "$exe" share/tarvik-update-cli.exe
cp "$k/initrd/images/packet-v1.40.dat" share/
# Wine's HID bus tries SDL first and then never reads hidraw: SDL off, in a
# prefix made here and written by the guest.
WINEPREFIX="$here/share/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f >/dev/null 2>&1
WINEPREFIX="$here/share/prefix" wineserver -k 2>/dev/null || true
mods=$(ls -d $k/kernel/root/lib/modules/*/kernel)
rm -rf initrd && cp -a $k/initrd initrd && rm -f initrd/init initrd/bench
for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do
  cp "$(find $mods -name "$m.ko" | head -1)" initrd/lib/modules/
done
mkdir -p initrd/host
cat > initrd/init <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev; mount -t tmpfs tmp /tmp; mount -t tmpfs run /run
for m in hid uhid hid-generic configfs usb-common usbcore udc-core libcomposite usb_f_hid usbhid; do insmod /lib/modules/$m.ko; [ $m = configfs ] && mount -t configfs none /sys/kernel/config; done
insmod /lib/modules/dummy_hcd.ko num=1
for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do insmod /lib/modules/$m.ko || echo "insmod $m failed"; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /host || echo "MOUNT hostroot failed"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 work /host/mnt || echo "MOUNT work failed"
mkdir -p /run/udev /etc/udev/rules.d /lib/udev/rules.d
/lib/systemd/systemd-udevd --daemon || echo "udevd failed"
mount -t proc proc /host/proc; mount -t sysfs sys /host/sys; mount -t devtmpfs dev /host/dev; mount -t tmpfs tmp /host/tmp; mount -o bind /run /host/run
gadget_controller 0 packet1 /images/packet-v1.40.dat > /tmp/peer.log 2>&1 &
peer=$!
i=0; while ! ls /dev/hidraw* >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.2; i=$((i+1)); done
udevadm settle -t 20; ls -l /dev/hidraw*; cat /sys/class/hidraw/hidraw0/device/uevent; ls /run/udev/data | head
W="chroot /host /usr/bin/env HOME=/root WINEPREFIX=/mnt/prefix WINEARCH=win64 WINEDLLOVERRIDES=mscoree,mshtml="
t0=$(date +%s)
$W WINEDEBUG=+hid /usr/bin/wineserver -p
$W WINEDEBUG=+hid /usr/bin/wine wineboot > /tmp/boot.out 2>&1
echo "WINEBOOT-EXIT $? after $(( $(date +%s) - t0 )) s"; grep -i "udev\|hidraw\|5a3c\|bus_main\|create_hid_device\|err:" /tmp/boot.out | head -60; cp /tmp/boot.out /host/mnt/boot.err
cp /host/mnt/tarvik-update-cli.exe /host/mnt/packet-v1.40.dat /host/tmp/
cmp /host/mnt/tarvik-update-cli.exe /host/tmp/tarvik-update-cli.exe && echo "EXE-COPY-SAME"
t0=$(date +%s)
$W WINEDEBUG=err+all,+hid /usr/bin/wine /tmp/tarvik-update-cli.exe --json list > /tmp/list.out 2> /tmp/list.err
echo "WINE-LIST-EXIT $? after $(( $(date +%s) - t0 )) s"
cat /tmp/list.out
grep -i "udev\|hidraw\|5a3c\|err:\|bus_main\|create_hid_device" /tmp/list.err | grep -v "^$" | head -80
cp /tmp/list.err /host/mnt/list.err 2>/dev/null
t0=$(date +%s)
$W WINEDEBUG=+hid /usr/bin/wine /tmp/tarvik-update-cli.exe --json flash --yes 'Z:\mnt\packet-v1.40.dat' > /tmp/flash.out 2> /tmp/flash.err
echo "WINE-FLASH-EXIT $? after $(( $(date +%s) - t0 )) s"
grep -v '^  ' /tmp/flash.out | head; grep -i "write\|output\|Overlapped" /tmp/flash.err | head -40
sleep 5
echo "WINEDEVICE-LOG"; grep -i "write\|output" /tmp/boot.out | head -60
cp /tmp/boot.out /host/mnt/boot-final.err
$W /usr/bin/wineserver -k
kill -TERM $peer; wait $peer; cat /tmp/peer.log
echo GUEST-DONE
poweroff -f
INIT
chmod +x initrd/init
(cd initrd && find . | cpio -o -H newc 2>/dev/null | gzip -1 > ../initrd.gz)
timeout 1500 qemu-system-x86_64 -M q35 -accel tcg -smp 2 -m 2048 -nographic -no-reboot -nodefaults \
  -serial stdio -kernel $k/kernel/vmlinux -initrd initrd.gz \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on \
  -virtfs local,path=$here/share,mount_tag=work,security_model=none \
  -append "console=ttyS0 quiet panic=-1" > console.log 2>&1 || echo "qemu exit $?"
tr -d '\r' < console.log | tail -250
grep -q "WINE-FLASH-EXIT 0 " console.log && grep -q "PEER-CHECK OK packet1" console.log
