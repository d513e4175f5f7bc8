# shellcheck shell=bash
# Shared shell functions for the project's scripts (scripts/test.sh, scripts/run.sh).
#
# Source it from bash:   . "$(dirname "${BASH_SOURCE[0]}")/lib/sandbox.sh"
#
# Everything that can send the plug-in's UDP broadcast (255.255.255.255:50001) must
# run inside a private network namespace that holds nothing but the loopback device,
# with the broadcast address routed onto it: there the datagram loops back to a
# receiver bound to 0.0.0.0:50001 in the same namespace and goes nowhere else.
# Under Wine the sockets belong to the wineserver, so the wineserver of the prefix
# in use must run inside that namespace too; sk_wine_prefix_prepare makes sure of it.
#
# A typical script (run as `bash scripts/x.sh`; it runs twice: outside, then inside):
#   root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
#   . "$root/scripts/lib/sandbox.sh"
#   sk_in_private_netns || sk_ensure_packages wine wine64 xvfb ...   # outside only: apt-get needs the network
#   sk_enter_private_netns "$root/scripts/x.sh" "$@"  # outside: exec itself inside; inside: set up, return
#   prefix=$root/build/wineprefix-x                   # a prefix of its own, used only in the namespace
#   sk_on_exit sk_xvfb_stop
#   sk_on_exit "sk_wine_stop '$prefix'"               # runs first at exit (last registered first)
#   sk_xvfb_start 80                                  # exports DISPLAY
#   sk_wine_prefix_prepare "$prefix"                  # exports WINEPREFIX...; verifies the server's namespace
#   wine some.exe ...
#
# Functions (one line each):
#   sk_log MSG...                  print "[HH:MM:SS] MSG" on stderr.
#   sk_die MSG...                  print "error: MSG" on stderr and exit 1.
#   sk_on_exit CMD...              run CMD when the shell exits (EXIT/INT/TERM), last registered first.
#   sk_missing_packages PKG...     print the PKGs that dpkg does not have installed, one per line.
#   sk_ensure_packages PKG...      install the missing PKGs with apt-get (update + install only if any is missing).
#   sk_in_private_netns            succeed if this shell runs in a namespace made by sk_enter_private_netns.
#   sk_enter_private_netns SCRIPT [ARGS...]  outside: exec `bash SCRIPT ARGS` in a new network namespace
#                                  (unshare -n, plus -r when not root); inside: set lo up, route the
#                                  broadcast and multicast (224.0.0.0/4) onto it, check the namespace
#                                  is private, and return.
#   sk_assert_private_netns        exit unless this is a private namespace holding only the loopback device.
#   sk_xvfb_start [FIRST]          start Xvfb 1920x1080x24 on the first free display from FIRST (default 90),
#                                  wait until it accepts clients, export DISPLAY and SK_XVFB_PID.
#   sk_xvfb_stop                   stop the Xvfb started by sk_xvfb_start (no-op if none).
#   sk_xvfb_screenshot FILE [WxH+X+Y]  save the screen of $DISPLAY, or that part of it, as PNG FILE
#                                  (ImageMagick's import: package imagemagick).
#   sk_wine_env PREFIX             export WINEPREFIX=PREFIX, WINEARCH=win64, WINEDLLOVERRIDES="mscoree,mshtml="
#                                  and WINEDEBUG (kept if already set, else -all).
#   sk_wine_prefix_prepare PREFIX  inside only: sk_wine_env; stop any wineserver of PREFIX; start a persistent
#                                  one here and verify its namespace; wineboot -i if the prefix is new; set and
#                                  check HKCU X11 Driver Managed=N, WineDbg ShowCrashDialog=0 and the font
#                                  replacement Courier New -> Liberation Mono; verify the namespace again.
#   sk_wineserver_pids [PREFIX]    print the pids of the wineservers serving PREFIX (default $WINEPREFIX).
#   sk_wine_verify_netns [PREFIX]  exit unless a wineserver of PREFIX runs, all in this network namespace.
#   sk_wine_stop [PREFIX]          kill the wineserver of PREFIX (default $WINEPREFIX) and its processes.
#
# Variables: SK_NO_INSTALL=1 makes sk_ensure_packages fail on a missing package instead of installing;
# SK_OUTER_NETNS (set by sk_enter_private_netns) names the namespace the script was started in.

if [[ -n "${SK_SANDBOX_LOADED:-}" ]]; then
    return 0
fi
SK_SANDBOX_LOADED=1

sk_log() {
    printf '[%(%H:%M:%S)T] %s\n' -1 "$*" >&2
}

sk_die() {
    printf 'error: %s\n' "$*" >&2
    exit 1
}

# ---------------------------------------------------------------------------
# Clean-up on exit

SK_EXIT_COMMANDS=()

