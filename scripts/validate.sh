#!/usr/bin/env bash
# Validates a plug-in DLL safely: bash scripts/validate.sh PLUGIN.dll [VALIDATOR OPTIONS...]
#
# Builds the validator (build/windows, once) and runs it on PLUGIN.dll, under Wine, in the
# sandbox of scripts/sandboxed.sh: a private network namespace (whatever the plug-in sends
# stays on this machine), a virtual display, and a Wine prefix prepared as the tests use
# it (build/wineprefix-sandboxed, or $SKARVEL_WINEPREFIX). It runs in the current folder, so the paths of
# --json FILE, --junit FILE and PLUGIN.dll are the caller's own, and exits with the
# validator's status (docs/validator.md: 0 every check passed, 1 one failed, 2 a wrong
# command line, 3 the validator could not run a check), or 75 the
# Wine prefix in use by another run (one run at a time: see scripts/sandboxed.sh).
# Examples:
#     bash scripts/validate.sh my_plugin.dll
#     bash scripts/validate.sh my_plugin.dll --quick --junit validate.xml
# The validator's options: bash scripts/validate.sh --options (its --help).
# A PLUGIN.dll that is missing, empty, no DLL, or a 32-bit one: one line, exit 2; for an
# import library or a folder the line names the DLL beside it or in it. A DLL whose name
# begins with "-": ./-name.dll (or -- -name.dll). Ctrl-C, SIGTERM and SIGHUP stop the
# validator as Ctrl-C does: it ends its checks and writes its report.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"
. "$root/scripts/lib/packages.sh"
. "$root/scripts/lib/builds.sh"
. "$root/scripts/lib/plugin_dll.sh"

validator=$root/build/windows/tools/validate/validate.exe
usage() { sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}"; }
(( $# > 0 )) || { usage >&2; printf 'error: no plug-in DLL given\n' >&2; exit 2; }
case $1 in
    -h|--help) usage; exit 0 ;;
    --options) ;;
    --) (( $# > 1 )) || { printf 'error: no plug-in DLL given after --\n' >&2; exit 2; }
        sk_check_plugin_dll "$2" ;;
    -*) printf 'error: %s: an option where the plug-in DLL comes first: bash scripts/validate.sh PLUGIN.dll [OPTIONS...] (a DLL so named: ./%s)\n' "$1" "$1" >&2
        exit 2 ;;
    *) sk_check_plugin_dll "$1" ;;
esac
prefix=${SKARVEL_WINEPREFIX:-$root/build/wineprefix-sandboxed}
sk_hold_prefix "$prefix"
sk_in_private_netns || sk_ensure_packages "${SK_PACKAGES[@]}"
sk_enter_private_netns "$(realpath -- "${BASH_SOURCE[0]}")" "$@"

# Inside the private namespace from here on: the prefix held, made ready beside the build.
[[ "$1" != -- ]] || shift
if [[ "$1" == --options ]]; then
    set -- --help
else
    plugin=$1
    [[ "$plugin" != -* ]] || plugin=./$plugin  # (never taken for an option)
    shift
    set -- "$@" "$plugin"
fi
log=$root/build/logs/validate-build.log
mkdir -p "${log%/*}"
sk_sandbox_prepare_beside "$prefix" "$root/build/logs/validate-prefix.log"
user_folder=$PWD
cd "$root" || exit 1
sk_run sk_cmake_build windows "$log" --target validate >&2 || exit 1
cd "$user_folder" || exit 1
sk_sandbox_begin "$prefix" || exit 1
# A stop request gives the validator its Ctrl-C and the time to write its report.
sk_spawn_tool 30 wine "$validator" "$@"
sk_wait "$!"
