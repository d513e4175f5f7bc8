#!/usr/bin/env bash
# The main job: bash scripts/run.sh [--seconds N] [--no-install]
#
# On a Debian 12 machine, as root, it
#   1. installs the packages it needs with apt-get (only when one is missing),
#   2. re-runs itself in a private network namespace (only lo, with 255.255.255.255 routed
#      onto it), so the plug-in's broadcast never leaves this machine,
#   3. builds the plug-in, the host simulator and the listener for Windows (build/windows)
#      and the listener natively (build/native),
#   4. on a virtual display (Xvfb) runs the host simulator under Wine with the plug-in for
#      about ten seconds of the built-in flight, from 5 s in: the end of the take-off roll,
#      rotation, lift-off at 12.5 s and the climb, while the native listener prints the
#      decoded motion datagrams,
#   5. saves a picture of the plug-in's window as build/run/plugin-window.png and a plot of
#      the motion received as build/run/motion.png, and prints where they are, with a short
#      summary.
# Files of the run, in build/run/: plugin-window.png, motion.png, motion.csv (every datagram
# received, with the derived accelerations),
# flight.skvrec (the frames sent; replay with host.exe --replay), host.log, listen.log.
# Options:
#   --seconds N    how long the host runs (default 10)
#   --no-install   never call apt-get; fail if a package is missing
# Ctrl-C stops it at once: whatever it started ends, nothing further runs, and it exits 130.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"

seconds=10
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --seconds)
            [[ "${2:-}" =~ ^[0-9]+$ && "$2" -ge 3 ]] || sk_die "--seconds needs a whole number, 3 or more"
            seconds=$2
            shift ;;
        --no-install) export SK_NO_INSTALL=1 ;;
        -h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$root/scripts/run.sh"; exit 0 ;;
        *) sk_die "unknown option: $1 (see --help)" ;;
    esac
    shift
done

packages=(
    g++ cmake ninja-build libgtest-dev libbenchmark-dev   # native build (the listener)
    g++-mingw-w64-x86-64-posix                            # windows build (plug-in, host, listener)
    wine wine64 xvfb xauth fonts-liberation               # running the host and the plug-in
    imagemagick x11-utils                                 # the window's picture (import, xwininfo)
    python3-matplotlib                                    # the plot of the motion
    iproute2 util-linux procps                            # the private network namespace
)

if ! sk_in_private_netns; then
    printf '==> packages\n'
    sk_ensure_packages "${packages[@]}"
fi
sk_enter_private_netns "$root/scripts/run.sh" "${args[@]}"

# ---------------------------------------------------------------------------
# Inside the private namespace from here on.

# SKARVEL_BUILD_DIR puts the builds and the run's files elsewhere (default build/).
builds=${SKARVEL_BUILD_DIR:-build}
out=$root/$builds/run
mkdir -p "$out"
rm -f "$out"/plugin-window.png "$out"/motion.png "$out"/motion.csv "$out"/flight.skvrec "$out"/*.log
jobs=${SKARVEL_JOBS:-2}

build() {  # build PRESET TARGET...
    local preset=$1
    shift
    printf '==> build %s: %s\n' "$preset" "$*"
    if ! { sk_run cmake --preset "$preset" -B "$builds/$preset" &&
           sk_run cmake --build "$builds/$preset" -j "$jobs" --target "$@"; } >"$out/build-$preset.log" 2>&1; then
        grep -v '^\[[0-9]*/[0-9]*\] ' "$out/build-$preset.log" | tail -n 60
        sk_die "the $preset build failed (log: $out/build-$preset.log)"
    fi
}

prefix=$root/$builds/wineprefix-run

# The display and the Wine prefix are made while the builds run.
sk_xvfb_start
sk_on_exit sk_wine_stop "$prefix"
sk_spawn sk_wine_prefix_prepare "$prefix" >"$out/wine-prefix.log" 2>&1
prep=$!

build windows skarvel_external_dll host listen
build native listen
sk_wait "$prep" || { cat "$out/wine-prefix.log"; sk_die "the Wine prefix could not be made"; }
sk_wine_env "$prefix"
sk_wine_verify_netns "$prefix"

