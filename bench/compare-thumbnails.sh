#!/usr/bin/env bash
# Thumbnails of every corpus file by two builds of kelvo-thumbnailer, compared pixel by
# pixel: a change meant to make thumbnails faster must leave them as they were. Prints one
# line per file that differs by more than 1/255 in any channel (or that only one build
# could thumbnail) and exits 1 if there is any.
#
#   bench/compare-thumbnails.sh BEFORE_THUMBNAILER AFTER_THUMBNAILER [SIZE]   (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
before=$1 after=$2 size=${3:-256}
corpus=${KELVO_CORPUS_DIR:-../shared/corpus}
command -v compare >/dev/null || { echo "compare-thumbnails: needs imagemagick" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=0 compared=0 differing=0 worst=0
while IFS= read -r -d '' file; do
  files=$((files + 1))
  a="$work/a.png" b="$work/b.png"
  rm -f "$a" "$b"
  "$before" -s "$size" "$file" "$a" 2>/dev/null || true
  "$after" -s "$size" "$file" "$b" 2>/dev/null || true
  if [ ! -f "$a" ] && [ ! -f "$b" ]; then continue; fi
  if [ ! -f "$a" ] || [ ! -f "$b" ]; then
    echo "only one build made a thumbnail: $file"
    differing=$((differing + 1))
    continue
  fi
  compared=$((compared + 1))
  # Peak absolute error over all channels, alpha included, in 8-bit steps.
  # (compare exits 1 when the images differ at all, which is no failure here.)
  peak=$({ compare -metric PAE -depth 8 "$a" "$b" null: 2>&1 || true; } | sed -n 's/.*(\(.*\)).*/\1/p')
  steps=$(awk -v p="${peak:-1}" 'BEGIN { printf "%d", p * 255 + 0.5 }')
  [ "$steps" -gt "$worst" ] && worst=$steps
  if [ "$steps" -gt 1 ]; then
    echo "differs by $steps/255: $file"
    differing=$((differing + 1))
  fi
done < <(find "$corpus" -type f ! -name '*.md' -print0 | sort -z)
echo "compare-thumbnails: $files files, $compared thumbnails compared, largest difference" \
  "$worst/255, $differing beyond 1/255"
[ "$differing" -eq 0 ]
