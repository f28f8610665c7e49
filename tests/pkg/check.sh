#!/usr/bin/env bash
# Makes the release packages with cpack and checks them as a user meets them. Needs the native and win32 builds.
set -euo pipefail
cd "$(dirname "$0")/../.."
native=$PWD/build/native win32=$PWD/build/win32
# The one place that names the version; every artefact must agree with it.
version=$(sed -n 's/^project(qvr VERSION \([0-9]*\)\.\([0-9]*\)[.0-9]* .*/\1.\2/p' CMakeLists.txt)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() { # description, expected (an extended regex when it starts with ^), actual
  if [ "$2" == "$3" ] || { [[ $2 == ^* ]] && grep -Eq -- "$2" <<<"$3"; }; then echo "ok    $1"; else
    echo "FAIL  $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
le() { od -An -tu"$3" -j "$2" -N "$3" "$1" 2>/dev/null | tr -d ' '; } # file, offset, byte count

zip=qvr-$version-win32.zip
rm -f "$win32/$zip"
(cd "$win32" && cpack -G ZIP >"$scratch/cpack.log" 2>&1) || cat "$scratch/cpack.log"
check "zip holds qvr.exe, qvrc.exe and readme.txt at its top" $'qvr.exe\nqvrc.exe\nreadme.txt' "$(cmake -E tar tf "$win32/$zip" | sort)"
check "zip checksum file" "$zip: OK" "$(cd "$win32" && sha256sum -c "$zip.sha256" 2>&1)"
mkdir "$scratch/zip" && (cd "$scratch/zip" && cmake -E tar xf "$win32/$zip") || true
for row in "qvr.exe 2 GUI 65536" "qvrc.exe 3 console 131072"; do
  read -r name subsystem kind limit <<<"$row"
  exe=$scratch/zip/$name
  check "zip's $name is build/win32/bin/$name" same "$(cmp -s "$exe" "$win32/bin/$name" && echo same)"
  pe=$(le "$exe" 60 4 || true) size=$(stat -c %s "$exe" || echo 0)
  # "PE\0\0" (17744), machine i386 (0x14c), PE32 optional header (0x10b), subsystem, COFF symbol table offset.
  check "$name: PE32, i386, $kind subsystem, no COFF symbols, no debug sections, $size bytes, at most $limit" \
    "17744 332 267 $subsystem 0 0 1" "$(le "$exe" "$pe" 4) $(le "$exe" $((pe + 4)) 2) $(le "$exe" $((pe + 24)) 2) \
$(le "$exe" $((pe + 92)) 2) $(le "$exe" $((pe + 12)) 4) $(i686-w64-mingw32-objdump -h "$exe" | grep -c '\.debug') $((size <= limit))"
  check "$name imports only system DLLs" "" "$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr A-Z a-z |
    grep -Ev '^(kernel32|user32|shell32|gdi32|advapi32|comctl32|comdlg32|ole32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$')"
done
readme=$scratch/zip/readme.txt
text=$(tail -c +4 "$readme" | tr -d '\r' || true)
check "readme.txt: byte order mark, valid UTF-8, no line without CRLF, the version in both languages" "efbbbf valid 0 2" \
  "$(head -c3 "$readme" | od -An -tx1 | tr -d ' ') $(iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null && echo valid) \
$(grep -cv $'\r$' "$readme") $(grep -c "^QVR Version $version " <<<"$text")"
check "readme.txt covers usage and formats" "" "$(for word in 使い方 "HOW TO USE" ドロップ drop qvrc.exe BMP GIF PNG MNG \
  JPEG Pixia RIF; do grep -q -- "$word" <<<"$text" || echo -n "$word missing "; done)"

cmake --install "$native" --prefix "$scratch/prefix" >/dev/null || true
check "cmake --install puts qvr and its manual page in place" \
  $'bin/qvr\nshare/doc/qvr/changelog.gz\nshare/man/man1/qvr.1.gz' "$(cd "$scratch/prefix" && find . -type f -printf '%P\n' | sort)"

