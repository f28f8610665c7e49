#!/usr/bin/env bash
# Times `qvr --json` over a corpus of 8,000 small images against `identify -ping`, `file`, a
# bare open-read-close loop and that loop opening each file as qvr does (race-free), in one run,
# and prints each command's median as a ratio to the loop's, with peak memory and qvr's system
# calls per file. A benchmark, not a test: numbers depend on the machine.
#   bench/run.sh            (builds what it needs; the corpus is cached in build/bench-corpus)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$root/build/bench-corpus"
work="$root/build/bench"

mkdir -p "$work"
cd "$root"
tools/install-deps.sh bench >&2
if [ ! -x build/native/bin/qvr ]; then
  echo "building qvr..." >&2
  cmake --preset native >/dev/null
  cmake --build --preset native --target qvr >/dev/null
fi
cc -O2 -o "$work/bench_helper" bench/bench_helper.c
bench/corpus.sh
list="$work/files.txt"
(cd "$corpus" && find . -type f -name 'img*' | sort) >"$list"
count=$(wc -l <"$list")
qvr="$root/build/native/bin/qvr"
helper="$work/bench_helper"

# Every command gets all the files at once, through the same xargs (one process: up to 1 MB of
# arguments), from inside the corpus.
commands=(
  "loop|$helper loop"
  "qvr --json|$qvr --json"
  "race-free open|$helper racefree"
  "file|file"
  "identify -ping|identify -ping"
)
cd "$corpus"
hyperfine_args=()
for entry in "${commands[@]}"; do
  hyperfine_args+=(-n "${entry%%|*}" "xargs -s 1048576 -d '\\n' -a '$list' ${entry#*|}")
done
echo "timing $count files..." >&2
hyperfine --style none --warmup 2 --runs 15 --export-json "$work/times.json" \
  "${hyperfine_args[@]}" >/dev/null

peak() { # peak resident set of one command over all files, KiB
  mapfile -t files <"$list"
  "$helper" rss "$@" "${files[@]}"
}

# The median times from hyperfine's JSON, without needing jq.
mapfile -t means < <(grep -o '"median": *[0-9.e+-]*' "$work/times.json" | sed 's/.*: *//')
loop_mean=${means[0]}
printf '%-16s %10s %10s %10s %12s\n' "command" "time" "per file" "vs loop" "peak memory"
i=0
for entry in "${commands[@]}"; do
  name=${entry%%|*}
  read -r -a cmd <<<"${entry#*|}"
  rss=$(peak "${cmd[@]}" 2>/dev/null | tail -1)
  awk -v n="$name" -v t="${means[$i]}" -v l="$loop_mean" -v r="$rss" -v c="$count" \
    'BEGIN { printf "%-16s %8.1f ms %7.1f us %9.2fx %9.2f MiB\n", n, t * 1000, t * 1e6 / c, t / l, r / 1024 }'
  i=$((i + 1))
done
awk -v q="${means[1]}" -v l="$loop_mean" -v r="${means[2]}" -v id="${means[4]}" \
  'BEGIN { printf "\nqvr: %.2fx the loop (goal <= 1.7); opening only the checked file, alone: %.2fx;", q / l, r / l
           printf " identify -ping is %.1fx slower (goal >= 20)\n", id / q }'
if command -v strace >/dev/null; then
  calls() { # system calls of one run over all files
    strace -f -c -o "$work/strace.txt" xargs -s 1048576 -d '\n' -a "$list" "$@" >/dev/null
    awk '$NF == "total" { print $4 }' "$work/strace.txt"
  }
  awk -v q="$(calls "$qvr" --json)" -v l="$(calls "$helper" loop)" -v c="$count" \
    'BEGIN { printf "system calls per file: qvr %.2f, loop %.2f (start-up included)\n", q / c, l / c }'
fi
