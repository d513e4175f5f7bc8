#!/usr/bin/env bash
# The main job: bash scripts/run.sh [--seconds N] [--plugin PATH] [--no-install]
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
# The host runs in the folder run.sh was started from: a plug-in's own files land there.
# Options:
#   --seconds N    how long the host runs (default 10)
#   --plugin PATH  run this plug-in DLL (64-bit) instead of the sample; the picture is then of
#                  the whole screen (build/run/screen.png), and run.sh exits with the host's status
#                  (1 when the host ran no frame of it)
#   --no-install   never call apt-get; fail if a package is missing
# Environment: SKARVEL_WINEPREFIX, the Wine prefix (default build/wineprefix-run).
# A wrong command line, or a --plugin that is missing, no DLL or a 32-bit one, exits 2.
# Ctrl-C, SIGTERM or SIGHUP stops it within seconds: the host is given Ctrl-C and up to 15 s
# to commit its recording (flight.skvrec stays whole and replayable), whatever else it
# started ends, nothing further runs, and it exits 130, 143 or 129. However the plug-in
# behaves, the host is stopped a minute after its flight should have ended.
# One run at a time: another run.sh in this clone is refused at once (exit 75).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"
. "$root/scripts/lib/packages.sh"
. "$root/scripts/lib/builds.sh"
. "$root/scripts/lib/plugin_dll.sh"

usage_error() {
    printf 'error: %s (see --help)\n' "$1" >&2
    exit 2
}

seconds=10
plugin=
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --seconds)
            [[ "${2:-}" =~ ^[0-9]+$ && "$2" -ge 3 ]] || usage_error "--seconds needs a whole number, 3 or more"
            seconds=$2
            shift ;;
        --plugin)
            [[ -n "${2:-}" ]] || usage_error "--plugin needs the path of a DLL"
            sk_check_plugin_dll "$2"
            plugin=$(realpath -- "$2")
            shift ;;
        --no-install) export SK_NO_INSTALL=1 ;;
        -h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$root/scripts/run.sh"; exit 0 ;;
        *) usage_error "unknown option: $1" ;;
    esac
    shift
done

# The Wine prefix, and so build/run, is this run's alone until it ends.
prefix=${SKARVEL_WINEPREFIX:-$root/build/wineprefix-run}
sk_hold_prefix "$prefix"
if ! sk_in_private_netns; then
    printf '==> packages\n'
    sk_ensure_packages "${SK_PACKAGES[@]}"
fi
# (realpath: the namespace's shell starts where this one is)
sk_enter_private_netns "$(realpath "${BASH_SOURCE[0]}")" "${args[@]}"

# ---------------------------------------------------------------------------
# Inside the private namespace from here on.

