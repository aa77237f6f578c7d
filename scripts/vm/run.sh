#!/usr/bin/env bash
# scripts/vm/run.sh [--persist] COMMAND...: runs COMMAND (one shell command line) in the test
# machine, in the project folder shared from this host, prints its output and exits with its
# exit code. The disk starts from the same image each time; --persist keeps what the command
# writes (only the image build uses it). The CPU is emulated; SETUP_VM_ACCEL=kvm uses KVM instead
# (where /dev/kvm works: on the machines measured here, nested KVM hung or failed). The machine
# has VM_CPUS virtual CPUs (1 unless set): machines run side by side each get one.
set -euo pipefail
. "$(dirname "$0")/common.sh"

image_dir=${VM_IMAGE_DIR:-$vm_image_dir}
snapshot=on
if [ "${1:-}" = "--persist" ]; then
  snapshot=off
  shift
fi
if [ ! -f "$image_dir/disk.img" ]; then
  echo "run.sh: no test machine image in $image_dir (scripts/vm/build-image.sh makes it)" >&2
  exit 2
fi

# Emulated, the machine is slower: tests that wait scale their waits by this factor.
if [ "${SETUP_VM_ACCEL:-}" = kvm ]; then
  accel=(-enable-kvm -cpu host)
  time_factor=2
else
  # QEMU 7.2 emulating the CPU faults a user-mode IRET under SMAP.
  accel=(-cpu max,-smap,-la57)
  time_factor=6
fi

lane=$(mktemp -d)
trap 'rm -rf "$lane"' EXIT
{
  echo "export SETUP_TIME_FACTOR=${SETUP_TIME_FACTOR:-$time_factor} SETUP_WINE_ROOT=$vm_wine_root"
  printf '%s\n' "$*"
} >"$lane/command.sh"

timeout "${SETUP_VM_TIMEOUT:-5400}" qemu-system-x86_64 -nodefaults -display none -no-reboot \
  -machine q35 "${accel[@]}" -smp "${VM_CPUS:-1}" -m 6G -nic none \
  -kernel "$image_dir/vmlinuz" -initrd "$image_dir/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 init=/usr/local/sbin/lane-init quiet panic=-1" \
  -drive "file=$image_dir/disk.img,if=virtio,format=raw,snapshot=$snapshot" \
  -virtfs "local,path=$project_root,mount_tag=project,security_model=passthrough,id=project" \
  -virtfs "local,path=$lane,mount_tag=lane,security_model=passthrough,id=lane" \
  -serial "file:$lane/console.log" || true

if [ ! -f "$lane/rc" ]; then
  echo "run.sh: the test machine ended without running the command; its console:" >&2
  tail -n 30 "$lane/console.log" >&2 || true
  exit 2
fi
cat "$lane/output.log"
exit "$(cat "$lane/rc")"
