#!/usr/bin/env bash
# Installs what is missing, builds the Linux tool and shows what QVR knows about the files given:
#   ./qvr.sh [--json] [PATH...]     (the repository's example image when no path is given)
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"

"$root/tools/install-deps.sh" >&2

# Configure and build quietly; the log is shown only when something fails.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! (cd "$root" && cmake --preset native && cmake --build --preset native --target qvr) \
    >"$log" 2>&1; then
  cat "$log" >&2
  echo "qvr.sh: the build failed" >&2
  exit 1
fi

if [ $# -eq 0 ] || { [ $# -eq 1 ] && [ "$1" = --json ]; }; then
  set -- "$@" "$root/app/example/sample.png"
fi
exec "$root/build/native/bin/qvr" "$@"
