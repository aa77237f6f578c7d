# Shared by the test machine's scripts: where its image lives and what it is made from.
# The test machine is an x86-64 Debian with 32-bit Wine, run under QEMU, for hosts that cannot
# execute 32-bit x86 code themselves.

vm_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
project_root=$(cd "$vm_dir/../.." && pwd)
vm_cache=${SETUP_VM_CACHE:-/var/cache/setup-test-vm}
# The image is keyed by its recipe: a changed recipe makes a new one.
vm_key=$(cat "$vm_dir/build-image.sh" "$vm_dir/guest-init.sh" "$vm_dir/common.sh" \
          "$vm_dir/bake_prefixes.py" | sha256sum | cut -c1-16)
vm_image_dir=$vm_cache/$vm_key
vm_suite=bookworm
# Inside the guest: the baked Wine prefixes, and the project's shared folder.
vm_wine_root=/var/lib/setup-tests-wine
# The test suite's shards run side by side, each in a test machine of its own with one virtual
# CPU: one emulated CPU a machine runs faster than two that share its locks.
vm_shards=2
vm_project=/project

# The Debian mirror this machine installs from, read from its own apt sources.
apt_mirror() {
  local uri
  uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -v -- '-security' | head -n 1)
  if [ -z "$uri" ]; then
    uri=$(awk '$1 == "deb" && $0 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
  fi
  echo "$uri"
}

vm_ready() {
  [ -f "$vm_image_dir/ready" ]
}
