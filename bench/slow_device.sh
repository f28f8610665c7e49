#!/usr/bin/env bash
# Times `qvr -r --json` on a slow device: bench/slow_fs mirrors a tree of small images and answers
# every open and read after DELAY seconds (default 0.2), many requests at once. For 100 files (one
# folder) and 1,000 (ten folders of 100), qvr at the default -j, -j 1, -j 8 and -j 64 against the
# 64-thread reference loop of ../shared/bench on the same mount; medians of ROUNDS (default 3) runs
# that take turns, and how many requests the device held at once. Fails if qvr's output differs
# between -j. As root (it mounts); the mounts are undone on every exit.
#   bench/slow_device.sh [DELAY] [ROUNDS]
# -j 1 over 1,000 files takes 1,000 x the time of a probe (several minutes at 0.2 s) and is left
# out unless J1_ALL=1; over 100 files it runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
delay=${1:-0.2}
rounds=${2:-3}
work="$root/build/slow-device"
if [ "$(id -u)" -ne 0 ] || [ ! -c /dev/fuse ]; then
  echo "$(basename "$0"): mounts a FUSE file system: run it as root, on a machine with /dev/fuse" >&2
  exit 1
fi
mkdir -p "$work"
cd "$root"

"$root/tools/install-deps.sh" bench >&2
echo "building qvr..." >&2
cmake --preset native >/dev/null
cmake --build --preset native --target qvr >/dev/null
qvr="$root/build/native/bin/qvr"
cc -O2 -Wall -Wextra -Werror $(pkg-config --cflags fuse3) -o "$work/slow_fs" bench/slow_fs.c $(pkg-config --libs fuse3)
cc -O2 -pthread -o "$work/floor_threads" "$root/../shared/bench/floor_threads.c"

