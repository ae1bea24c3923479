#!/usr/bin/env bash
# What the saver costs on a Wayland compositor: headless sway (pixman renderer) with one 1920 x 1080
# output, run as nobody.
#
# By default, while it paints and while no output shows it. Each run starts the saver, and after a
# 3 s warm-up counts, over the given seconds, the CPU time of the saver's threads together and of
# sway (from /proc/PID/task/*/schedstat) and the times the saver's threads slept (voluntary context
# switches); then shows another workspace on the output (the compositor stops the saver's frame
# callbacks, as with an output powered off), waits 1 s and counts again; then shows the saver's
# workspace and times, with strace, from the call to swaymsg to the saver's first request (its
# first picture follows at the compositor's next refresh). Prints medians with their ranges.
#
# With --floor, side by side with the floor, digitmosaic_wayland_floor (a bare libwayland-client
# program painting the same rows, one per frame callback): each run starts two sways and the saver
# on one, the floor on the other, at the same time; after a 3 s warm-up it counts the CPU time of
# each program and of its sway over the given seconds, and reads each program's resident memory at
# the end. Prints medians with their ranges and the saver's ratios to the floor's.
#
# Usage: bench/wayland.sh [-n RUNS] [-s SECONDS] [-b BUILD_DIR] [--floor]
#   (as root; default 5 runs of 10 s, of 20 s with --floor)
# Needs sway, swaymsg, setpriv and strace. Everything it starts is ended by its pid.
set -euo pipefail

fail() {
    echo "wayland.sh: $*" >&2
    exit 2
}

runs=5 seconds='' build=build floor=false
while (($# > 0)); do
    case $1 in
        -n) runs=${2:?-n needs a number}; shift 2 ;;
        -s) seconds=${2:?-s needs a number}; shift 2 ;;
        -b) build=${2:?-b needs a directory}; shift 2 ;;
        --floor) floor=true; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) fail "unknown option $1 (try --help)" ;;
    esac
done
[[ -n $seconds ]] || { $floor && seconds=20 || seconds=10; }
[[ $runs =~ ^[1-9][0-9]*$ && $seconds =~ ^[1-9][0-9]*$ ]] || fail "-n and -s need positive numbers"
((EUID == 0)) || fail "needs root (sway runs as nobody)"
for tool in sway swaymsg setpriv strace; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[[ -d $build/bin ]] || fail "no $build/bin: build the project first (or give -b)"
saver=$(cd "$build/bin" && pwd)/digitmosaic
floor_client=$(dirname "$saver")/digitmosaic_wayland_floor
[[ -x $saver ]] || fail "$saver not built"
! $floor || [[ -x $floor_client ]] || fail "$floor_client not built"

work=$(mktemp -d) runtime=$(mktemp -d)
started=()
finish() {
    for pid in "${started[@]}"; do
        if kill "$pid" 2>/dev/null; then wait "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work" "$runtime"
}
trap finish EXIT
trap 'exit 130' INT TERM
chown 65534 "$work"
printf 'xwayland disable\noutput HEADLESS-1 resolution 1920x1080\n' >"$work/config"

# Starts a headless sway as nobody in a fresh folder under $work; sets sway (its pid) and place
# (its folder, which holds wayland-1 and its IPC socket).
start_sway() {
    place=$(mktemp -d -p "$work")
    chown 65534 "$place"
    env -i HOME="$place" XDG_RUNTIME_DIR="$place" WLR_BACKENDS=headless WLR_RENDERER=pixman \
        PATH=/usr/bin:/bin setpriv --reuid=65534 --regid=65534 --clear-groups \
        sway -c "$work/config" >/dev/null 2>&1 &
    sway=$!
    started+=("$sway")
    for _ in $(seq 250); do
        [[ -S $place/wayland-1 ]] && compgen -G "$place/sway-ipc.*" >/dev/null && break
        sleep 0.02
    done
    [[ -S $place/wayland-1 ]] || fail "sway did not come up"
}

# Ends a process started here, by its pid.
end() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# Starts a program as a Wayland client of the sway in $1's folder; sets client (its pid).
start_client() {
    local at=$1
    shift
    env -i XDG_RUNTIME_DIR="$runtime" XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY="$at/wayland-1" \
        "$@" >/dev/null 2>&1 &
    client=$!
    started+=("$client")
}

nanoseconds() { awk '{ s += $1 } END { print s }' /proc/"$1"/task/*/schedstat; }
sleeps() { awk '/^voluntary_ctxt_switches/ { s += $2 } END { print s }' /proc/"$1"/task/*/status; }
rss_mb() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# Percent of a core of the client $1 and of sway, and the client's sleeps a second, over $seconds.
measure() {
    local c0 s0 w0 c1 s1 w1
    c0=$(nanoseconds "$1") s0=$(nanoseconds "$sway") w0=$(sleeps "$1")
    sleep "$seconds"
    c1=$(nanoseconds "$1") s1=$(nanoseconds "$sway") w1=$(sleeps "$1")
    awk -v c=$((c1 - c0)) -v s=$((s1 - s0)) -v w=$((w1 - w0)) -v t="$seconds" \
        'BEGIN { printf "%.3f %.3f %.1f", c / t / 1e7, s / t / 1e7, w / t }'
}

