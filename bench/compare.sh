#!/usr/bin/env bash
# What the running saver costs an idle machine, side by side with the floor (a bare Xlib client
# painting the same rows at the same pace), a bare Qt widget that only wakes 60 times a second and
# two XScreenSaver hacks. All run at the same time, each alone on its own X server; after a 3 s
# warm-up the process ticks of each program and of its server are counted over 20 s, and the
# resident memory of each program is read at the end. Prints a table of medians (with their range
# over the runs) and each median's ratio to the floor's, then for the saver and the floor the time
# from a key press to the first unmap of a top-level window (as another client sees it) and to the
# end of the process, and from start to first cells (9 of each, taken alternately on one Xvfb).
#
# Usage: bench/compare.sh [-n RUNS] [-b BUILD_DIR] [--two-monitors]
#   -n RUNS          measuring runs (default 5)
#   -b BUILD_DIR     where the binaries were built (default build)
#   --two-monitors   the saver and the floor on the X.org server with the dummy video driver, two
#                    1920 x 1080 outputs side by side (needs root, as Xorg does), instead of Xvfb
# Needs Xvfb, xscreensaver-data, and for --two-monitors xserver-xorg-core,
# xserver-xorg-video-dummy and xrandr. Every server and program it starts is ended by its pid.
set -euo pipefail

fail() {
    echo "compare.sh: $*" >&2
    exit 2
}

runs=5
build=build
two_monitors=false
while (($# > 0)); do
    case $1 in
        -n) runs=${2:?-n needs a number}; shift 2 ;;
        -b) build=${2:?-b needs a directory}; shift 2 ;;
        --two-monitors) two_monitors=true; shift ;;
        -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
        *) fail "unknown option $1 (try --help)" ;;
    esac