# Two trees of bench/corpus.sh's images, the four formats taking turns.
bench/corpus.sh
make_tree() { # files folders
  local tree="$work/src$1" i=0 file folder
  [ -f "$tree.done" ] && return
  rm -rf "$tree"
  while read -r file; do
    folder=$tree
    [ "$2" -gt 1 ] && folder=$(printf '%s/d%02d' "$tree" $((i % $2)))
    mkdir -p "$folder"
    cp "build/bench-corpus/$file" "$folder/$(printf '%04d' "$i")-${file##*/}"
    i=$((i + 1))
  done < <(cd build/bench-corpus && paste -d '\n' <(ls -d bmp/*) <(ls -d gif/*) <(ls -d png/*) <(ls -d jpg/*) | head -n "$1")
  touch "$tree.done"
}
make_tree 100 1
make_tree 1000 10

mounts=$(mktemp -d /tmp/slow-device.XXXXXX)
cleanup() {
  for m in "$mounts"/*; do
    [ -d "$m" ] || continue
    if mountpoint -q "$m"; then umount "$m" || umount -l "$m"; fi
    rmdir "$m" || true
  done
  rmdir "$mounts" || true
}
child=""
trap cleanup EXIT
trap '[ -z "$child" ] || { kill "$child"; wait "$child"; } 2>/dev/null; exit 130' INT TERM HUP

log="$work/requests.log"
declare -A times peaks means
# One timed run; the device's log gives the most requests it held at once and how many on average.
run() { # label command...
  local label=$1 start wall
  shift
  : >"$log"
  start=$(date +%s%N)
  "$@" >"$work/out" 2>/dev/null & # waited for, so that a stop is not held up by a long run
  child=$!
  wait "$child" || { echo "failed: $*" >&2; exit 1; }
  child=""
  wall=$((($(date +%s%N) - start) / 1000))
  times[$label]+="$wall "
  read -r peak mean < <(awk '{ print $1, 1; print $2, -1 }' "$log" | sort -n -k1,1 -k2,2 |
    awk -v wall=$wall '{ busy += n * ($1 - last); last = $1; n += $2; if (n > p) p = n }
                       END { printf "%d %.1f\n", p, busy / wall }')
  peaks[$label]+="$peak "
  means[$label]+="$mean "
  case $label in *" qvr") cp "$log" "$work/timeline${label% qvr}" ;; esac
}
# Requests held at once, on average, in each slice of DELAY seconds from the first request on.
timeline() { # log
  awk -v d="$(awk -v d="$delay" 'BEGIN { print d * 1e6 }')" '
    { s[NR] = $1; e[NR] = $2; if (NR == 1 || $1 < t0) t0 = $1; if ($2 > t1) t1 = $2 }
    END {
      for (i = 1; i <= NR; i++)
        for (k = int((s[i] - t0) / d); k * d < e[i] - t0; k++) {
          a = s[i] - t0 > k * d ? s[i] - t0 : k * d; b = e[i] - t0 < (k + 1) * d ? e[i] - t0 : (k + 1) * d
          m[k] += (b - a) / d
        }
      for (k = 0; k * d < t1 - t0; k++) printf "%d ", m[k] + 0.5
      print ""
    }' "$1"
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

table=()
for files in 100 1000; do
  mount="$mounts/$files"
  mkdir -p "$mount"
  "$work/slow_fs" --delay="$delay" --log="$log" "$work/src$files" "$mount"
  list="$work/files$files.txt"
  (cd "$work/src$files" && find . -type f | sort | sed "s|^\.|$mount|") >"$list"
  jobs=(default 1 8 64)
  if [ "$files" = 1000 ] && [ "${J1_ALL:-0}" != 1 ]; then
    jobs=(default 8 64)
    echo "-j 1 over 1,000 files left out (J1_ALL=1 runs it)" >&2
  fi
  # Once untimed: the device starts its threads and keeps them.
  xargs -s 1048576 -d '\n' -a "$list" "$work/floor_threads" 256 >/dev/null
  echo "timing $files files at $delay s per open and read, $rounds rounds..." >&2
  rm -f "$work/expected$files"
  for ((r = 0; r < rounds; r++)); do
    for j in "${jobs[@]}"; do
      if [ "$j" = default ]; then run "$files qvr" "$qvr" -r --json "$mount"; else run "$files qvr-j$j" "$qvr" -r -j "$j" --json "$mount"; fi
      if [ ! -f "$work/expected$files" ]; then
        mv "$work/out" "$work/expected$files"
      elif ! cmp -s "$work/out" "$work/expected$files"; then
        echo "qvr -j $j printed something else than the first run over $files files:" >&2
        diff "$work/expected$files" "$work/out" | head -20 >&2
        exit 1
      fi
    done
    run "$files loop" xargs -s 1048576 -d '\n' -a "$list" "$work/floor_threads" 64
  done
  rm -f "$work/expected$files"
  umount "$mount"
  floor=$(median "${times[$files loop]}")
  for name in qvr "${jobs[@]/#/qvr-j}" loop; do
    case $name in
      qvr-jdefault) continue ;;
      qvr) label="qvr -r" ;;
      qvr-j*) label="qvr -r -j ${name#qvr-j}" ;;
      loop) label="64-thread loop" ;;
    esac
    key="$files $name"
    t=$(median "${times[$key]}")
    table+=("$(awk -v f="$files" -v n="$label" -v t="$t" -v l="$floor" -v p="$(median "${peaks[$key]}")" -v m="$(median "${means[$key]}")" \
      'BEGIN { printf "%6d  %-16s %9.2f s %8.2fx %8d %8.1f", f, n, t / 1e6, t / l, p, m }')")
  done
done

echo "$delay s per open and read, medians of $rounds runs; requests the device held at once, at most and on average:"
printf '%6s  %-16s %11s %9s %8s %8s\n' files command time "vs loop" peak mean
printf '%s\n' "${table[@]}"
echo
for files in 100 1000; do
  echo "default qvr -r over $files files (the last run), requests held at once in each $delay s:"
  timeline "$work/timeline$files"
done
echo
for files in 100 1000; do
  best="" fastest=""
  for key in "${!times[@]}"; do
    case $key in "$files qvr-j"*)
      t=$(median "${times[$key]}")
      if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t fastest=${key#"$files qvr"}; fi ;;
    esac
  done
  awk -v f="$files" -v q="$(median "${times[$files qvr]}")" -v l="$(median "${times[$files loop]}")" -v b="$best" -v j="$fastest" \
    'BEGIN { printf "%d files: default qvr -r %.2fx the 64-thread loop (goal <= 1.5), %.3fx the fastest -j compared, %s (goal <= 1.0)\n", f, q / l, q / b, j }'
  peak=$(median "${peaks[$files loop]}")
  [ "$peak" -ge 64 ] || echo "the device held only $peak requests at once for the 64-thread loop: it limits these figures" >&2
done
for key in "${!times[@]}"; do echo "$key: ${times[$key]}"; done | sort -n >"$work/times.txt"
