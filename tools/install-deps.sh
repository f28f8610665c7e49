#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian 12 machine. Quick when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config file
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  libglib2.0-dev shared-mime-info nlohmann-json3-dev libgtest-dev googletest
  clang libclang-rt-14-dev
  wine64 xvfb fonts-ipafont-gothic locales libx11-dev x11-utils imagemagick python3
  dpkg-dev man-db hyperfine strace
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The release is a 32-bit program: the tests run it under Wine's 32-bit loader (/usr/lib/wine/wine).
packages+=(wine32:i386)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "adding the i386 architecture"
  as_root dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's ANSI code page follows the locale: ja_JP.UTF-8 gives code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  echo "generating the ja_JP.UTF-8 locale"
  as_root sh -c "grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen"
  as_root locale-gen ja_JP.UTF-8 >/dev/null
fi
