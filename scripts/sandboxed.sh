#!/usr/bin/env bash
# Runs a command where it cannot reach any network:
#     bash scripts/sandboxed.sh [--wine-prefix DIR] [--] [COMMAND [ARGS...]]
#
# In a private network namespace (only lo, with the broadcast address and the multicast
# groups routed onto it), on a virtual display (Xvfb), with a Wine prefix prepared as the
# tests use it (no window manager, no crash dialog, fonts mapped) and its wineserver
# started inside the namespace, it runs COMMAND (default: an interactive shell) and exits
# with its status. A plug-in's broadcast loops back to receivers in the same sandbox and
# goes nowhere else. Examples:
#     bash scripts/sandboxed.sh wine build/windows/tools/validate/validate.exe my_plugin.dll
#     bash scripts/sandboxed.sh ctest --preset windows -R lifecycle
#
# Options:
#   --wine-prefix DIR   the Wine prefix (default $SKARVEL_WINEPREFIX, or build/wineprefix-sandboxed
#                       beside this script); made on first use; its wineserver is restarted here
# Needs root, or user namespaces (unshare -r), and the packages wine, wine64, xvfb, iproute2.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$here/lib/sandbox.sh"

prefix=${SKARVEL_WINEPREFIX:-$here/../build/wineprefix-sandboxed}
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

sk_enter_private_netns "${BASH_SOURCE[0]}" "${args[@]}"

# Inside the private namespace from here on.
mkdir -p "$prefix" || sk_die "cannot make the Wine prefix folder $prefix"
prefix=$(cd "$prefix" && pwd)
sk_on_exit sk_wine_stop "$prefix"
sk_xvfb_start 2>/dev/null
log=$(mktemp)
# (in a subshell: its failure ends only the subshell, and its log is shown)
( sk_wine_prefix_prepare "$prefix" ) >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; exit 1; }
rm -f "$log"
sk_wine_env "$prefix"
export SKARVEL_SANDBOX=1
if (( $# == 0 )); then
    set -- "${SHELL:-bash}"
fi
# In the foreground: the command keeps the terminal, and Ctrl-C reaches it.
"$@"
