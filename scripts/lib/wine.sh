# shellcheck shell=bash
# The Wine prefix and its server. Under Wine the sockets belong to the wineserver, so the
# wineserver of the prefix in use must run inside the private network namespace
# (network.sh); sk_wine_prefix_prepare makes sure of it.
#
#   sk_wine_env PREFIX             export WINEPREFIX=PREFIX, WINEARCH=win64, WINEDLLOVERRIDES="mscoree,mshtml="
#                                  and WINEDEBUG (kept if already set, else -all).
#   sk_wine_prefix_prepare PREFIX  inside only: sk_wine_env; stop any wineserver of PREFIX; start a persistent
#                                  one here and verify its namespace; wineboot -i if the prefix is new; import and
#                                  check SK_WINE_SETTINGS (no window manager, no crash dialog, no debugger
#                                  started on a crash, Courier New -> Liberation Mono); verify the namespace again.
#   sk_wineserver_pids [PREFIX]    print the pids of the wineservers serving PREFIX (default $WINEPREFIX).
#   sk_wine_netns_ok [PREFIX]      succeed if a wineserver of PREFIX runs, all in this network namespace.
#   sk_wine_verify_netns [PREFIX]  exit unless sk_wine_netns_ok; say where it runs.
#   sk_wine_stop [PREFIX]          kill the wineserver of PREFIX (default $WINEPREFIX) and its processes.
[[ -z "${SK_WINE_LOADED:-}" ]] || return 0
SK_WINE_LOADED=1
# shellcheck source=scripts/lib/network.sh
. "${BASH_SOURCE[0]%/*}/network.sh"

sk_wine_env() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=${WINEDEBUG:--all}
}

