#!/usr/bin/env bash
# Every option and exit status that `qvr --help` names is documented in the manual page, the README's tables and both
# languages of readme.txt (qvrc.exe prints the same usage text).   tests/cli/options_documented.sh QVR
set -uo pipefail
usage=$("$1" --help)
cd "$(dirname "$0")/../.."
failures=0

# The cells before the description (two blanks or more) of lines that begin with blanks and the pattern $1, split at
# commas and blanks: "  -j, --jobs N   probe..." gives -j and --jobs.
cells() { grep -E "^ +$1" | sed -E 's/^ +//; s/ {2,}.*//' | tr ', ' '\n\n'; }
options() { grep -xE -- '-[A-Za-z]|--([a-z][a-z-]*)?' | sort -u; }
statuses() { grep -xE '[0-9]+' | sort -un; }
# The first cell of the README's table rows that begin with the pattern $1, its words in backquotes.
table() { grep -E "^\| *\`$1" README.md | cut -d'|' -f2 | grep -oE '`[^`]+`' | tr -d '`' | cut -d' ' -f1; }
check() { # what, words to find (one a line), words found
  local missing
  missing=$(comm -23 <(sort -u <<<"$2") <(sort -u <<<"$3") | paste -sd' ')
  if [ -z "$2" ]; then echo "FAIL  $1: nothing found in the usage text"; failures=$((failures + 1))
  elif [ -n "$missing" ]; then echo "FAIL  $1: $missing missing"; failures=$((failures + 1))
  else echo "ok    $1"; fi
}

want_options=$(cells - <<<"$usage" | options)
want_statuses=$(sed -n '/^Exit status:/,$p' <<<"$usage" | grep -oE '\b[0-9]+\b' | statuses)
echo "usage text: options $(paste -sd' ' <<<"$want_options"), statuses $(paste -sd' ' <<<"$want_statuses")"
page=$(MANWIDTH=200 man -l app/doc/qvr.1.in 2>/dev/null)
section() { sed -n "/^$1\$/,/^[A-Z]/p" <<<"$page"; }
check "manual page, OPTIONS" "$want_options" "$(section OPTIONS | grep -E '^ {7}-' | cells - | options)"
check "manual page, EXIT STATUS" "$want_statuses" "$(section 'EXIT STATUS' | grep -E '^ {7}[0-9]' | cells '[0-9]+  ' | statuses)"
check "README.md, the options table" "$want_options" "$(table - | options)"
check "README.md, the exit status table" "$want_statuses" "$(table '[0-9]' | statuses)"
for half in Japanese English; do # readme.txt: Japanese, then English after a line of dashes
  text=$(awk -v english=$([ $half = English ] && echo 1 || echo 0) '/^-----/ { n = 1 } n == english' app/doc/readme.txt.in)
  check "readme.txt ($half), options" "$want_options" "$(cells - <<<"$text" | options)"
  check "readme.txt ($half), exit statuses" "$want_statuses" "$(cells '[0-9]+  ' <<<"$text" | statuses)"
done
[ "$failures" -eq 0 ] || { echo "$failures place(s) do not document what qvr --help names"; exit 1; }