done
[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "-n needs a positive number"

here=$(cd "$(dirname "$0")" && pwd)
needed=(Xvfb)
if $two_monitors; then
    needed=(Xorg xrandr)
    ((EUID == 0)) || fail "--two-monitors starts Xorg, which needs root"
fi
for tool in "${needed[@]}"; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[[ -d $build/bin ]] || fail "no $build/bin: build the project first (or give -b)"
bin=$(cd "$build/bin" && pwd)
hacks=
for dir in /usr/libexec/xscreensaver /usr/lib/xscreensaver; do
    [[ -x $dir/popsquares ]] && { hacks=$dir; break; }
done
[[ -n $hacks ]] || fail "xscreensaver-data's hacks are not installed"
[[ $bin != *[[:space:]]* ]] || fail "the build path must not hold spaces"
for program in digitmosaic digitmosaic_floor digitmosaic_idlewidget digitmosaic_probe; do
    [[ -x $bin/$program ]] || fail "$bin/$program not built"
done

# The programs of the table: name, then command.
if $two_monitors; then
    names=(floor digitmosaic)
    commands=("$bin/digitmosaic_floor 204x170 2" "$bin/digitmosaic /s")
else
    names=(floor qt-widget digitmosaic abstractile popsquares)
    commands=("$bin/digitmosaic_floor" "$bin/digitmosaic_idlewidget" "$bin/digitmosaic /s"
        "$hacks/abstractile -root" "$hacks/popsquares -root")
fi
declare -A descriptions=([floor]="the floor: bare Xlib, same rows, same pace"
    [qt-widget]="a bare full-screen Qt widget waking at 60 Hz"
    [digitmosaic]="Digit Mosaic"
    [abstractile]="XScreenSaver's abstractile"
    [popsquares]="XScreenSaver's popsquares")
if $two_monitors; then
    descriptions[floor]="the floor: bare Xlib, a picture per monitor, same rows, same pace"
fi

work=$(mktemp -d)
started=()  # pids of every server and program, ended on exit
sleeper=    # the pid of the current pause
cleanup() {
    local pid
    if [[ -n $sleeper ]]; then
        kill "$sleeper" 2>/dev/null || true
    fi
    for pid in "${started[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    started=()
}
trap 'cleanup; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Sleeps in the background, so that an interrupt ends the script at once.
pause() {
    sleep "$1" &
    sleeper=$!
    wait "$sleeper"
    sleeper=
}

ticks_per_second=$(getconf CLK_TCK)

# utime + stime of a process, in clock ticks.
ticks() {
    local stat
    stat=$(<"/proc/$1/stat")
    local fields=(${stat##*) })  # from field 3 (the state) on
    echo $((fields[11] + fields[12]))
}

# Busy ticks of the whole machine (all cores), from /proc/stat.
machine_busy() {
    local cpu user nice system idle iowait irq softirq steal _
    read -r cpu user nice system idle iowait irq softirq steal _ </proc/stat
    echo $((user + nice + system + irq + softirq + steal))
}

rss_mb() {
    awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"
}

# Starts an X server for slot $1 and sets server_pid and server_display.
start_server() {
    local name=$1 displayfile=$work/$1.display
    : >"$displayfile"
    if $two_monitors; then
        Xorg -displayfd 3 -config "$here/../tools/xorg-dummy.conf" -noreset -nolisten tcp -dpi 96 \
            -logfile "$work/$name.xorg.log" 3>"$displayfile" >/dev/null 2>&1 &
    else
        Xvfb -displayfd 3 -screen 0 1920x1080x24 -dpi 96 -br -nolisten tcp \
            3>"$displayfile" 2>"$work/$name.xvfb.log" &
    fi
    server_pid=$!
    started+=("$server_pid")
    local tries
    for ((tries = 0; tries < 100; ++tries)); do
        [[ -s $displayfile ]] && break
        sleep 0.1
    done
    server_display=:$(head -n1 "$displayfile")
    [[ $server_display != : ]] || fail "the X server for $name did not start"
    if $two_monitors; then
        local mode=bench1920x1080
        DISPLAY=$server_display xrandr --newmode $mode 173.00 1920 2048 2248 2576 \
            1080 1083 1088 1120 -hsync +vsync
        DISPLAY=$server_display xrandr --addmode DUMMY0 $mode
        DISPLAY=$server_display xrandr --addmode DUMMY1 $mode
        DISPLAY=$server_display xrandr --output DUMMY0 --mode $mode --pos 0x0 --primary \
            --output DUMMY1 --mode $mode --pos 1920x0
        DISPLAY=$server_display xrandr --fb 3840x1080
    fi
}

# A clean desktop environment for the programs: X11 only, no host window (prefix DISPLAY=...).
clean_env=(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XSCREENSAVER_WINDOW)

# One run: every program on its own server at once; appends "name client% server% rss" lines
# to $work/figures and "other%" (the rest of the machine's load) to $work/load.
measure_run() {
    local count=${#names[@]} i
    local servers=() displays=() clients=()
    for ((i = 0; i < count; ++i)); do
        start_server "${names[i]}"
        servers+=("$server_pid")
        displays+=("$server_display")
    done
    for ((i = 0; i < count; ++i)); do
        # shellcheck disable=SC2086  # the command's words split on purpose
        "${clean_env[@]}" DISPLAY="${displays[i]}" ${commands[i]} >"$work/${names[i]}.log" 2>&1 &
        clients+=("$!")
        started+=("$!")
    done
    pause 3
    local before_client=() before_server=() before_machine before_time
    for ((i = 0; i < count; ++i)); do
        before_client+=("$(ticks "${clients[i]}")")
        before_server+=("$(ticks "${servers[i]}")")
    done
    before_machine=$(machine_busy)
    before_time=$(date +%s.%N)
    pause 20
    local after_time after_machine
    after_time=$(date +%s.%N)
    after_machine=$(machine_busy)
    for ((i = 0; i < count; ++i)); do
        if ! kill -0 "${clients[i]}" 2>/dev/null; then
            echo "compare.sh: ${names[i]} ended early; its output:" >&2
            cat "$work/${names[i]}.log" >&2
            exit 2
        fi
        echo "${names[i]} $(($(ticks "${clients[i]}") - before_client[i]))" \
            "$(($(ticks "${servers[i]}") - before_server[i])) $(rss_mb "${clients[i]}")"
    done >"$work/ticks"
    awk -v hz="$ticks_per_second" -v from="$before_time" -v to="$after_time" '
        { scale = 100 / hz / (to - from)
          printf "%s %.3f %.3f %s\n", $1, $2 * scale, $3 * scale, $4 }' \
        "$work/ticks" >>"$work/figures"
    awk -v hz="$ticks_per_second" -v from="$before_time" -v to="$after_time" \
        -v busy=$((after_machine - before_machine)) \
        'BEGIN { printf "%.1f\n", busy * 100 / hz / (to - from) }' >>"$work/load"
    cleanup
}

echo "Measuring ${#names[@]} programs at once, $runs runs of 3 s warm-up + 20 s" \
    "($(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg))" >&2
: >"$work/figures"
: >"$work/load"
for ((run = 1; run <= runs; ++run)); do
    measure_run
    echo "run $run of $runs done" >&2
done

if $two_monitors; then
    echo "Two 1920 x 1080 monitors side by side (X.org, dummy video driver), medians of $runs" \
        "runs (min-max); ratio to the floor's median:"
else
    echo "One 1920 x 1080 screen (Xvfb, 96 DPI), medians of $runs runs (min-max);" \
        "ratio to the floor's median:"
fi
echo
for name in "${names[@]}"; do echo "$name|${descriptions[$name]}"; done >"$work/descriptions"
awk -v order="${names[*]}" '
    function median(list, n,   sorted, i, j, t) {
        split(list, sorted, " ")
        for (i = 1; i <= n; ++i) sorted[i] += 0
        for (i = 2; i <= n; ++i)
            for (j = i; j > 1 && sorted[j - 1] > sorted[j]; --j) {
                t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t
            }
        low = sorted[1]; high = sorted[n]
        return sorted[int((n + 1) / 2)]
    }
    function cell(list, n, column, unit, digits,   m, text) {
        m = median(list, n)
        text = sprintf("%." digits "f%s (%." digits "f–%." digits "f)", m, unit, low, high)
        if (floor_median[column] > 0)
            text = text sprintf(" ×%.1f", m / floor_median[column])
        return text
    }
    FILENAME ~ /descriptions$/ { split($0, d, "|"); description[d[1]] = d[2]; next }
    {
        n[$1]++
        client[$1] = client[$1] " " $2; server[$1] = server[$1] " " $3
        total[$1] = total[$1] " " ($2 + $3); rss[$1] = rss[$1] " " $4
    }
    END {
        print "| program | client CPU | server CPU | total CPU | resident memory |"
        print "| --- | --- | --- | --- | --- |"
        floor_median[1] = median(client["floor"], n["floor"])
        floor_median[2] = median(server["floor"], n["floor"])
        floor_median[3] = median(total["floor"], n["floor"])
        floor_median[4] = median(rss["floor"], n["floor"])
        count = split(order, names, " ")
        for (i = 1; i <= count; ++i) {
            p = names[i]
            printf "| %s | %s | %s | %s | %s |\n", description[p],
                cell(client[p], n[p], 1, " %", 2), cell(server[p], n[p], 2, " %", 2),
                cell(total[p], n[p], 3, " %", 2), cell(rss[p], n[p], 4, " MB", 1)
        }
    }' "$work/descriptions" "$work/figures"
echo
awk '{ v[NR] = $1 + 0 }
    END {
        for (i = 2; i <= NR; ++i)
            for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        printf "The whole machine was busy %.0f %% of one core during the measuring windows" \
            " (median; %.0f–%.0f), these programs and their servers included.\n",
            v[int((NR + 1) / 2)], v[1], v[NR]
    }' \
    "$work/load"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores."

if ! $two_monitors; then
    echo
    echo "Key press (XTest) to the first unmap of a top-level window seen by another client, and to"
    echo "the end of the process; start to the first cells on screen. 9 of each program, taken"
    echo "alternately on one Xvfb; milliseconds:"
    echo
    start_server keys
    "${clean_env[@]}" DISPLAY="$server_display" "$bin/digitmosaic_probe" 9 \
        digitmosaic "$bin/digitmosaic" /s -- floor "$bin/digitmosaic_floor"
fi
