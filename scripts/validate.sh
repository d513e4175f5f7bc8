#!/usr/bin/env bash
# Validates a plug-in DLL safely: bash scripts/validate.sh PLUGIN.dll [VALIDATOR OPTIONS...]
#
# Builds the validator (build/windows, once) and runs it on PLUGIN.dll, under Wine, in the
# sandbox of scripts/sandboxed.sh: a private network namespace (whatever the plug-in sends
# stays on this machine), a virtual display, and a Wine prefix prepared as the tests use
# it (build/wineprefix-sandboxed). It runs in the current folder, so the paths of
# --json FILE, --junit FILE and PLUGIN.dll are the caller's own, and exits with the
# validator's status: 0 every check passed, 1 one failed, 2 a wrong command line.
# Examples:
#     bash scripts/validate.sh my_plugin.dll
#     bash scripts/validate.sh my_plugin.dll --quick --junit validate.xml
# The validator's options: bash scripts/validate.sh --options (its --help).
# A PLUGIN.dll that is missing, no DLL, or a 32-bit one: one line, exit 2.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"

validator=$root/build/windows/tools/validate/validate.exe
case ${1:-} in
    ""|-h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}"; exit 0 ;;
    --options) shift; set -- --help ;;
    -*) printf 'error: the plug-in DLL comes first: bash scripts/validate.sh PLUGIN.dll [OPTIONS...]\n' >&2; exit 2 ;;
    *)
        sk_check_plugin_dll "$1"
        plugin=$1
        shift
        set -- "$@" "$plugin" ;;
esac

sk_ensure_packages "${SK_PACKAGES[@]}"
log=$root/build/logs/validate-build.log
mkdir -p "${log%/*}"
( cd "$root" && sk_run sk_cmake_build windows "$log" --target validate ) >&2 || exit 1
exec bash "$root/scripts/sandboxed.sh" -- wine "$validator" "$@"
