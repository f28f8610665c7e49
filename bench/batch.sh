#!/usr/bin/env bash
# Times `qvr -r --json` over a tree of 8,000 images in 40 folders against the two reference loops
# of ../shared/bench (stat + open + read + close, one file after another, and the same on 64
# threads), and against `file`, `identify -ping` and `exiftool -fast2`, in one run: cold (the page
# cache dropped before every run, as root) and warm, medians of runs that take turns. Then qvr over
# 200,000 entries (hard links into the same tree) against the 8,000: time per file and peak memory;
# and the peak memory of one folder of 1,000,000 entries. A benchmark, not a test: it prints ratios, whatever the machine.
#   bench/batch.sh [ROUNDS]     (builds what it needs; the trees are kept in build/bench-tree*)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rounds=${1:-7}
shared="$root/../shared/bench"
work="$root/build/bench"
tree="$root/build/bench-tree"
big="$root/build/bench-tree-200k"
mkdir -p "$work"
cd "$root"

"$root/tools/install-deps.sh" bench >&2
if [ ! -x build/native/bin/qvr ]; then
  echo "building qvr..." >&2
  cmake --preset native >/dev/null
  cmake --build --preset native --target qvr >/dev/null
fi
qvr="$root/build/native/bin/qvr"
cc -O2 -o "$work/floor_seq" "$shared/floor_seq.c"
cc -O2 -pthread -o "$work/floor_threads" "$shared/floor_threads.c"
cc -O2 -o "$work/bench_helper" bench/bench_helper.c

# The images of bench/corpus.sh (2,000 each of BMP, GIF, PNG and JPEG), copied into 40
# folders of 200, the formats mixed, so that every file has an inode of its own.
if [ ! -f "$tree/.done" ]; then
  bench/corpus.sh
  echo "copying 8,000 images into 40 folders..." >&2
  rm -rf "$tree"
  i=0
  while read -r file; do
    folder=$(printf 'f%02d' $((i % 40)))
    mkdir -p "$tree/$folder"
    cp "build/bench-corpus/$file" "$tree/$folder/$(printf '%05d' "$i")-${file##*/}"
    i=$((i + 1))
  done < <(cd build/bench-corpus && find . -type f -name 'img*' | sort)
  touch "$tree/.done"
