#!/usr/bin/env bash
# Makes the release packages with cpack and checks them as a user meets them: what the Windows zip
# holds, and what the Debian package installs and whether it runs. Needs the native and win32 builds
# (test.sh makes them first). Exit status 0 when every check passed.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD
native=$src/build/native
win32=$src/build/win32

# The one place that names the version; every artefact must agree with it.
version=$(sed -n 's/^project(qvr VERSION \([0-9]*\)\.\([0-9]*\)[.0-9]* .*/\1.\2/p' CMakeLists.txt)
[ -n "$version" ] || { echo "pkg: no version in CMakeLists.txt" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
pass() { echo "ok    $1"; }
fail() { echo "FAIL  $1${2:+: $2}"; failures=$((failures + 1)); }
expect_eq() { # description, expected, actual
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1" "expected [$2], got [$3]"; fi
}
expect_match() { # description, extended regex, text
  if grep -Eq -- "$2" <<<"$3"; then pass "$1"; else fail "$1" "[$3] does not match /$2/"; fi
}

# An unsigned little-endian field of a file: file, offset, byte count.
le() { od -An -tu"$3" -j "$2" -N "$3" "$1" | tr -d ' '; }

for dir in "$native" "$win32"; do
  [ -f "$dir/CPackConfig.cmake" ] || { echo "pkg: $dir is not configured (run test.sh)" >&2; exit 1; }
done

echo "== Windows zip"
zip=$win32/qvr-$version-win32.zip
rm -f "$zip"
(cd "$win32" && cpack -G ZIP >"$scratch/cpack-win32.log" 2>&1) || cat "$scratch/cpack-win32.log"
if [ ! -f "$zip" ]; then
  fail "cpack made $(basename "$zip")"
else
  pass "cpack made $(basename "$zip")"
  expect_eq "zip holds qvr.exe, qvrc.exe and readme.txt at its top" $'qvr.exe\nqvrc.exe\nreadme.txt' \
    "$(cmake -E tar tf "$zip" | sort)"
  (cd "$win32" && sha256sum --quiet -c "$(basename "$zip").sha256") && pass "zip checksum file" \
    || fail "zip checksum file"
  mkdir "$scratch/zip"
  (cd "$scratch/zip" && cmake -E tar xf "$zip")
  # name, subsystem number and file(1) word, size limit in bytes
  for exe_row in "qvr.exe 2 GUI 65536" "qvrc.exe 3 console 131072"; do
    read -r name subsystem kind limit <<<"$exe_row"
    exe=$scratch/zip/$name
    [ -f "$exe" ] || { fail "zip holds $name"; continue; }
    cmp -s "$exe" "$win32/bin/$name" && pass "zip's $name is build/win32/bin/$name" \
      || fail "zip's $name is build/win32/bin/$name"
    pe=$(le "$exe" 60 4)
    expect_eq "$name: PE signature" "17744" "$(le "$exe" "$pe" 4)"
    expect_eq "$name: machine i386 (0x14c)" "332" "$(le "$exe" $((pe + 4)) 2)"
    expect_eq "$name: PE32 optional header (0x10b)" "267" "$(le "$exe" $((pe + 24)) 2)"
    expect_eq "$name: $kind subsystem ($subsystem)" "$subsystem" "$(le "$exe" $((pe + 24 + 68)) 2)"
    expect_eq "$name: stripped (no COFF symbols)" "0" "$(le "$exe" $((pe + 12)) 4)"
    expect_eq "$name: no debug sections" "0" \
      "$(i686-w64-mingw32-objdump -h "$exe" | grep -c '\.debug' || true)"
    expect_match "file(1) sees a 32-bit $kind program" "^PE32 executable \\($kind\\) Intel 80386" "$(file -b "$exe")"
    size=$(stat -c %s "$exe")
    [ "$size" -le "$limit" ] && pass "$name: $size bytes, at most $limit" || fail "$name: $size bytes, more than $limit"
    # On a clean Windows only the system's own DLLs are there.
    dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    foreign=$(grep -Ev '^(kernel32|user32|shell32|gdi32|advapi32|comctl32|comdlg32|ole32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' \
      <<<"$dlls" || true)
    expect_eq "$name imports only system DLLs ($(echo $dlls))" "" "$foreign"
  done
  readme=$scratch/zip/readme.txt
  if [ -f "$readme" ]; then
    expect_eq "readme.txt starts with a UTF-8 byte order mark" "efbbbf" "$(head -c3 "$readme" | od -An -tx1 | tr -d ' ')"
    iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null 2>&1 && pass "readme.txt is valid UTF-8" || fail "readme.txt is valid UTF-8"
    expect_eq "readme.txt: every line ends in CRLF" "0" "$(grep -cv $'\r$' "$readme" || true)"
    text=$(tail -c +4 "$readme" | tr -d '\r')
    expect_eq "readme.txt names the version in both languages" "2" "$(grep -c "^QVR Version $version " <<<"$text")"
    for word in 使い方 "HOW TO USE" ドロップ drop qvrc.exe "BMP" "GIF" "PNG" "MNG" "JPEG" "Pixia" "RIF"; do
      grep -q -- "$word" <<<"$text" || fail "readme.txt mentions $word"
    done
    pass "readme.txt covers usage and formats"
  else
    fail "zip holds readme.txt"
  fi
fi

echo "== Linux install"
cmake --install "$native" --prefix "$scratch/prefix" >/dev/null || true
expect_eq "cmake --install puts qvr and its manual page in place" \
  $'bin/qvr\nshare/doc/qvr/changelog.gz\nshare/man/man1/qvr.1.gz' "$(cd "$scratch/prefix" && find . -type f -printf '%P\n' | sort)"

echo "== Debian package"
arch=$(dpkg --print-architecture)
deb=$native/qvr_${version}_$arch.deb
rm -f "$deb"
(cd "$native" && cpack -G DEB >"$scratch/cpack-deb.log" 2>&1) || cat "$scratch/cpack-deb.log"
if [ ! -f "$deb" ]; then
  fail "cpack made $(basename "$deb")"
else
  pass "cpack made $(basename "$deb")"
  field() { dpkg-deb -f "$deb" "$1"; }
  expect_eq "Package" "qvr" "$(field Package)"
  expect_eq "Version" "$version" "$(field Version)"
  expect_eq "Architecture" "$arch" "$(field Architecture)"
  expect_match "Maintainer" '^[^<]+ <[^@>]+@[^>]+>$' "$(field Maintainer)"
  expect_eq "files in the package" $'-rw-r--r-- root/root ./usr/share/doc/qvr/changelog.gz\n-rw-r--r-- root/root ./usr/share/man/man1/qvr.1.gz\n-rwxr-xr-x root/root ./usr/bin/qvr' \
    "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $2, $6}' | sort)"

  root=$scratch/root
  dpkg -x "$deb" "$root"
  qvr=$root/usr/bin/qvr
  expect_match "installed qvr is a stripped ELF program" 'ELF 64-bit.*, stripped$' "$(file -b "$qvr")"

  # Depends must name the package of every library the program links, each with a version.
  depends=$(field Depends)
  expect_match "Depends is declared with versions" '^[a-z0-9.+-]+ \(>= [^)]+\)(, [a-z0-9.+-]+ \(>= [^)]+\))*$' "$depends"
  for lib in $(objdump -p "$qvr" | awk '$1 == "NEEDED" {print $2}'); do
    # "name => path" for most libraries; the dynamic loader is listed by its path alone.
    path=$(ldd "$qvr" | awk -v l="$lib" '$1 == l {print $3; exit} $1 ~ ("/" l "$") {print $1; exit}')
    pkg=
    [ -n "$path" ] && for p in "$path" "$(readlink -f "$path")" "/usr$path"; do
      pkg=$(dpkg -S "$p" 2>/dev/null | head -1 | cut -d: -f1) && break
    done
    if [ -n "$pkg" ] && tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -qxF -- "$pkg"; then
      pass "Depends covers $lib ($pkg)"
    else
      fail "Depends covers $lib" "package [${pkg:-unknown}] not in [$depends]"
    fi
  done

  out=$("$qvr" --version 2>&1) && status=0 || status=$?
  expect_eq "qvr --version from the package" "QVR Version $version (exit 0)" "$out (exit $status)"
  # A 2 x 3 pixel, 24-bit BMP header is all the probe reads.
  bmp=$scratch/tiny.bmp
  printf 'BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x03\0\0\0\x01\0\x18\0' >"$bmp"
  head -c 40 /dev/zero >>"$bmp"
  out=$(LC_ALL=C.UTF-8 "$qvr" "$bmp" 2>&1) && status=0 || status=$?
  expect_match "qvr from the package reads a BMP" '2 × 3 Pixel' "$out"
  expect_eq "qvr exit status for a found file" "0" "$status"

  expect_match "changelog's latest entry is version $version" "^qvr \\($version\\) " \
    "$(gzip -dc "$root/usr/share/doc/qvr/changelog.gz" | head -1)"
  man=$root/usr/share/man/man1/qvr.1.gz
  expect_eq "manual page is gzip -9n (no name, no time stamp)" "08 00 00 00 00 00 02" \
    "$(od -An -tx1 -j2 -N7 "$man" | sed 's/^ //')"
  for locale in C.UTF-8 ja_JP.UTF-8; do
    locale -a 2>/dev/null | grep -qix "${locale/UTF-8/utf8}" || continue
    expect_eq "man -l renders without warnings ($locale)" "" \
      "$(LC_ALL=$locale MANWIDTH=80 man -l --warnings=all "$man" 2>&1 >/dev/null)"
  done
  page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man" 2>/dev/null)
  for section in NAME SYNOPSIS OPTIONS OUTPUT FORMATS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section" <<<"$page" || fail "manual page has a $section section"
  done
  expect_match "manual page footer names version $version" "^qvr $version " "$(tail -1 <<<"$page")"
  # The page and the program must agree on the options.
  help=$("$qvr" --help 2>&1 || true)
  help_opts=$(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u || true)
  page_opts=$(sed -n '/^OPTIONS/,/^[A-Z]/p' <<<"$page" | grep -oE -- '--[a-z][a-z-]*' | sort -u || true)
  expect_eq "options in qvr --help and in the manual page" "$help_opts" "$page_opts"
fi

echo
if [ "$failures" -ne 0 ]; then
  echo "pkg: $failures check(s) failed"
  exit 1
fi
echo "pkg: all checks passed"