if $floor; then
    echo "Measuring the saver and the floor at once, each on its own sway: $runs runs of" \
        "3 s warm-up + $seconds s ($(nproc) cores; load average before:" \
        "$(cut -d' ' -f1-3 /proc/loadavg))" >&2
    for run in $(seq "$runs"); do
        start_sway
        saver_sway=$sway saver_place=$place
        start_sway
        floor_sway=$sway floor_place=$place
        start_client "$saver_place" "$saver" /s
        saver_pid=$client
        start_client "$floor_place" "$floor_client"
        floor_pid=$client
        sleep 3
        c0=$(nanoseconds "$saver_pid") s0=$(nanoseconds "$saver_sway")
        f0=$(nanoseconds "$floor_pid") g0=$(nanoseconds "$floor_sway")
        sleep "$seconds"
        c1=$(nanoseconds "$saver_pid") s1=$(nanoseconds "$saver_sway")
        f1=$(nanoseconds "$floor_pid") g1=$(nanoseconds "$floor_sway")
        for pid in "$saver_pid" "$floor_pid"; do
            kill -0 "$pid" 2>/dev/null || fail "a client ended early"
        done
        awk -v t="$seconds" -v c=$((c1 - c0)) -v s=$((s1 - s0)) -v f=$((f1 - f0)) \
            -v g=$((g1 - g0)) -v m="$(rss_mb "$saver_pid")" -v n="$(rss_mb "$floor_pid")" \
            'BEGIN { printf "%.3f %.3f %.3f %s %.3f %.3f %.3f %s\n", c / t / 1e7, s / t / 1e7,
                     (c + s) / t / 1e7, m, f / t / 1e7, g / t / 1e7, (f + g) / t / 1e7, n }' \
            >>"$work/runs"
        for pid in "$saver_pid" "$floor_pid" "$saver_sway" "$floor_sway"; do end "$pid"; done
        echo "run $run of $runs done" >&2
    done
    # Rows of the table: the floor's columns are 5 to 8, the saver's 1 to 4.
    awk '
        function median(column,   v, i, j, t) {
            for (i = 1; i <= NR; ++i) v[i] = row[i, column]
            for (i = 2; i <= NR; ++i)
                for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            low = v[1]; high = v[NR]
            return v[int((NR + 1) / 2)]
        }
        function cell(column, unit, digits, ratio,   m, text) {
            m = median(column)
            text = sprintf("%." digits "f%s (%." digits "f–%." digits "f)", m, unit, low, high)
            if (ratio > 0) text = text sprintf(" ×%.2f", m / ratio)
            return text
        }
        # Columns 9 to 12: the saver'"'"'s over the floor'"'"'s within each run, where both bore
        # the same load.
        {
            for (i = 1; i <= NF; ++i) row[NR, i] = $i + 0
            for (i = 1; i <= 4; ++i) row[NR, 8 + i] = row[NR, i + 4] > 0 ? row[NR, i] / row[NR, i + 4] : 0
        }
        function ratio(column,   m) {
            m = median(column)
            return sprintf("×%.2f (%.2f–%.2f)", m, low, high)
        }
        END {
            printf "One 1920 x 1080 output (headless %s, pixman), medians of %d runs of %d s" \
                " (min–max); ratio to the floor'"'"'s median:\n\n", version, NR, seconds
            print "| program | client CPU | sway CPU | total CPU | resident memory |"
            print "| --- | --- | --- | --- | --- |"
            printf "| the floor: bare libwayland-client, same rows, one per frame | %s | %s | %s | %s |\n",
                cell(5, " %", 2, 0), cell(6, " %", 2, 0), cell(7, " %", 2, 0), cell(8, " MB", 1, 0)
            printf "| Digit Mosaic | %s | %s | %s | %s |\n",
                cell(1, " %", 2, median(5)), cell(2, " %", 2, median(6)),
                cell(3, " %", 2, median(7)), cell(4, " MB", 1, median(8))
            printf "\nThe saver'"'"'s over the floor'"'"'s within each run, median (min–max): client %s," \
                " sway %s, total %s, memory %s.\n", ratio(9), ratio(10), ratio(11), ratio(12)
        }' seconds="$seconds" version="$(sway --version | cut -d' ' -f1,3)" "$work/runs"
    echo
    echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores."
    exit 0
fi

start_sway
export SWAYSOCK
SWAYSOCK=$(echo "$place"/sway-ipc.*)
for _ in $(seq "$runs"); do
    start_client "$place" "$saver" /s
    pid=$client
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
    end "$pid"
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
