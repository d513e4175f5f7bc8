# shellcheck shell=bash
# Shared shell functions of the project's scripts (test.sh, run.sh, sandboxed.sh, validate.sh)
# and of the Windows tests' Wine launcher.
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
# Sourcing it also makes SIGINT (Ctrl-C), SIGTERM and SIGHUP end the script at once with
# status 130, 143 or 129, after ending its jobs and running its exit commands.
#
# A typical script (run as `bash scripts/x.sh`; it runs twice: outside, then inside):
#   root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
#   . "$root/scripts/lib/sandbox.sh"
#   sk_in_private_netns || sk_ensure_packages "${SK_PACKAGES[@]}"  # outside only: apt-get needs the network
#   sk_enter_private_netns "$root/scripts/x.sh" "$@"  # outside: exec itself inside; inside: set up, return
#   sk_sandbox_begin "$root/build/wineprefix-x"       # display, Wine prefix and server, all inside
#   sk_run wine some.exe ...
#
# Functions (one line each):
#   sk_log MSG...                  print "[HH:MM:SS] MSG" on stderr.
#   sk_die MSG...                  print "error: MSG" on stderr and exit 1.
#   sk_spawn CMD [ARGS...]         start CMD (a command or a function) as a job: in the background, in a
#                                  process group of its own, stdin from /dev/null; its pid is in $!.
#   sk_wait PID                    wait for the job PID; return its exit status.
#   sk_run CMD [ARGS...]           sk_spawn CMD, then sk_wait for it: how to run anything that takes long.
#   sk_stop_job PID                end the job PID's process group (SIGTERM) and wait for it.
#   sk_on_exit CMD [ARGS...]       run CMD when the script exits, after SIGTERM to the jobs still running,
#                                  last registered first.
#   sk_missing_packages PKG...     print the PKGs that dpkg does not have installed, one per line.
#   sk_ensure_packages PKG...      install the missing PKGs with apt-get (update + install only if any is missing).
#   sk_in_private_netns            succeed if this shell runs in a namespace made by sk_enter_private_netns.
#   sk_enter_private_netns SCRIPT [ARGS...]  outside: exec `bash SCRIPT ARGS` in a new network namespace
#                                  (unshare -n, plus -r when not root); inside: set lo up, route the
#                                  broadcast and multicast addresses onto it, check the namespace is
#                                  private, and return.
#   sk_only_loopback               succeed if this network namespace holds the loopback device and no other.
#   sk_assert_private_netns        exit unless this is a private namespace holding only the loopback device.
#   sk_xvfb_start                  start Xvfb 1920x1080x24 on a display it picks itself, wait until it
#                                  accepts clients, export DISPLAY and SK_XVFB_PID.
#   sk_xvfb_screenshot FILE [WxH+X+Y]  save the screen of $DISPLAY, or that part of it, as PNG FILE
#                                  (ImageMagick's import: package imagemagick).
#   sk_wine_env PREFIX             export WINEPREFIX=PREFIX, WINEARCH=win64, WINEDLLOVERRIDES="mscoree,mshtml="
#                                  and WINEDEBUG (kept if already set, else -all).
#   sk_wine_prefix_prepare PREFIX  inside only: sk_wine_env; stop any wineserver of PREFIX; start a persistent
#                                  one here and verify its namespace; wineboot -i if the prefix is new; set and
#                                  check HKCU X11 Driver Managed=N, WineDbg ShowCrashDialog=0 and the font
#                                  replacement Courier New -> Liberation Mono; verify the namespace again.
#   sk_sandbox_prepare_beside PREFIX LOG  inside only: Xvfb, and PREFIX prepared as a job (output in LOG),
#                                  for a script that builds meanwhile; sk_sandbox_begin waits for it.
#   sk_sandbox_begin PREFIX        inside only: Xvfb (unless started), PREFIX prepared, its wineserver stopped
#                                  at exit, and the Wine environment exported; shows the log and fails if not.
#   sk_cmake_build PRESET LOG [BUILD OPTIONS...]  configure and build a preset of CMakePresets.json, the
#                                  output into LOG; shows its end and fails if either step fails. Run it as
#                                  a job (sk_run sk_cmake_build ...): Ctrl-C then ends the build with it.
#   sk_wineserver_pids [PREFIX]    print the pids of the wineservers serving PREFIX (default $WINEPREFIX).
#   sk_wine_netns_ok [PREFIX]      succeed if a wineserver of PREFIX runs, all in this network namespace.
#   sk_wine_verify_netns [PREFIX]  exit unless sk_wine_netns_ok; say where it runs.
#   sk_wine_stop [PREFIX]          kill the wineserver of PREFIX (default $WINEPREFIX) and its processes.
#   sk_sandbox_problem             succeed silently in a sandbox where Windows programs may run (a private
#                                  namespace with only lo, DISPLAY, a WINEPREFIX served from here); else
#                                  print what is missing and fail.
#   sk_check_plugin_dll PATH       exit 2 with one line on stderr unless PATH is a 64-bit (x64) Windows DLL.
#
# Variables: SK_PACKAGES, every Debian package the scripts and the tests need; SK_NO_INSTALL=1 makes
# sk_ensure_packages fail on a missing package instead of installing; SK_OUTER_NETNS (set by
# sk_enter_private_netns) names the namespace the script was started in.

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
# Jobs, interrupts and clean-up
#
# A long-running command runs as a job (sk_run, sk_spawn): in the background, in a
# process group of its own, awaited with `wait`, which a signal interrupts at once.
# SIGINT (Ctrl-C at the terminal, or sent to the script alone), SIGTERM and SIGHUP end
# the script with status 130, 143 or 129: the process groups of its jobs are ended,
# its exit commands run (last registered first), and nothing else of the script runs.