arch=$(dpkg --print-architecture)
deb=$native/qvr_${version}_$arch.deb
rm -f "$deb"
(cd "$native" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || cat "$scratch/cpack.log"
depends=$(dpkg-deb -f "$deb" Depends)
check "Package, Version, Architecture, Maintainer; Depends with versions" "^Package: qvr Version: ${version//./\\.} \
Architecture: $arch Maintainer: [^<]+ <[^@>]+@[^>]+> Depends: [a-z0-9.+-]+ \(>= [^)]+\)(, [a-z0-9.+-]+ \(>= [^)]+\))* $" \
  "$(dpkg-deb -f "$deb" Package Version Architecture Maintainer Depends | tr '\n' ' ')"
check "files in the package" $'-rw-r--r-- root/root ./usr/share/doc/qvr/changelog.gz\n-rw-r--r-- root/root ./usr/share/man/man1/qvr.1.gz\n-rwxr-xr-x root/root ./usr/bin/qvr' \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)"
root=$scratch/root qvr=$scratch/root/usr/bin/qvr
dpkg -x "$deb" "$root"
check "installed qvr is a stripped ELF program" '^ELF 64-bit.*, stripped$' "$(file -b "$qvr")"
for lib in $(objdump -p "$qvr" | awk '$1 == "NEEDED" {print $2}'); do
  # "name => path" for most libraries; the dynamic loader is listed by its path alone.
  path=$(ldd "$qvr" | awk -v l="$lib" '$1 == l {print $3; exit} $1 ~ ("/" l "$") {print $1; exit}')
  pkg=$(dpkg -S "$path" "$(readlink -f "$path")" "/usr$path" 2>/dev/null | head -1 | cut -d: -f1 || true)
  check "Depends covers $lib (${pkg:-no package})" yes "$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -qxF -- "${pkg:-?}" && echo yes)"
done
check "qvr --version from the package" "QVR Version $version (exit 0)" "$("$qvr" --version 2>&1) (exit $?)"
check "qvr from the package reads the example image" "  スケール  160 × 120 Pixel (exit 0)" \
  "$("$qvr" app/example/sample.png 2>&1 | grep Pixel) (exit $?)"
check "changelog's latest entry is version $version" "^qvr \\($version\\) " "$(gzip -dc "$root/usr/share/doc/qvr/changelog.gz" | head -1)"
man=$root/usr/share/man/man1/qvr.1.gz
check "manual page is gzip -9n (no name, no time stamp)" "08 00 00 00 00 00 02" "$(od -An -tx1 -j2 -N7 "$man" | sed 's/^ //')"
for locale in $(locale -a | grep -ix -e C.utf8 -e ja_JP.utf8); do
  check "man -l renders without warnings ($locale)" "" "$(LC_ALL=$locale MANWIDTH=80 man -l --warnings=all "$man" 2>&1 >/dev/null)"
done
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man" 2>/dev/null)
check "manual page has every section" "" "$(for section in NAME SYNOPSIS OPTIONS OUTPUT FORMATS "EXIT STATUS" EXAMPLES; do
  grep -q "^$section" <<<"$page" || echo -n "$section missing "; done)"
check "manual page footer names version $version" "^qvr $version " "$(tail -1 <<<"$page")"

# What ./qvr.sh would install on a machine that has nothing: stand-ins for the package tools record
# it (all packages missing, no foreign architecture), and a failing cmake stops it after that.
fake=$scratch/fake && mkdir -p "$fake/bin" "$fake/clone" && cp -r qvr.sh tools "$fake/clone/"
for tool in bash sh env dirname basename mktemp rm grep cat; do ln -s "$(command -v $tool)" "$fake/bin/$tool"; done
for tool in "dpkg-query:exit 1" "dpkg:exit 0" "cmake:exit 1" "apt-get:echo \"\$*\" >>$fake/apt.log" "id:echo 0"; do
  printf '#!/bin/sh\n%s\n' "${tool#*:}" >"$fake/bin/${tool%%:*}" && chmod +x "$fake/bin/${tool%%:*}"
done
said=$(PATH=$fake/bin "$fake/clone/qvr.sh" 2>&1 >/dev/null || true)
asked=$(grep -o 'install .*' "$fake/apt.log" 2>/dev/null | tr ' ' '\n' | grep -v '^-' | tail -n +2 | sort | tr '\n' ' ')
check "qvr.sh installs the Linux tool's build needs, says so first, nothing for the tests" \
  "cmake g++ libglib2.0-dev ninja-build pkg-config shared-mime-info |installing 6 packages to build and run the Linux tool qvr" \
  "$asked|$(head -1 <<<"$said" | cut -d, -f1)"
printf '#!/bin/sh\necho 1000\n' >"$fake/bin/id" && rm -f "$fake/apt.log"
said=$(PATH=$fake/bin "$fake/clone/qvr.sh" 2>&1 >/dev/null; echo "exit $?")
check "qvr.sh without root or sudo names the packages and stops" \
  "^As root: apt-get install --no-install-recommends g\+\+ cmake ninja-build pkg-config libglib2.0-dev shared-mime-info.exit 1$" \
  "$(tail -2 <<<"$said" | paste -sd ' ')$([ -e "$fake/apt.log" ] && echo ' but apt-get ran')"
check "test.sh installs the tests' needs too: Wine for i386, both MinGW compilers, GoogleTest" 4 \
  "$(tools/install-deps.sh --list tests | grep -cxE 'wine32:i386|g\+\+-mingw-w64-(i686|x86-64)|libgtest-dev')"

[ "$failures" -eq 0 ] || { echo "pkg: $failures check(s) failed"; exit 1; }
echo "pkg: all checks passed"
