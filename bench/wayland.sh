#!/usr/bin/env bash
# What the saver costs on a Wayland compositor while it paints and while no output shows it: headless
# sway (pixman renderer) with one 1920 x 1080 output, run as nobody. Each run starts the saver, and
# after a 3 s warm-up counts, over the given seconds, the CPU time of the saver's threads together
# and of sway (from /proc/PID/task/*/schedstat) and the times the saver's threads slept (voluntary
# context switches); then shows another workspace on the output (the compositor stops the saver's
# frame callbacks, as with an output powered off), waits 1 s and counts again; then shows the saver's
# workspace and times, with strace, from the call to swaymsg to the saver's first request (its
# first picture follows at the compositor's next refresh). Prints medians with their ranges.
#
# Usage: bench/wayland.sh [-n RUNS] [-s SECONDS] [-b BUILD_DIR]    (as root; default 5 runs of 10 s)
# Needs sway, swaymsg, setpriv and strace. Everything it starts is ended by its pid.
set -euo pipefail

fail() {
    echo "wayland.sh: $*" >&2
    exit 2
}

runs=5 seconds=10 build=build
while (($# > 0)); do
    case $1 in
        -n) runs=${2:?-n needs a number}; shift 2 ;;
        -s) seconds=${2:?-s needs a number}; shift 2 ;;
        -b) build=${2:?-b needs a directory}; shift 2 ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) fail "unknown option $1 (try --help)" ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $seconds =~ ^[1-9][0-9]*$ ]] || fail "-n and -s need positive numbers"
((EUID == 0)) || fail "needs root (sway runs as nobody)"
for tool in sway swaymsg setpriv strace; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
saver=$(cd "$build/bin" && pwd)/digitmosaic
[[ -x $saver ]] || fail "$saver not built"

work=$(mktemp -d) runtime=$(mktemp -d)
started=()
finish() {
    for pid in "${started[@]}"; do
        if kill "$pid" 2>/dev/null; then wait "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work" "$runtime"
}
trap finish EXIT
chown 65534 "$work"
printf 'xwayland disable\noutput HEADLESS-1 resolution 1920x1080\n' >"$work/config"
env -i HOME="$work" XDG_RUNTIME_DIR="$work" WLR_BACKENDS=headless WLR_RENDERER=pixman \
    PATH=/usr/bin:/bin setpriv --reuid=65534 --regid=65534 --clear-groups \
    sway -c "$work/config" >/dev/null 2>&1 &
sway=$!
started+=("$sway")
for _ in $(seq 250); do
    [[ -S $work/wayland-1 ]] && compgen -G "$work/sway-ipc.*" >/dev/null && break
    sleep 0.02
done
[[ -S $work/wayland-1 ]] || fail "sway did not come up"
export SWAYSOCK
SWAYSOCK=$(echo "$work"/sway-ipc.*)

nanoseconds() { awk '{ s += $1 } END { print s }' /proc/"$1"/task/*/schedstat; }
sleeps() { awk '/^voluntary_ctxt_switches/ { s += $2 } END { print s }' /proc/"$1"/task/*/status; }
# Percent of a core of the saver and of sway, and the saver's sleeps a second, over $seconds.
measure() {
    local c0 s0 w0 c1 s1 w1
    c0=$(nanoseconds "$1") s0=$(nanoseconds "$sway") w0=$(sleeps "$1")
    sleep "$seconds"
    c1=$(nanoseconds "$1") s1=$(nanoseconds "$sway") w1=$(sleeps "$1")
    awk -v c=$((c1 - c0)) -v s=$((s1 - s0)) -v w=$((w1 - w0)) -v t="$seconds" \
        'BEGIN { printf "%.3f %.3f %.1f", c / t / 1e7, s / t / 1e7, w / t }'
}

for _ in $(seq "$runs"); do
    env -i XDG_RUNTIME_DIR="$runtime" XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$work/wayland-1" \
        "$saver" /s >/dev/null 2>&1 &
    pid=$!
    started+=("$pid")
    sleep 3
    painting=$(measure "$pid")
    swaymsg workspace 2 >/dev/null
    sleep 1
    hidden=$(measure "$pid")
    timeout 2 strace -f -ttt -e trace=sendmsg -p "$pid" -o "$work/trace" 2>/dev/null &
    tracer=$!
    sleep 0.5
    shown=$(date +%s.%N)
    swaymsg workspace 1 >/dev/null
    wait "$tracer" || true
    back=$(awk -v t="$shown" '/sendmsg/ && !/resumed/ { printf "%.1f", ($2 - t) * 1000; exit }' \
        "$work/trace")
    echo "$painting $hidden ${back:-?}" >>"$work/runs"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
done

# The median of column $1 of the runs, with its range.
column() {
    cut -d' ' -f"$1" "$work/runs" | sort -g |
        awk '{ v[NR] = $1 } END { printf "%s (%s to %s)", v[int((NR + 1) / 2)], v[1], v[NR] }'
}
echo "headless sway, one 1920x1080 output; medians of $runs runs of ${seconds} s (range)"
echo "painting: saver $(column 1) % CPU, sway $(column 2) %, saver $(column 3) sleeps/s"
echo "hidden:   saver $(column 4) % CPU, sway $(column 5) %, saver $(column 6) sleeps/s"
echo "shown again: the saver's first request after $(column 7) ms"
