#!/usr/bin/env bash
# Installs the build and test tools on a fresh Debian machine. Run as root; safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-format
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  libgtest-dev googletest
  wine wine32:i386 wine64
  gcab python3-pytest osslsigncode openssl
  clang libclang-rt-14-dev locales cabextract
  qemu-system-x86 debootstrap
)

# Wine takes its code pages from the locale: Japanese (ANSI and OEM 932) and German (ANSI 1252,
# OEM 850) for the foreign code page tests.
ensure_locales() {
  local missing=0 name
  for name in ja_JP de_DE; do
    locale -a 2>/dev/null | grep -qi "^$name.utf8$" && continue
    missing=1
    sed -i "s/^# *\($name.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
  done
  if [ $missing = 1 ]; then locale-gen >/dev/null; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  ensure_locales
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
"$(dirname "$0")/apt-install.sh" "${missing[@]}"
ensure_locales
