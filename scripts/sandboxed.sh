#!/usr/bin/env bash
# Runs a command where it cannot reach any network:
#     bash scripts/sandboxed.sh [--wine-prefix DIR] [--] [COMMAND [ARGS...]]
#
# In a private network namespace (only lo, with the broadcast address and the multicast
# groups routed onto it), on a virtual display (Xvfb), with a Wine prefix prepared as the
# tests use it (no window manager, no crash dialog, fonts mapped) and its wineserver
# started inside the namespace, it runs COMMAND (default: an interactive shell) in the
# current folder and exits with its status. A plug-in's broadcast loops back to receivers
# in the same sandbox and goes nowhere else. SIGINT, SIGTERM and SIGHUP are passed on to
# COMMAND (to a Windows program run as `wine PROGRAM` as SIGINT, its Ctrl-C), and the
# sandbox ends after it: no process of it, and no Wine server, is left. Examples:
#     bash scripts/sandboxed.sh ctest --preset windows -R Lifecycle.Restart
#     bash scripts/sandboxed.sh wine build/windows/tools/host/host.exe --duration 10 my_plugin.dll
#
# Options:
#   --wine-prefix DIR   the Wine prefix (default $SKARVEL_WINEPREFIX; else build/wineprefix-sandboxed
#                       in a source tree, ~/.cache/skarvel/wineprefix elsewhere); made on first use;
#                       its wineserver is restarted here and stopped at the end. One run
#                       at a time uses a prefix: another that finds it in use is refused
#                       at once (exit 75). Inside a sandbox of the same prefix (a shell of
#                       sandboxed.sh), COMMAND runs in that sandbox.
# Needs root, or user namespaces (unshare -r), and the packages wine, wine64, wine64-preloader, xvfb,
# iproute2.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$here/lib/sandbox.sh"

if [[ -n "${SKARVEL_WINEPREFIX:-}" ]]; then
    prefix=$SKARVEL_WINEPREFIX
elif [[ -f "$here/../CMakePresets.json" ]]; then
    prefix=$here/../build/wineprefix-sandboxed
else
    prefix=${XDG_CACHE_HOME:-$HOME/.cache}/skarvel/wineprefix
fi
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --wine-prefix)
            [[ -n "${2:-}" ]] || sk_die "--wine-prefix needs a folder"
            prefix=$2
            shift ;;
        -h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}"; exit 0 ;;
        --) shift; break ;;
        -*) sk_die "unknown option: $1 (see --help)" ;;
        *) break ;;
    esac
    shift
done

# The prefix is this run's alone (unless this runs in a sandbox of it already).
sk_hold_prefix "$prefix"
sk_enter_private_netns "${BASH_SOURCE[0]}" "${args[@]}"

# Inside the private namespace from here on.
sk_sandbox_begin "$prefix" || exit 1
if (( $# == 0 )); then
    set -- "${SHELL:-bash}"
fi

# The command runs as a child that this script waits for, so a stop request reaches the
# script at once and is passed on: SIGINT, SIGTERM and SIGHUP alike, except that a
# Windows program (`wine PROGRAM`), which Wine would end at once on the two others, gets
# SIGINT, its Ctrl-C. The script then waits for the command to end, and exits with its
# status once the sandbox is gone. At a terminal the command stays in the terminal's
# process group, where Ctrl-C reaches it directly, and keeps the terminal as its input;
# elsewhere it gets a process group of its own, whose every process the signal reaches.
windows_program=0
[[ "${1##*/}" != wine && "${1##*/}" != wine64 ]] || windows_program=1
target= pending=
pass_on() {  # pass_on SIGNAL: to the command, or to it once it has started
    local signal=$1
    (( windows_program == 0 )) || signal=INT
    if [[ -z "$target" ]]; then
        pending=$signal
    else
        kill "-$signal" -- "$target" 2>/dev/null
    fi
}
trap 'pass_on INT' INT
trap 'pass_on TERM' TERM
trap 'pass_on HUP' HUP
{ exec {stdin}<&0; } 2>/dev/null || exec {stdin}</dev/null
if [[ -t 0 ]]; then
    "$@" <&"$stdin" {stdin}<&- &
    target=$!
else
    set -m
    "$@" <&"$stdin" {stdin}<&- &
    set +m
    target=-$!
    SK_JOBS+=("$!")  # (what it leaves running is stopped with the sandbox)
fi
command_pid=$!
exec {stdin}<&-
[[ -z "$pending" ]] || kill "-$pending" -- "$target" 2>/dev/null
# (a signal's trap ends a wait early, with 128 + the signal: wait again until the
# command has ended; the last wait gives its own status)
while kill -0 "$command_pid" 2>/dev/null; do
    wait "$command_pid"
done
wait "$command_pid"
