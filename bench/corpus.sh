#!/usr/bin/env bash
# Makes the benchmark images once: 2,000 each of BMP, GIF, PNG and JPEG in build/bench-corpus,
# sizes and content varied so that headers and file sizes are. Quick when they are there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$root/build/bench-corpus"
per_format=2000
corpus_version="4 $per_format"

# One ImageMagick process per format writes every image of that format (+adjoin: one file each).
make_format() {
  local ext="$1" source="$2" args=() i w h
  shift 2
  for ((i = 0; i < per_format; i++)); do
    w=$((8 + (i * 37) % 193))
    h=$((8 + (i * 53) % 151))
    args+=(-size "${w}x${h}" "$source")
  done
  convert "${args[@]}" "$@" +adjoin -scene 0 "$corpus/$ext/img%04d.$ext"
}

if [ "$(cat "$corpus/.version" 2>/dev/null)" != "$corpus_version" ]; then
  echo "building the corpus ($((4 * per_format)) images) in $corpus..." >&2
  rm -rf "$corpus"
  mkdir -p "$corpus"/{bmp,gif,png,jpg}
  start=$SECONDS
  # One thread each: ImageMagick's worker threads only spin on such small images. Dithering
  # while reducing colours costs far more than everything else together.
  export MAGICK_THREAD_LIMIT=1
  make_format bmp "gradient:navy-orange" -type TrueColor &
  make_format gif "gradient:crimson-gold" -dither None -colors 64
  wait
  make_format png "gradient:white-teal" -dither None -colors 16 &
  make_format jpg "plasma:fractal" -quality 85
  wait
  echo "$corpus_version" >"$corpus/.version"
  echo "corpus built in $((SECONDS - start)) s" >&2
fi
