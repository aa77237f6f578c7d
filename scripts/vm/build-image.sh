#!/usr/bin/env bash
# Builds the test machine's image from Debian's packages, once per recipe: an x86-64 Debian with
# 32-bit and 64-bit Wine, pytest and the locales of the tests, with the Wine prefixes of the tests
# made ready inside it. Does nothing when the image of this recipe is there. Builds that start
# together take turns through a lock on the cache: a second one waits for the first one's image
# instead of building into the same folder. Run as root.
# SETUP_VM_BUILD_STEP (for the tests) replaces the steps that make the image: a command run with
# the work folder as its argument, which leaves disk.img, vmlinuz and initrd.img there.
set -euo pipefail
. "$(dirname "$0")/common.sh"

fail() {
  echo "build-image.sh: $*" >&2
  exit 1
}
mkdir -p "$vm_cache" || fail "cannot make $vm_cache"
exec 9>"$vm_cache/build.lock"
if ! flock -n 9; then
  echo "test machine: another build of this image runs; waiting for it"
  flock 9
fi
if vm_ready; then
  echo "test machine image ready: $vm_image_dir"
  exit 0
fi

started=$(date +%s)
work=$vm_cache/build-$vm_key
root=$work/root
# What a killed build left (the lock is ours now).
rm -rf "$work"
mkdir -p "$work"
unmount_all() {
  for m in dev/pts dev proc sys; do umount "$root/$m" 2>/dev/null || true; done
}
trap unmount_all EXIT

build_image() {
  [ "$(id -u)" = 0 ] || fail "needs root (debootstrap, chroot)"
  local needed_kib=$((10 * 1024 * 1024)) free_kib mirror
  free_kib=$(df -Pk "$vm_cache" | awk 'NR == 2 { print $4 }')
  [ "$free_kib" -ge "$needed_kib" ] ||
    fail "needs 10 GiB free in $vm_cache, has $((free_kib / 1024)) MiB"
  mirror=$(apt_mirror)
  [ -n "$mirror" ] || fail "no Debian mirror found in this machine's apt sources"
  mkdir -p "$root"

  echo "test machine: debootstrap $vm_suite from $mirror"
  debootstrap --variant=minbase --arch=amd64 "$vm_suite" "$root" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || fail "debootstrap failed, see $work/debootstrap.log"
  for m in proc sys dev dev/pts; do mount --bind "/$m" "$root/$m"; done
  cat >"$root/etc/apt/sources.list" <<LIST
deb $mirror $vm_suite main
deb $mirror $vm_suite-updates main
LIST
  echo "test machine: installing the kernel, Wine and pytest"
  chroot "$root" /bin/sh -ec '
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    for try in 1 2 3; do apt-get update -qq && break; sleep 10; done
    apt-get install -y -qq --no-install-recommends linux-image-amd64 initramfs-tools kmod \
      wine wine32:i386 wine64 python3 python3-pytest locales procps passwd osslsigncode openssl
    for l in ja_JP de_DE en_US; do echo "$l.UTF-8 UTF-8" >>/etc/locale.gen; done
    locale-gen
    # The virtual disk must be reachable before the root is mounted.
    printf "virtio_pci\nvirtio_blk\n" >>/etc/initramfs-tools/modules
    update-initramfs -u
    apt-get clean
  ' >"$work/install.log" 2>&1 || fail "installing in the image failed, see $work/install.log"
  install -m 755 "$vm_dir/guest-init.sh" "$root/usr/local/sbin/lane-init"
  mkdir -p "$root$vm_project"
  unmount_all
  cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
  cp "$root"/boot/initrd.img-* "$work/initrd.img"

  echo "test machine: writing the disk image"
  truncate -s 16G "$work/disk.img"
  mkfs.ext4 -q -F -L setup-test-vm -d "$root" "$work/disk.img" || fail "mkfs.ext4 failed"
  rm -rf "$root"

  echo "test machine: making the Wine prefixes of the tests inside it"
  VM_IMAGE_DIR=$work VM_CPUS=2 "$vm_dir/run.sh" --persist \
    "/usr/bin/python3 scripts/vm/bake_prefixes.py" || fail "making the Wine prefixes failed"
}

if [ -n "${SETUP_VM_BUILD_STEP:-}" ]; then
  $SETUP_VM_BUILD_STEP "$work" || fail "the build step failed"
else
  build_image
fi

mkdir -p "$vm_image_dir"
mv "$work/disk.img" "$work/vmlinuz" "$work/initrd.img" "$vm_image_dir/"
rm -rf "$work"
touch "$vm_image_dir/ready"
echo "test machine image ready in $(($(date +%s) - started)) s: $vm_image_dir" \
  "($(du -sh "$vm_image_dir" | cut -f1) on disk)"