SK_JOBS=()         # the process group of every job started and not yet awaited
SK_EXIT_COUNT=0    # exit command n is the array SK_EXIT_n

sk_spawn() {
    # Job control for this one fork only: the job gets a process group of its own, so
    # that it can be ended whole, and keeps the default action of SIGINT.
    set -m
    "$@" </dev/null &
    set +m
    SK_JOBS+=("$!")
}

sk_wait() {
    local status=0
    wait "$1" || status=$?
    _sk_forget_job "$1"
    return "$status"
}

sk_run() {
    sk_spawn "$@"
    sk_wait "$!"
}

sk_stop_job() {
    kill -TERM -- "-$1" 2>/dev/null
    wait "$1" 2>/dev/null
    _sk_forget_job "$1"
    return 0
}

sk_on_exit() {
    local -n _sk_command="SK_EXIT_$SK_EXIT_COUNT"
    _sk_command=("$@")
    SK_EXIT_COUNT=$(( SK_EXIT_COUNT + 1 ))
}

_sk_forget_job() {
    local i
    for i in "${!SK_JOBS[@]}"; do
        [[ "${SK_JOBS[i]}" == "$1" ]] && unset 'SK_JOBS[i]'
    done
    return 0
}

_sk_run_exit_command() {
    local -n _sk_command="SK_EXIT_$1"
    "${_sk_command[@]}"
}

_sk_signal_jobs() {
    local pgid
    for pgid in "${SK_JOBS[@]}"; do
        kill "-$1" -- "-$pgid" 2>/dev/null
    done
    return 0
}

_sk_jobs_gone() {
    local pgid
    for pgid in "${SK_JOBS[@]}"; do
        kill -0 -- "-$pgid" 2>/dev/null && return 1
    done
    return 0
}

_sk_exit() {
    local status=$? i
    # A second Ctrl-C must not cut the clean-up short.
    trap '' INT TERM HUP
    trap - EXIT
    _sk_signal_jobs TERM
    for (( i = SK_EXIT_COUNT - 1; i >= 0; i-- )); do
        _sk_run_exit_command "$i" || true
    done
    for (( i = 0; i < 50; i++ )); do
        _sk_jobs_gone && exit "$status"
        sleep 0.1
    done
    sk_log "jobs still running 5 s after SIGTERM: killed"
    _sk_signal_jobs KILL
    exit "$status"
}

trap _sk_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# ---------------------------------------------------------------------------
# Packages

