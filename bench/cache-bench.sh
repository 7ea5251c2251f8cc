#!/usr/bin/env bash
# Whole-library thumbnailing: files per second of kelvo-cache with one and two workers, of a
# second run over the unchanged tree, of kelvo.dask on a two-worker local cluster, and of
# GNOME's thumbnail factory asking our thumbnailer for one file at a time, all on the same
# generated tree of small and medium corpus models (STL, 3MF, VOX), at 256 px.
#
#   bench/cache-bench.sh [BUILD_DIR] [FILES]     (default build/release, 2000 files)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/release}" && pwd)
files=${2:-2000}
corpus=${KELVO_CORPUS_DIR:-../shared/corpus}
cache="$build/extensions/KelvoCache/kelvo-cache"
work=$(mktemp -d /tmp/kelvo-cache-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The tree: corpus models of up to 400 KB that thumbnail, copied round-robin into folders of
# 100, each copy its own file (the cache names thumbnails by path).
models=()
for f in "$corpus"/stl/*.stl "$corpus"/stl/*.STL "$corpus"/3mf/*.3mf "$corpus"/vox/*.vox; do
  size=$(stat -c %s "$f")
  [ "$size" -gt 1000 ] && [ "$size" -lt 400000 ] || continue
  "$build/extensions/KelvoThumbnail/kelvo-thumbnailer" -s 64 "$f" "$work/probe.png" 2>/dev/null || continue
  models+=("$f")
done
rm -f "$work/probe.png"
for ((i = 0; i < files; i++)); do
  src=${models[i % ${#models[@]}]}
  dir="$work/tree/$((i / 100))"
  mkdir -p "$dir"
  cp "$src" "$dir/$i-$(basename "$src")"
done
echo "tree: $files files from ${#models[@]} corpus models, $(du -sh "$work/tree" | cut -f1)"

rate() {  # NAME SECONDS
  awk -v n="$files" -v s="$2" -v name="$1" 'BEGIN { printf "  %-38s %7.2f s  %7.1f files/s\n", name, s, n / s }'
}
seconds() { local start=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; echo "$(date +%s.%N) - $start" | bc; }

printf '%s\n' "results (whole runs, wall clock):"
for jobs in 1 2; do
  rm -rf "$work/cache"
  rate "kelvo-cache --jobs $jobs" "$(XDG_CACHE_HOME=$work/cache seconds "$cache" -q --jobs "$jobs" "$work/tree")"
done
rate "kelvo-cache again, nothing changed" "$(XDG_CACHE_HOME=$work/cache seconds "$cache" -q "$work/tree")"

if /usr/bin/python3 -c 'import distributed' 2>/dev/null; then
  cat > "$work/dask_run.py" <<'EOF'
import glob, sys, time
import distributed, kelvo.dask

if __name__ == "__main__":  # the workers are started as new interpreters that import this
    paths = sorted(glob.glob(sys.argv[1] + "/*/*"))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as c:
        with distributed.Client(c) as client:
            client.run(lambda: __import__("kelvo"))  # imported before the clock starts
            start = time.monotonic()
            kelvo.dask.thumbnail_many(paths, sys.argv[2], client=client)
            print(time.monotonic() - start)
EOF
  secs=$(PYTHONPATH="$build/python" /usr/bin/python3 "$work/dask_run.py" "$work/tree" "$work/dask-out" 2>/dev/null | tail -1)
  rate "kelvo.dask, 2 local workers" "$secs"
fi

# GNOME's factory runs thumbnailers in a bubblewrap sandbox that sees /usr only, so the build
# is installed into a temporary prefix below /usr/local/lib (as root), found through
# XDG_DATA_DIRS; without root, an installed kelvo is used if there is one.
factory="$build/tests/desktop/kelvo-factory-test"
prefix=""
if [ -x "$factory" ] && [ "$(id -u)" = 0 ] && mkdir -p /usr/local/lib &&
   prefix=$(mktemp -d /usr/local/lib/kelvo-bench.XXXXXX) &&
   chmod 755 "$prefix" && cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1; then
  trap 'rm -rf "$work" "$prefix"' EXIT
  rm -rf "$work/gnome-cache"
  rate "GNOME's factory, one file at a time" \
    "$(XDG_DATA_DIRS="$prefix/share:/usr/share" PATH="$prefix/bin:$PATH" \
       XDG_CACHE_HOME=$work/gnome-cache seconds "$factory" large "$work"/tree/*/*)"
  echo "    ($(find "$work/gnome-cache/thumbnails/large" -name '*.png' 2>/dev/null | wc -l) of $files thumbnails made)"
elif [ -x "$factory" ] && [ -f /usr/local/share/thumbnailers/kelvo.thumbnailer -o -f /usr/share/thumbnailers/kelvo.thumbnailer ]; then
  rm -rf "$work/gnome-cache"
  rate "GNOME's factory, one file at a time" \
    "$(XDG_CACHE_HOME=$work/gnome-cache seconds "$factory" large "$work"/tree/*/*)"
else
  echo "  (GNOME's factory skipped: no root to install kelvo for it, and none is installed)"
fi
