#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh

for preset in native native-asan win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset native-asan

# The README's main command, on the example image.
./qvr.sh --json >/dev/null

# A short fuzz run over the probe (clang, libFuzzer, ASan and UBSan; about 30 s).
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

# End to end: the Windows program under wine64 on a private Xvfb display (about a minute).
ctest --preset win64

# The release packages, checked as a user gets them.
tests/pkg/check.sh
