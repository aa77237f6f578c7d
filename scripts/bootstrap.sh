#!/usr/bin/env bash
# Installs the build and test tools on a fresh Debian machine. Run as root; safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  libgtest-dev googletest
  wine wine32:i386 wine64
  gcab python3-pytest
  clang libclang-rt-14-dev locales cabextract
)

# Wine's Japanese code page (932) for the foreign code page tests.
ensure_japanese_locale() {
  locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$' && return 0
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_japanese_locale
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_japanese_locale
