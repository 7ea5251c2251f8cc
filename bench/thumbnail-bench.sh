#!/usr/bin/env bash
# Thumbnail time per file, start to PNG written, kelvo-thumbnailer against Debian's f3d at
# 256 px, printed as one table. f3d needs an X server, as it would for a user without our
# renderer: one Xvfb (xvfb-run) serves every f3d run, and its start-up is not counted.
#
#   bench/thumbnail-bench.sh [BUILD_DIR] [RUNS]     (default build/release, 7 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-7}
compare="$build/bench/thumbnail-compare"
thumbnailer="$build/extensions/KelvoThumbnail/kelvo-thumbnailer"
corpus=${KELVO_CORPUS_DIR:-../shared/corpus}
if command -v xvfb-run >/dev/null && command -v f3d >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$compare" "$thumbnailer" "$corpus" "$runs"
fi
echo "kelvo: f3d or xvfb-run is missing (tools/dev bench installs them); kelvo only" >&2
exec "$compare" "$thumbnailer" "$corpus" "$runs"