fi
# 200,000 entries: 1,000 folders of 200 hard links to the files of the tree.
if [ ! -f "$big/.done" ]; then
  echo "linking 200,000 entries into 1,000 folders..." >&2
  rm -rf "$big"
  for ((copy = 0; copy < 25; copy++)); do
    for folder in "$tree"/f*; do
      target="$big/$(printf 'c%02d' "$copy")-${folder##*/}"
      mkdir -p "$target"
      ln "$folder"/* "$target"/
    done
  done
  touch "$big/.done"
fi
list="$work/tree-files.txt"
(cd "$tree" && find . -type f -name '*-img*' | sort) >"$list"
count=$(wc -l <"$list")

cold=0
if [ "$(id -u)" -eq 0 ] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
  cold=1
else
  echo "cannot drop the page cache here (needs root): warm runs only" >&2
fi

# Each command once, from inside the tree, the files given as arguments through one xargs.
run() { # name
  case $1 in
    seq) xargs -s 1048576 -d '\n' -a "$list" "$work/floor_seq" ;;
    threads64) xargs -s 1048576 -d '\n' -a "$list" "$work/floor_threads" 64 ;;
    qvr) "$qvr" -r --json . ;;
    qvr-j1) "$qvr" -r -j1 --json . ;;
    file) xargs -s 1048576 -d '\n' -a "$list" file ;;
    identify) xargs -s 1048576 -d '\n' -a "$list" identify -ping ;;
    exiftool) xargs -s 1048576 -d '\n' -a "$list" exiftool -fast2 -q -q ;;
  esac >/dev/null 2>&1
}
declare -A times
measure() { # cold|warm rounds name...
  local mode=$1 n=$2 name start
  shift 2
  for ((r = 0; r < n; r++)); do
    for name in "$@"; do
      [ "$mode" = cold ] && { sync; echo 3 >/proc/sys/vm/drop_caches; }
      start=$(date +%s%N)
      run "$name"
      times[$mode-$name]+="$((($(date +%s%N) - start) / 1000)) "
    done
  done
}
median() { tr ' ' '\n' <<<"${times[$1]}" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cd "$tree"
echo "timing $count files in $(find . -mindepth 1 -type d | wc -l) folders, $rounds rounds..." >&2
if [ $cold = 1 ]; then
  measure cold "$rounds" seq threads64 qvr qvr-j1
  measure cold 3 file identify exiftool
fi
run qvr # warm the cache
measure warm "$rounds" seq threads64 qvr qvr-j1
measure warm 3 file identify exiftool

printf '%-22s %12s %12s %10s\n' "" "median" "per file" "vs seq"
for mode in cold warm; do
  [ $mode = cold ] && [ $cold = 0 ] && continue
  seq=$(median "$mode-seq")
  for name in seq threads64 qvr qvr-j1 file identify exiftool; do
    t=$(median "$mode-$name")
    awk -v n="$mode $name" -v t="$t" -v s="$seq" -v c="$count" \
      'BEGIN { printf "%-22s %9.1f ms %9.2f us %9.2fx\n", n, t / 1000, t / c, t / s }'
  done
done
ratio() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.2f", a / b }'; }
echo
[ $cold = 1 ] && echo "cold: qvr -r $(ratio cold-qvr cold-seq)x the sequential loop (goal <= 0.35)," \
  "$(ratio cold-qvr cold-threads64)x the loop on 64 threads (goal <= 1.3)"
echo "warm: qvr -r $(ratio warm-qvr warm-seq)x the sequential loop (goal <= 1.0)"
echo "qvr -r is $(ratio warm-file warm-qvr)x faster than file, $(ratio warm-identify warm-qvr)x than identify -ping," \
  "$(ratio warm-exiftool warm-qvr)x than exiftool -fast2 (warm)"

# Scale: the same work over 200,000 entries, warm; time per file and the peak resident set.
cd "$big"
bigcount=$(find . -type f ! -name .done | wc -l)
run qvr
for ((r = 0; r < 3; r++)); do
  start=$(date +%s%N)
  run qvr
  times[big]+="$((($(date +%s%N) - start) / 1000)) "
done
rss_small=$(cd "$tree" && "$work/bench_helper" rss "$qvr" -r --json . | tail -1)
rss_big=$("$work/bench_helper" rss "$qvr" -r --json . | tail -1)
awk -v b="$(median big)" -v bc="$bigcount" -v s="$(median warm-qvr)" -v sc="$count" -v rs="$rss_small" -v rb="$rss_big" \
  'BEGIN { printf "%d entries: %.2f us per file against %.2f for %d (%.2fx, goal <= 1.2); peak memory %.1f MiB against %.1f MiB (goal <= 16)\n",
           bc, b / bc, s / sc, sc, (b / bc) / (s / sc), rb / 1024, rs / 1024 }'

# One folder of 1,000,000 entries with 12-byte names (made once, kept in build/): the walk holds its
# names whole, compactly; the peak resident set against the goal.
huge="$root/build/bench-folder-1m"
if [ ! -f "$huge/.done" ]; then
  echo "making a folder of 1,000,000 entries (about a minute and a half)..." >&2
  rm -rf "$huge"
  mkdir -p "$huge"
  (cd "$huge" && seq -f '%012.0f' 0 999999 | xargs touch)
  touch "$huge/.done"
fi
rss_huge=$(cd "$huge" && "$work/bench_helper" rss "$qvr" -r --json . | tail -1)
awk -v r="$rss_huge" 'BEGIN { printf "one folder of 1,000,000 entries: peak memory %.1f MiB (goal <= 32)\n", r / 1024 }'