# The one list: what the test command, the main job and the runners need on Debian 12.
SK_PACKAGES=(
    g++ cmake ninja-build libgtest-dev libbenchmark-dev python3 # native and sanitize builds, tests
    clang libclang-rt-14-dev llvm lld                           # fuzz and clang builds, symbolized reports
    g++-mingw-w64-x86-64-posix                                  # windows build
    wine wine64 xvfb xauth fonts-liberation                     # the plug-in and the tools under Wine
    imagemagick x11-utils python3-matplotlib                    # the main job's picture and plot
    iproute2 util-linux procps                                  # the private network namespace
    clang-format clang-tidy tshark                              # layout and lint; the datagram in Wireshark
)

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
    # In the foreground, not as a job: a Ctrl-C at the terminal reaches apt-get, which
    # stops cleanly, but a SIGINT to this script alone waits for it rather than cut
    # dpkg short halfway through an installation.
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

sk_only_loopback() {
    # (sysfs may show another namespace's devices: ask netlink, through ip)
    [[ "$(ip -o link show 2>/dev/null | awk -F': ' '{ print $2 }' | tr '\n' ' ')" == "lo " ]]
}

sk_assert_private_netns() {
    local here
    here=$(readlink /proc/self/ns/net)
    if [[ -z "${SK_OUTER_NETNS:-}" || "$here" == "$SK_OUTER_NETNS" ]]; then
        sk_die "not inside a private network namespace (here $here, outside ${SK_OUTER_NETNS:-unknown})"
    fi
    sk_only_loopback || sk_die "the network namespace holds more than the loopback device: $(ip -o link show)"
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
    ip link set lo multicast on || sk_die "cannot turn multicast on for the loopback device"
    if ! ip route show 255.255.255.255/32 | grep -q 'dev lo'; then
        ip route add 255.255.255.255/32 dev lo || sk_die "cannot route the broadcast address onto lo"
    fi
    if ! ip route show 224.0.0.0/4 | grep -q 'dev lo'; then
        ip route add 224.0.0.0/4 dev lo || sk_die "cannot route the multicast addresses onto lo"
    fi
    sk_assert_private_netns
}

# ---------------------------------------------------------------------------
# Xvfb

SK_XVFB_PID=

