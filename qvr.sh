#!/usr/bin/env bash
# Installs what the Linux tool needs and nothing more, builds it and shows what QVR knows about
# the files given:
#   ./qvr.sh [--json] [-r] [-j N] [PATH...]   (the example image when no path is given)
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

"$root/tools/install-deps.sh" qvr >&2

# Configure once (ninja configures again by itself when a CMakeLists.txt changes) and build quietly;
# the log is shown only when something fails.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! (cd "$root" && { [ -f build/qvr/build.ninja ] || cmake --preset qvr; } &&
      cmake --build --preset qvr) >"$log" 2>&1; then
  cat "$log" >&2
  echo "qvr.sh: the build failed" >&2
  exit 1
fi

if [ $# -eq 0 ] || { [ $# -eq 1 ] && [ "$1" = --json ]; }; then
  set -- "$@" "$root/app/example/sample.png"
fi
exec "$root/build/qvr/bin/qvr" "$@"
