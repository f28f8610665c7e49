#!/usr/bin/env bash
# Installs what is missing, builds every target and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh tests

for preset in native native-asan native-tsan win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

ctest --preset native
ctest --preset native-asan
# What probes side by side (the batch, the walk, the platform's shared caches), under ThreadSanitizer.
ctest --preset native-tsan

# The README's main command, on the example image.
./qvr.sh --json >/dev/null

# A short fuzz run over the probe (clang, libFuzzer, ASan and UBSan; about 30 s).
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

# End to end: the release programs under 32-bit Wine, the dialog's cases and the command-line
# comparison side by side, each on a private Xvfb display and Wine prefix (about two and a half
# minutes); each test's first line names the build it ran. The win64 build above stands in for them
# on a machine that cannot run 32-bit programs.
ctest --preset win32

# The release packages, checked as a user gets them.
tests/pkg/check.sh