sk_xvfb_start() {
    local ready log pid i failure
    [[ -z "$SK_XVFB_PID" ]] || sk_die "Xvfb already started (pid $SK_XVFB_PID)"
    command -v Xvfb >/dev/null || sk_die "Xvfb not found (package xvfb)"
    ready=$(mktemp)
    log=$(mktemp)
    # Given no display, Xvfb takes the first free one and, once it accepts
    # clients, writes its number to the file descriptor of -displayfd.
    sk_spawn Xvfb -screen 0 1920x1080x24 -nolisten tcp -displayfd 3 3>"$ready" >"$log" 2>&1
    pid=$!
    for (( i = 0; i < 100; i++ )); do
        [[ -s "$ready" ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s "$ready" ]] || ! kill -0 "$pid" 2>/dev/null; then
        sk_stop_job "$pid"
        failure=$(tail -n 1 "$log")
        rm -f "$ready" "$log"
        sk_die "Xvfb did not start: $failure"
    fi
    SK_XVFB_PID=$pid
    export DISPLAY=":$(<"$ready")" SK_XVFB_PID
    rm -f "$ready" "$log"
    sk_log "Xvfb on $DISPLAY (pid $pid)"
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

# _sk_thrice COMMAND...: COMMAND, up to three times until it succeeds. Under load Wine
# now and then ends a program before it has done anything, without a word.
_sk_thrice() {
    local _
    for _ in 1 2 3; do
        "$@" && return 0
    done
    return 1
}

_sk_wine_reg_add() {
    _sk_thrice wine reg add "$@" /f >/dev/null || sk_die "wine reg add $* failed"
}

_sk_wine_reg_has() {  # _sk_wine_reg_has KEY VALUE EXPECTED
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -qF "$3"
}

_sk_wine_reg_expect() {
    _sk_thrice _sk_wine_reg_has "$@" || sk_die "registry value $1\\$2 is not $3"
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
    _sk_wait_for_wineserver "$prefix"
    sk_wine_verify_netns "$prefix"
}

SK_SANDBOX_PREP_PID=

sk_sandbox_prepare_beside() {
    local prefix=$1 log=$2
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
    sk_spawn sk_wine_prefix_prepare "$prefix" >"$log" 2>&1
    SK_SANDBOX_PREP_PID=$!
}

sk_sandbox_begin() {
    local prefix=$1 log
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    mkdir -p "$prefix" || sk_die "cannot make the Wine prefix folder $prefix"
    prefix=$(cd "$prefix" && pwd)
    if [[ -n "$SK_SANDBOX_PREP_PID" ]]; then
        sk_wait "$SK_SANDBOX_PREP_PID"  # (what failed there fails again below, with its log)
        SK_SANDBOX_PREP_PID=
    fi
    [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
    sk_on_exit sk_wine_stop "$prefix"
    log=$(mktemp)
    # (in a subshell: its failure ends only the subshell, and its log is shown)
    if ! ( sk_wine_prefix_prepare "$prefix" ) >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        printf 'error: the Wine prefix %s could not be prepared\n' "$prefix" >&2
        return 1
    fi
    rm -f "$log"
    sk_wine_env "$prefix"
}

sk_cmake_build() {
    local preset=$1 log=$2
    shift 2
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" "$@"; } >"$log" 2>&1; then
        # The compiler's and CMake's words, without ninja's progress lines.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 100
        printf 'error: the %s build failed (its log: %s)\n' "$preset" "$log" >&2
        return 1
    fi
}

sk_sandbox_problem() {
    if ! sk_only_loopback; then
        echo "not in a private network namespace that holds only the loopback device"
    elif [[ -z "${WINEPREFIX:-}" ]]; then
        echo "no WINEPREFIX (Wine would use ~/.wine)"
    elif [[ -z "${DISPLAY:-}" ]]; then
        echo "no DISPLAY"
    elif ! sk_wine_netns_ok "$WINEPREFIX"; then
        echo "no wineserver of $WINEPREFIX runs in this network namespace"
    else
        return 0
    fi
    return 1
}

# ---------------------------------------------------------------------------
# Plug-in DLLs

# The PE header's fields, little-endian: the offset of the "PE\0\0" signature at 0x3c,
# then the machine (0x8664 for x64) and, 18 bytes on, the characteristics (0x2000: a DLL).
_sk_le() {  # _sk_le FILE OFFSET BYTES: the unsigned little-endian number there, or nothing
    od -An -t u"$3" -j "$2" -N "$3" --endian=little "$1" 2>/dev/null | tr -d ' '
}

sk_check_plugin_dll() {
    local path=$1 pe machine flags
    if [[ ! -e "$path" ]]; then
        printf 'error: %s: no such file\n' "$path" >&2
        exit 2
    fi
    if [[ -d "$path" ]]; then
        printf 'error: %s: a folder, not a DLL\n' "$path" >&2
        exit 2
    fi
    if [[ ! -f "$path" || ! -r "$path" ]]; then
        printf 'error: %s: not a readable file\n' "$path" >&2
        exit 2
    fi
    pe=$(_sk_le "$path" 60 4)
    if [[ "$(head -c 2 "$path" 2>/dev/null)" != MZ || -z "$pe" ||
          "$(od -An -c -j "$pe" -N 4 "$path" 2>/dev/null | tr -d ' ')" != 'PE\0\0' ]]; then
        printf 'error: %s: not a Windows DLL (no PE header)\n' "$path" >&2
        exit 2
    fi
    machine=$(_sk_le "$path" $(( pe + 4 )) 2)
    flags=$(_sk_le "$path" $(( pe + 22 )) 2)
    if (( (flags & 0x2000) == 0 )); then
        printf 'error: %s: a Windows program, not a DLL\n' "$path" >&2
        exit 2
    fi
    if (( machine != 0x8664 )); then
        if (( machine == 0x14c )); then
            printf 'error: %s: a 32-bit DLL; the host loads 64-bit (x64) plug-ins only\n' "$path" >&2
        else
            printf 'error: %s: a DLL for machine 0x%x, not 64-bit x64\n' "$path" "$machine" >&2
        fi
        exit 2
    fi
}