user_folder=$PWD
out=$root/build/run
# The display and the Wine prefix are made while the builds run.
sk_sandbox_prepare_beside "$prefix" "$root/build/wineprefix-run.log"
mkdir -p "$out"
rm -f "$out"/plugin-window.png "$out"/screen.png "$out"/motion.png "$out"/motion.csv "$out"/flight.skvrec \
    "$out"/*.log
cd "$root" || exit 1
printf '==> build windows: the plug-in, host.exe, listen.exe\n'
sk_run sk_cmake_build windows "$out/build-windows.log" --target skarvel_external_dll host listen || exit 1
printf '==> build native: listen\n'
sk_run sk_cmake_build native "$out/build-native.log" --target listen || exit 1
sk_sandbox_begin "$prefix" || exit 1

sample=$root/build/windows/plugin/win32/skarvel_external_dll.dll
host=$root/build/windows/tools/host/host.exe
listen=$root/build/native/tools/listen/listen
for f in "$sample" "$host" "$listen"; do
    [[ -f "$f" ]] || sk_die "$f was not built"
done
dll=${plugin:-$sample}

# A first short run of the sample warms a new prefix up (its first window can take
# seconds to come); no listener runs yet, so its datagrams go to nobody.
printf '==> warming up Wine\n'
sk_spawn_tool 10 wine "$host" --frames 60 --quiet "$sample" >"$out/warm-up.log" 2>&1
sk_wait_at_most 120 "$!" ||
    { cat "$out/warm-up.log"; sk_die "the host simulator failed to run the sample plug-in"; }

# The listener first, so it sees the first datagram; two table rows a second.
printf '\n==> motion datagrams received (every 30th shown)\n'
sk_spawn_tool 5 "$listen" --every 30 --derive --csv "$out/motion.csv" > >(tee "$out/listen.log") 2> >(tee "$out/listen.err" >&2)
listener=$!
for (( i = 0; i < 50; i++ )); do
    grep -q "waiting for motion datagrams" "$out/listen.err" 2>/dev/null && break
    sleep 0.1
done

cd "$user_folder" || exit 1
# A stop request (Ctrl-C, SIGTERM, SIGHUP) gives the host its Ctrl-C and the time to
# commit the recording; whatever the plug-in does, the host has its flight and a minute.
sk_spawn_tool 15 wine "$host" --start 5 --duration "$seconds" --quiet --record "$out/flight.skvrec" "$dll" \
    >"$out/host.log" 2>&1
host_pid=$!
host_deadline=$(( SECONDS + seconds + 60 ))

# The picture: two seconds before the host stops, once the window is there
# (on a fresh Wine prefix its first start takes a while). Of another plug-in,
# whose window is not known here, the whole screen.
window="Skarvel External DLL Sample"
picture=$out/plugin-window.png
[[ -z "$plugin" ]] || picture=$out/screen.png
geometry=
shot_at=$(( ${EPOCHREALTIME/./} / 1000 + (seconds - 2) * 1000 ))
while kill -0 "$host_pid" 2>/dev/null && (( SECONDS < host_deadline )); do
    if [[ -n "$plugin" ]] || info=$(xwininfo -name "$window" 2>/dev/null); then
        now=$(( ${EPOCHREALTIME/./} / 1000 ))
        if (( now >= shot_at )); then
            if [[ -n "$plugin" ]]; then
                geometry="1920x1080+0+0"
            else
                x=$(awk '/Absolute upper-left X/ { print $NF }' <<<"$info")
                y=$(awk '/Absolute upper-left Y/ { print $NF }' <<<"$info")
                w=$(awk '/^ *Width:/ { print $NF }' <<<"$info")
                h=$(awk '/^ *Height:/ { print $NF }' <<<"$info")
                geometry="${w}x${h}+${x}+${y}"
            fi
            sk_xvfb_screenshot "$picture" "$geometry" || sk_log "the screenshot failed"
            break
        fi
    fi
    sleep 0.2
done
[[ -n "$geometry" ]] || sk_log "the window \"$window\" was not seen while the host ran"

sk_wait_at_most $(( host_deadline - SECONDS > 0 ? host_deadline - SECONDS : 1 )) "$host_pid"
host_status=$?
(( host_status != 124 )) || sk_log "the host simulator had not ended $(( seconds + 60 )) s after its start: stopped"
frames=$(tr -d '\r' <"$out/host.log" | sed -n 's/^host: \([0-9]*\) frames.*/\1/p')
sleep 0.3  # the last datagrams
sk_stop_job "$listener"
cd "$root" || exit 1
# Debian's python3, which has python3-matplotlib.
received=$(( $(wc -l <"$out/motion.csv" 2>/dev/null || echo 1) - 1 ))  # (the CSV's first line names the columns)
if (( received > 0 )); then
    sk_run /usr/bin/python3 tools/listen/plot_motion.py "$out/motion.csv" "$out/motion.png" >"$out/plot.log" 2>&1 ||
        { cat "$out/plot.log"; sk_log "the motion could not be plotted"; }
fi

printf '\n==> summary\n'
printf '  plug-in: %s\n' "$dll"
sed 's/^/  /' "$out/host.log"
grep -E '^(datagrams|rate|simulation time):' "$out/listen.log" | sed 's/^/  listener /'
if [[ -f "$picture" ]]; then
    printf '  picture of the %s (%s on the 1920x1080 screen): %s\n' \
        "$([[ -n "$plugin" ]] && echo screen || echo plug-in window)" "$geometry" "$picture"
fi
[[ -f "$out/motion.png" ]] && printf '  plot of the motion received: %s\n' "$out/motion.png"
(( received > 0 )) && printf '  decoded datagrams: %s\n' "$out/motion.csv"
[[ -f "$out/flight.skvrec" ]] && printf '  frames sent (replay with host.exe --replay): %s\n' "$out/flight.skvrec"
if [[ -n "$plugin" ]]; then
    (( host_status == 0 )) || printf 'the host simulator exited with %d: see %s\n' "$host_status" "$out/host.log" >&2
    (( host_status != 0 )) || (( ${frames:-0} > 0 )) ||
        sk_die "the host ran no frame of the plug-in: see $out/host.log"
    exit "$host_status"
fi
(( host_status == 0 )) || sk_die "the host simulator failed (exit $host_status): see $out/host.log"
valid=$(sed -nE 's/^datagrams: ([0-9]+) valid.*/\1/p' "$out/listen.log")
(( ${valid:-0} > 0 )) || sk_die "no motion datagram was received"
[[ -f "$out/plugin-window.png" ]] || sk_die "no picture of the window was saved"
[[ -f "$out/motion.png" ]] || sk_die "no plot of the motion was saved"