sk_wineserver_pids() {
    local prefix=${1:-$WINEPREFIX} dir comm_file comm pid
    [[ -d "$prefix" ]] || return 0
    # A wineserver works in the directory server-<device>-<inode> of its prefix (both hex).
    dir=$(stat -c '%d %i' "$prefix" | { read -r d i; printf 'server-%x-%x' "$d" "$i"; })
    # (the names with the read builtin: a program per process would take a second)
    for comm_file in /proc/[0-9]*/comm; do
        read -r comm 2>/dev/null <"$comm_file" || continue
        [[ "$comm" == wineserver* ]] || continue
        pid=${comm_file#/proc/}
        pid=${pid%/comm}
        _sk_serves "$pid" "$dir" && printf '%s\n' "$pid"
    done
    return 0
}

_sk_serves() {  # _sk_serves PID DIR: the wineserver PID works in its server directory DIR
    local pid=$1 dir=$2 link fd
    link=$(readlink "/proc/$pid/cwd" 2>/dev/null) || return 1
    [[ "${link##*/}" == "$dir" ]] && return 0
    # It steps out of it for a moment (to open a file relative to a folder, to save
    # the registry), but holds DIR/lock open from its start, on a low descriptor.
    for fd in {3..15}; do
        link=$(readlink "/proc/$pid/fd/$fd" 2>/dev/null) || continue
        [[ "$link" == */"$dir"/lock ]] && return 0
    done
    return 1
}

sk_wine_netns_ok() {
    local prefix=${1:-$WINEPREFIX} here pids pid
    here=$(readlink /proc/self/ns/net)
    mapfile -t pids < <(sk_wineserver_pids "$prefix")
    (( ${#pids[@]} > 0 )) || return 1
    for pid in "${pids[@]}"; do
        [[ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" == "$here" ]] || return 1
    done
}

sk_wine_verify_netns() {
    local prefix=${1:-$WINEPREFIX} here
    here=$(readlink /proc/self/ns/net)
    sk_wine_netns_ok "$prefix" ||
        sk_die "no wineserver of $prefix runs, or one runs outside this network namespace ($here): refusing to go on"
    sk_log "wineserver $(sk_wineserver_pids "$prefix" | tr '\n' ' ')of $prefix runs in this network namespace ($here)"
}

sk_wine_stop() {
    local prefix=${1:-$WINEPREFIX} i
    [[ -n "$prefix" && -d "$prefix" ]] || return 0
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
    for (( i = 0; i < 50; i++ )); do
        [[ -z "$(sk_wineserver_pids "$prefix")" ]] && return 0
        sleep 0.1
    done
    sk_log "wineserver of $prefix still running after wineserver -k"
    return 0
}

# Written into a prefix once wineboot has made it.
SK_WINE_PREFIX_STAMP="skarvel prefix v1"

# The prefix's settings (see docs/wine.md), imported as one registry file.
SK_WINE_SETTINGS='REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Courier New"="Liberation Mono"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=-
'

# _sk_wine_settings_problem: what of SK_WINE_SETTINGS the registry does not hold; nothing if all.
_sk_wine_settings_problem() {
    local wine_keys debugger
    wine_keys=$(wine reg query 'HKCU\Software\Wine' /s 2>&1 | tr -d '\r')
    grep -qE '^ +Managed +REG_SZ +N$' <<<"$wine_keys" || echo "X11 Driver\\Managed is not N"
    grep -qE '^ +ShowCrashDialog +REG_DWORD +0x0$' <<<"$wine_keys" || echo "WineDbg\\ShowCrashDialog is not 0"
    grep -qE '^ +Courier New +REG_SZ +Liberation Mono$' <<<"$wine_keys" ||
        echo "Fonts\\Replacements\\Courier New is not Liberation Mono"
    debugger=$(wine reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger 2>/dev/null |
               tr -d '\r' | grep -E '^ +Debugger ')
    [[ -z "$debugger" ]] || echo "AeDebug\\Debugger is set:$debugger"
}

# The server that `wineserver -p` starts detaches and enters its prefix's server
# directory a moment after the command returns: wait for it (5 s at most).
_sk_wait_for_wineserver() {
    local i
    for (( i = 0; i < 50; i++ )); do
        [[ -n "$(sk_wineserver_pids "$1")" ]] && return 0
        sleep 0.1
    done
    return 0  # sk_wine_verify_netns says what is missing
}

sk_wine_prefix_prepare() {
    local prefix=$1 stamp settings status problem
    [[ -n "$prefix" ]] || sk_die "sk_wine_prefix_prepare: no prefix given"
    sk_in_private_netns || sk_die "Wine must run inside the private network namespace"
    command -v wine >/dev/null || sk_die "wine not found (packages wine, wine64)"
    # Debian's wine64 only suggests its preloader; without it a Wine program fails to start
    # now and then (docs/wine.md, "Programs that fail to start").
    [[ ! -x /usr/lib/wine/wine64 || -x /usr/lib/wine/wine64-preloader ]] ||
        sk_die "/usr/lib/wine/wine64-preloader not found (package wine64-preloader): without it a Wine program fails to start now and then"
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd)
    sk_wine_env "$prefix"
    # A server of this prefix started elsewhere would own our sockets outside.
    sk_wine_stop "$prefix"
    [[ -z "$(sk_wineserver_pids "$prefix")" ]] || sk_die "cannot stop the wineserver of $prefix"
    # Persistent server started here, in this namespace, before any Wine program runs.
    # It holds a descriptor for every socket and file its programs have open: with
    # the hard limit on them (Wine's programs raise their own so), not a soft 1024.
    ( ulimit -n "$(ulimit -Hn)" 2>/dev/null; wineserver -p ) || sk_die "wineserver -p failed"
    _sk_wait_for_wineserver "$prefix"
    sk_wine_verify_netns "$prefix"
    stamp="$prefix/.skarvel-prefix"
    if [[ "$(cat "$stamp" 2>/dev/null)" != "$SK_WINE_PREFIX_STAMP" ]]; then
        sk_log "making Wine prefix $prefix"
        wineboot -i >/dev/null 2>&1 || sk_die "wineboot -i failed for $prefix"
        printf '%s\n' "$SK_WINE_PREFIX_STAMP" >"$stamp"
    fi
    # Applied on every run: the server may not have saved them to disk last time.
    settings=$(mktemp --suffix=.reg)
    printf '%s' "$SK_WINE_SETTINGS" >"$settings"
    wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1
    status=$?
    rm -f "$settings"
    problem=$(_sk_wine_settings_problem)
    [[ -z "$problem" ]] || sk_die "wine reg import (exit $status) left the settings of $prefix undone: ${problem//$'\n'/; }"
    # wineboot may have restarted the server: check again what serves the prefix now.
    _sk_wait_for_wineserver "$prefix"
    sk_wine_verify_netns "$prefix"
}
