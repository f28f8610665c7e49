#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine, for one of two purposes:
#   tools/install-deps.sh qvr     building and running the Linux tool qvr (what ./qvr.sh needs)
#   tools/install-deps.sh tests   every build and test (what ./test.sh needs): Wine, the i386
#                                 architecture, the MinGW cross compilers, GoogleTest, clang, ...
#   tools/install-deps.sh bench   what bench/*.sh need: ImageMagick, file, exiftool, libfuse3
#   tools/install-deps.sh screenshot   what the tests need, and Wine's own fonts, which draw the
#                                 dialog's frame in tools/screenshot.py
#   tools/install-deps.sh --list qvr|tests|bench|screenshot   only print the packages, one a line
# Quick when all is there: one question to the package database.
set -euo pipefail

qvr_packages=(g++ cmake ninja-build pkg-config libglib2.0-dev shared-mime-info)
test_packages=(
  "${qvr_packages[@]}" file
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  nlohmann-json3-dev libgtest-dev googletest
  clang libclang-rt-14-dev
  wine64 wine32:i386 xvfb fonts-ipafont-gothic locales libx11-dev x11-utils imagemagick python3
  dpkg-dev man-db hyperfine strace
)

list=0 wine=0 # wine: runs the Windows programs under Wine
if [ "${1:-}" = --list ]; then list=1; shift; fi
case "${1:-}" in
  qvr) packages=("${qvr_packages[@]}")
       why="to build and run the Linux tool qvr" ;;
  bench) packages=("${qvr_packages[@]}" imagemagick file hyperfine strace libimage-exiftool-perl libfuse3-dev fuse3)
         why="for the benchmarks: ImageMagick, file and exiftool to compare with, libfuse3 for a slow device" ;;
  tests) packages=("${test_packages[@]}") wine=1
         why="for the tests: Wine (32- and 64-bit, the i386 architecture), the MinGW cross compilers, GoogleTest, clang, Xvfb, ImageMagick" ;;
  screenshot) packages=("${test_packages[@]}" fonts-wine) wine=1
              why="for the dialog's picture: the tests' Wine, cross compiler and Xvfb, and Wine's fonts" ;;
  *) echo "usage: $0 [--list] qvr|tests|bench|screenshot" >&2; exit 2 ;;
esac
if [ $list = 1 ]; then printf '%s\n' "${packages[@]}"; exit 0; fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
can_be_root() { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null 2>&1; }

# The release is a 32-bit program: the tests run it under Wine's 32-bit loader, from i386 packages.
need_i386=0
if [ $wine = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then need_i386=1; fi

# One query for all: packages not installed are reported on stderr and left out of stdout.
installed=$(dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  case $'\n'"$installed"$'\n' in
    *$'\n'"$p ii"*|*$'\n'"$p:amd64 ii"*) ;;
    *) missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -gt 0 ] || [ $need_i386 = 1 ]; then
  if ! can_be_root; then
    echo "$(basename "$0"): ${#missing[@]} packages are missing $why, and neither root nor sudo is here to install them." >&2
    [ $need_i386 = 1 ] && echo "As root, first: dpkg --add-architecture i386 && apt-get update" >&2
    echo "As root: apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  if [ $need_i386 = 1 ]; then
    echo "adding the i386 architecture $why"
    as_root dpkg --add-architecture i386
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    n="${#missing[@]} packages" && [ ${#missing[@]} = 1 ] && n="1 package"
    echo "installing $n $why, with their dependencies: ${missing[*]}"
    apt_install() {
      as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    }
    # The package lists a machine already has are tried first: asking the mirrors again takes
    # seconds. Only when they are stale or lack a package (a new architecture does) are they renewed.
    log=$(mktemp)
    if [ $need_i386 = 1 ] || ! apt_install >"$log" 2>&1; then
      as_root apt-get update -qq
      apt_install
    else
      grep -v '^debconf: ' "$log" | grep -iE '^(E|W):' || true
    fi
    rm -f "$log"
  fi
fi

# Wine's ANSI code page follows the locale: ja_JP.UTF-8 gives code page 932.
if [ $wine = 1 ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf8$'; then
  echo "generating the ja_JP.UTF-8 locale for the tests under Wine"
  as_root sh -c "grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen"
  as_root locale-gen ja_JP.UTF-8 >/dev/null
fi