_sk_run_exit_commands() {
    local status=$? i
    trap - EXIT INT TERM
    for (( i = ${#SK_EXIT_COMMANDS[@]} - 1; i >= 0; i-- )); do
        eval "${SK_EXIT_COMMANDS[i]}" || true
    done
    exit "$status"
}

sk_on_exit() {
    SK_EXIT_COMMANDS+=("$*")
    trap _sk_run_exit_commands EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# ---------------------------------------------------------------------------
# Packages

sk_missing_packages() {
    local installed
    (( $# > 0 )) || return 0
    # One dpkg-query for all: it lists the known ones, with their state.
    installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null \
                | awk '$2 == "installed" { print $1 }')
    printf '%s\n' "$@" | grep -vxF -f <(printf '%s\n' "$installed") || true
}

sk_ensure_packages() {
    local missing sudo=()
    mapfile -t missing < <(sk_missing_packages "$@")
    if (( ${#missing[@]} == 0 )); then
        return 0
    fi
    if [[ "${SK_NO_INSTALL:-}" == 1 ]]; then
        sk_die "missing packages (install them or drop --no-install): ${missing[*]}"
    fi
    if (( EUID != 0 )); then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo=(sudo -n)
        else
            sk_die "missing packages and not root: apt-get install ${missing[*]}"
        fi
    fi
    sk_log "installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null \
        || sk_die "apt-get update failed"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" </dev/null \
        || sk_die "apt-get install failed: ${missing[*]}"
    mapfile -t missing < <(sk_missing_packages "$@")
    if (( ${#missing[@]} > 0 )); then
        sk_die "still missing after apt-get install: ${missing[*]}"
    fi
}

# ---------------------------------------------------------------------------
# Private network namespace

sk_in_private_netns() {
    [[ -n "${SK_OUTER_NETNS:-}" && "$(readlink /proc/self/ns/net)" != "$SK_OUTER_NETNS" ]]
}

sk_assert_private_netns() {
    local here links
    here=$(readlink /proc/self/ns/net)
    if [[ -z "${SK_OUTER_NETNS:-}" || "$here" == "$SK_OUTER_NETNS" ]]; then
        sk_die "not inside a private network namespace (here $here, outside ${SK_OUTER_NETNS:-unknown})"
    fi
    links=$(ip -o link show | awk -F': ' '{ print $2 }' | tr '\n' ' ')
    if [[ "$links" != "lo " ]]; then
        sk_die "the network namespace holds more than the loopback device: $links"
    fi
}

sk_enter_private_netns() {
    local script=$1
    shift
    if ! sk_in_private_netns; then
        local flags=(-n)
        (( EUID == 0 )) || flags+=(-r)
        command -v unshare >/dev/null || sk_die "unshare not found (package util-linux)"
        SK_OUTER_NETNS=$(readlink /proc/self/ns/net)
        export SK_OUTER_NETNS
        exec unshare "${flags[@]}" -- bash "$script" "$@"
    fi
    ip link set lo up || sk_die "cannot bring the loopback device up"
    if ! ip route show 255.255.255.255/32 | grep -q 'dev lo'; then
        ip route add 255.255.255.255/32 dev lo || sk_die "cannot route the broadcast address onto lo"
    fi
    # Multicast too (the listener's groups and multicast relaying), onto lo.
    ip link set lo multicast on || sk_die "cannot turn multicast on for the loopback device"
    if ! ip route show 224.0.0.0/4 | grep -q 'dev lo'; then
        ip route add 224.0.0.0/4 dev lo || sk_die "cannot route multicast onto lo"
    fi
    sk_assert_private_netns
}

# ---------------------------------------------------------------------------
# Xvfb

SK_XVFB_PID=

sk_xvfb_start() {
    local first=${1:-90} n ready pid i log
    [[ -z "$SK_XVFB_PID" ]] || sk_die "Xvfb already started (pid $SK_XVFB_PID)"
    command -v Xvfb >/dev/null || sk_die "Xvfb not found (package xvfb)"
    for (( n = first; n < first + 40; n++ )); do
        # A lock file names a display in use (by any namespace: /tmp is shared).
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
        ready=$(mktemp)
        log=$(mktemp)
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -displayfd 3 3>"$ready" >"$log" 2>&1 &
        pid=$!
        # Xvfb writes the display number to fd 3 once it accepts clients.
        for (( i = 0; i < 100; i++ )); do
            [[ -s "$ready" ]] && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if [[ -s "$ready" ]] && kill -0 "$pid" 2>/dev/null; then
            rm -f "$ready" "$log"
            SK_XVFB_PID=$pid
            export DISPLAY=":$n" SK_XVFB_PID
            sk_log "Xvfb on $DISPLAY (pid $pid)"
            return 0
        fi
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        sk_log "Xvfb :$n did not start: $(tail -n 1 "$log")"
        rm -f "$ready" "$log"
    done
    sk_die "no free X display in :$first-:$((first + 39))"
}

sk_xvfb_stop() {
    [[ -n "$SK_XVFB_PID" ]] || return 0
    kill "$SK_XVFB_PID" 2>/dev/null
    wait "$SK_XVFB_PID" 2>/dev/null
    SK_XVFB_PID=
    return 0
}

sk_xvfb_screenshot() {
    local file=$1 crop=${2:-}
    [[ -n "${DISPLAY:-}" ]] || sk_die "sk_xvfb_screenshot: no DISPLAY"
    command -v import >/dev/null || sk_die "import not found (package imagemagick)"
    if [[ -n "$crop" ]]; then
        import -display "$DISPLAY" -window root -crop "$crop" +repage "png:$file"
    else
        import -display "$DISPLAY" -window root "png:$file"
    fi
}

# ---------------------------------------------------------------------------
# Wine

sk_wine_env() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=${WINEDEBUG:--all}
}

sk_wineserver_pids() {
    local prefix=${1:-$WINEPREFIX} dir proc exe cwd
    [[ -d "$prefix" ]] || return 0
    # A wineserver works in the directory server-<device>-<inode> of its prefix (both hex).
    dir=$(stat -c '%d %i' "$prefix" | { read -r d i; printf 'server-%x-%x' "$d" "$i"; })
    for proc in /proc/[0-9]*; do
        exe=$(readlink "$proc/exe" 2>/dev/null) || continue
        [[ "${exe##*/}" == wineserver* ]] || continue
        cwd=$(readlink "$proc/cwd" 2>/dev/null) || continue
        [[ "${cwd##*/}" == "$dir" ]] && printf '%s\n' "${proc#/proc/}"
    done
    return 0
}

sk_wine_verify_netns() {
    local prefix=${1:-$WINEPREFIX} here pids pid ns
    here=$(readlink /proc/self/ns/net)
    mapfile -t pids < <(sk_wineserver_pids "$prefix")
    (( ${#pids[@]} > 0 )) || sk_die "no wineserver runs for $prefix"
    for pid in "${pids[@]}"; do
        ns=$(readlink "/proc/$pid/ns/net" 2>/dev/null) || sk_die "cannot read the namespace of wineserver $pid"
        if [[ "$ns" != "$here" ]]; then
            sk_die "wineserver $pid of $prefix runs in $ns, not in this namespace $here: refusing to go on"
        fi
    done
    sk_log "wineserver ${pids[*]} of $prefix runs in this network namespace ($here)"
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

_sk_wine_reg_add() {
    wine reg add "$@" /f >/dev/null || sk_die "wine reg add $* failed"
}

_sk_wine_reg_expect() {
    local key=$1 value=$2 expected=$3
    wine reg query "$key" /v "$value" 2>/dev/null | tr -d '\r' | grep -qF "$expected" \
        || sk_die "registry value $key\\$value is not $expected"
}

sk_wine_prefix_prepare() {
    local prefix=$1 stamp
    [[ -n "$prefix" ]] || sk_die "sk_wine_prefix_prepare: no prefix given"
    sk_in_private_netns || sk_die "Wine must run inside the private network namespace"
    command -v wine >/dev/null || sk_die "wine not found (packages wine, wine64)"
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd)
    sk_wine_env "$prefix"
    # A server of this prefix started elsewhere would own our sockets outside.
    sk_wine_stop "$prefix"
    [[ -z "$(sk_wineserver_pids "$prefix")" ]] || sk_die "cannot stop the wineserver of $prefix"
    # Persistent server started here, in this namespace, before any Wine program runs.
    wineserver -p || sk_die "wineserver -p failed"
    sk_wine_verify_netns "$prefix"
    stamp="$prefix/.skarvel-prefix"
    if [[ "$(cat "$stamp" 2>/dev/null)" != "$SK_WINE_PREFIX_STAMP" ]]; then
        sk_log "making Wine prefix $prefix"
        wineboot -i >/dev/null 2>&1 || sk_die "wineboot -i failed for $prefix"
        printf '%s\n' "$SK_WINE_PREFIX_STAMP" >"$stamp"
    fi
    # Applied on every run (a tenth of a second each): the server may not have
    # saved them to disk last time.
    # No window manager: don't wait 2 s on every window hide.
    _sk_wine_reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
    # A crash ends the process instead of waiting on a dialog.
    _sk_wine_reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
    # GDI+ finds no "Courier New" otherwise.
    _sk_wine_reg_add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono'
    _sk_wine_reg_expect 'HKCU\Software\Wine\X11 Driver' Managed N
    _sk_wine_reg_expect 'HKCU\Software\Wine\WineDbg' ShowCrashDialog 0x0
    _sk_wine_reg_expect 'HKCU\Software\Wine\Fonts\Replacements' 'Courier New' 'Liberation Mono'
    # wineboot may have restarted the server: check again what serves the prefix now.
    sk_wine_verify_netns "$prefix"
}