dll=$builds/windows/plugin/win32/skarvel_external_dll.dll
host=$builds/windows/tools/host/host.exe
listen=$builds/native/tools/listen/listen
for f in "$dll" "$host" "$listen"; do
    [[ -f "$f" ]] || sk_die "$f was not built"
done

# A first short run warms a new prefix up (its first window can take seconds
# to come); no listener runs yet, so its datagrams go to nobody.
printf '==> warming up Wine\n'
sk_run wine "$host" --frames 60 --quiet "$dll" >"$out/warm-up.log" 2>&1 ||
    { cat "$out/warm-up.log"; sk_die "the host simulator failed to run the plug-in"; }

# The listener first, so it sees the first datagram; two table rows a second.
printf '\n==> motion datagrams received (every 30th shown)\n'
sk_spawn "$listen" --every 30 --derive --csv "$out/motion.csv" > >(tee "$out/listen.log") 2> >(tee "$out/listen.err" >&2)
listener=$!
for (( i = 0; i < 50; i++ )); do
    grep -q "waiting for motion datagrams" "$out/listen.err" 2>/dev/null && break
    sleep 0.1
done

sk_spawn wine "$host" --start 5 --duration "$seconds" --quiet --record "$out/flight.skvrec" "$dll" >"$out/host.log" 2>&1
host_pid=$!

# The picture: two seconds before the host stops, once the window is there
# (on a fresh Wine prefix its first start takes a while).
window="Skarvel External DLL Sample"
geometry=
shot_at=$(( ${EPOCHREALTIME/./} / 1000 + (seconds - 2) * 1000 ))
while kill -0 "$host_pid" 2>/dev/null; do
    if info=$(xwininfo -name "$window" 2>/dev/null); then
        now=$(( ${EPOCHREALTIME/./} / 1000 ))
        if (( now >= shot_at )); then
            x=$(awk '/Absolute upper-left X/ { print $NF }' <<<"$info")
            y=$(awk '/Absolute upper-left Y/ { print $NF }' <<<"$info")
            w=$(awk '/^ *Width:/ { print $NF }' <<<"$info")
            h=$(awk '/^ *Height:/ { print $NF }' <<<"$info")
            geometry="${w}x${h}+${x}+${y}"
            sk_xvfb_screenshot "$out/plugin-window.png" "$geometry" || sk_log "the screenshot failed"
            break
        fi
    fi
    sleep 0.2
done
[[ -n "$geometry" ]] || sk_log "the window \"$window\" was not seen while the host ran"

sk_wait "$host_pid"
host_status=$?
sleep 0.3  # the last datagrams
sk_stop_job "$listener"
# Debian's python3, which has python3-matplotlib.
sk_run /usr/bin/python3 tools/listen/plot_motion.py "$out/motion.csv" "$out/motion.png" >"$out/plot.log" 2>&1 ||
    { cat "$out/plot.log"; sk_log "the motion could not be plotted"; }

printf '\n==> summary\n'
sed 's/^/  /' "$out/host.log"
grep -E '^(datagrams|rate|simulation time):' "$out/listen.log" | sed 's/^/  listener /'
if [[ -f "$out/plugin-window.png" ]]; then
    printf '  picture of the plug-in window (%s on the 1920x1080 screen): %s\n' "$geometry" "$out/plugin-window.png"
fi
[[ -f "$out/motion.png" ]] && printf '  plot of the motion received: %s\n' "$out/motion.png"
printf '  decoded datagrams: %s\n  frames sent (replay with host.exe --replay): %s\n' \
    "$out/motion.csv" "$out/flight.skvrec"
(( host_status == 0 )) || sk_die "the host simulator failed (exit $host_status): see $out/host.log"
valid=$(sed -nE 's/^datagrams: ([0-9]+) valid.*/\1/p' "$out/listen.log")
(( ${valid:-0} > 0 )) || sk_die "no motion datagram was received"
[[ -f "$out/plugin-window.png" ]] || sk_die "no picture of the window was saved"
[[ -f "$out/motion.png" ]] || sk_die "no plot of the motion was saved"
