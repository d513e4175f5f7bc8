#!/usr/bin/env bash
# Runs a command where it cannot reach any network:
#     bash scripts/sandboxed.sh [--wine-prefix DIR] [--] [COMMAND [ARGS...]]
#
# In a private network namespace (only lo, with the broadcast address and the multicast
# groups routed onto it), on a virtual display (Xvfb), with a Wine prefix prepared as the
# tests use it (no window manager, no crash dialog, fonts mapped) and its wineserver
# started inside the namespace, it runs COMMAND (default: an interactive shell) in the
# current folder and exits with its status. A plug-in's broadcast loops back to receivers
# in the same sandbox and goes nowhere else. Examples:
#     bash scripts/sandboxed.sh ctest --preset windows -R Lifecycle.Restart
#     bash scripts/sandboxed.sh wine build/windows/tools/host/host.exe --duration 10 my_plugin.dll
#
# Options:
#   --wine-prefix DIR   the Wine prefix (default $SKARVEL_WINEPREFIX; else build/wineprefix-sandboxed
#                       in a source tree, ~/.cache/skarvel/wineprefix elsewhere); made on first use;
#                       its wineserver is restarted here and stopped at the end
# Needs root, or user namespaces (unshare -r), and the packages wine, wine64, xvfb, iproute2.
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

sk_enter_private_netns "${BASH_SOURCE[0]}" "${args[@]}"

# Inside the private namespace from here on.
sk_sandbox_begin "$prefix" || exit 1
if (( $# == 0 )); then
    set -- "${SHELL:-bash}"
fi
# In the foreground: the command keeps the terminal, and Ctrl-C reaches it.
"$@"
