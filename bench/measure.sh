#!/usr/bin/env bash
# Measures the running saver as a user's desktop would see it: starts a private Xvfb
# (1920x1080x24, 96 DPI, black root), runs the real build/bin/digitmosaic "/s" in it through
# digitmosaic_probe and prints CPU, key-to-exit, start-to-first-cells and resident memory.
# Usage: bench/measure.sh [build directory, default build]. Exits non-zero only when it
# cannot measure; missed targets are reported, not failed.
set -euo pipefail

build=${1:-build}
saver=$build/bin/digitmosaic
probe=$build/bin/digitmosaic_probe
for program in "$saver" "$probe"; do
    [[ -x $program ]] || { echo "measure.sh: $program not built" >&2; exit 2; }
done

displayfile=$(mktemp)
xvfb=
cleanup() {
    if [[ -n $xvfb ]]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
    rm -f "$displayfile"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1920x1080x24 -dpi 96 -br -nolisten tcp 3>"$displayfile" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do
    [[ -s $displayfile ]] && break
    sleep 0.1
done
display=$(head -n1 "$displayfile")
[[ -n $display ]] || { echo "measure.sh: Xvfb did not start" >&2; exit 2; }

DISPLAY=:$display "$probe" "$saver"
