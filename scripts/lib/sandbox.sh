# shellcheck shell=bash
# The sandbox in which the project's Windows programs run: a private network namespace
# (network.sh), a virtual display (display.sh) and a Wine prefix whose server runs inside
# the namespace (wine.sh). Sourcing this file sources those and jobs.sh: each says what
# it holds. The scripts source packages.sh, builds.sh and plugin_dll.sh where they need them.
#
# A typical script (run as `bash scripts/x.sh`; it runs twice: outside, then inside):
#   root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
#   . "$root/scripts/lib/sandbox.sh"; . "$root/scripts/lib/packages.sh"
#   sk_in_private_netns || sk_ensure_packages "${SK_PACKAGES[@]}"  # outside only: apt-get needs the network
#   sk_enter_private_netns "$root/scripts/x.sh" "$@"  # outside: exec itself inside; inside: set up, return
#   sk_sandbox_begin "$root/build/wineprefix-x"       # display, Wine prefix and server, all inside
#   sk_run wine some.exe ...
#
#   sk_sandbox_prepare_beside PREFIX LOG  inside only: Xvfb, and PREFIX prepared as a job (output in LOG),
#                                  for a script that builds meanwhile; sk_sandbox_begin waits for it.
#   sk_sandbox_begin PREFIX        inside only: Xvfb (unless started), PREFIX prepared, its wineserver stopped
#                                  at exit, and the Wine environment exported; shows the log and fails if not.
#   sk_sandbox_problem             succeed silently in a sandbox where Windows programs may run (a private
#                                  namespace with only lo, DISPLAY, a WINEPREFIX served from here); else
#                                  print what is missing and fail.
[[ -z "${SK_SANDBOX_LOADED:-}" ]] || return 0
SK_SANDBOX_LOADED=1
for _sk_lib in jobs network display wine; do
    # shellcheck source=/dev/null
    . "${BASH_SOURCE[0]%/*}/$_sk_lib.sh"
done
unset _sk_lib

SK_SANDBOX_PREP_PID=
SK_SANDBOX_PREP_LOG=

# _sk_prefix_path PREFIX: the folder, made if new, as an absolute path.
_sk_prefix_path() {
    mkdir -p "$1" 2>/dev/null || sk_die "cannot make the Wine prefix folder $1"
    (cd "$1" && pwd)
}

# _sk_outer_sandbox PREFIX: this runs inside a sandbox that serves PREFIX already (a
# runner started in a sandboxed.sh shell, the SDK's test in the test command's sandbox).
_sk_outer_sandbox() {
    [[ "${SK_SANDBOX_PREFIX:-}" == "$1" ]] && sk_sandbox_problem >/dev/null
}

sk_sandbox_prepare_beside() {
    local prefix log=$2
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    prefix=$(_sk_prefix_path "$1") || exit
    _sk_outer_sandbox "$prefix" && return 0
    sk_hold_prefix "$prefix"
    [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
    sk_spawn sk_wine_prefix_prepare "$prefix" >"$log" 2>&1
    SK_SANDBOX_PREP_PID=$!
    SK_SANDBOX_PREP_LOG=$log
}

sk_sandbox_begin() {
    local prefix log status=0
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    prefix=$(_sk_prefix_path "$1") || exit
    if _sk_outer_sandbox "$prefix"; then
        sk_wine_env "$prefix"
        return 0
    fi
    if [[ -z "$SK_SANDBOX_PREP_PID" ]]; then
        sk_hold_prefix "$prefix"
        [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
        log=$(mktemp)
        # (as a job: a stop request ends it at once)
        sk_run sk_wine_prefix_prepare "$prefix" >"$log" 2>&1 || status=$?
    else
        log=$SK_SANDBOX_PREP_LOG
        sk_wait "$SK_SANDBOX_PREP_PID" || status=$?
        SK_SANDBOX_PREP_PID=
    fi
    if (( status != 0 )); then
        cat "$log" >&2
        printf 'error: the Wine prefix %s could not be prepared\n' "$prefix" >&2
        return 1
    fi
    [[ "$log" == "${SK_SANDBOX_PREP_LOG:-}" ]] || rm -f "$log"
    sk_wine_env "$prefix"
    export SK_SANDBOX_PREFIX=$prefix
}

# sk_hold_prefix PREFIX: PREFIX is this run's until it ends: no other run prepares or
# stops its server meanwhile. A run that finds it held by another live run is refused at
# once (exit 75); one held only by what a killed run left behind (its Wine server and
# programs) stops those and takes it. When this run exits, the prefix's server and every
# process still holding the prefix stop (_sk_release_prefix). Inside
# a sandbox of PREFIX already, nothing is done: the run that made it holds it. A
# script holds its prefix before anything else, outside the namespace: the hold goes
# with it into the namespace (sk_enter_private_netns), where this is called again.
sk_hold_prefix() {
    local prefix lock owner
    prefix=$(_sk_prefix_path "$1") || exit
    _sk_outer_sandbox "$prefix" && return 0  # (the outer sandbox's run holds it)
    if [[ "${SK_HELD_PREFIX:-}" == "$$ $prefix" ]]; then
        # (held since before an exec: its release is registered once in this process image)
        [[ "${_SK_RELEASING:-}" == "$prefix" ]] || sk_on_exit _sk_release_prefix "$prefix"
        _SK_RELEASING=$prefix
        return 0
    fi
    lock=$prefix/.skarvel-run.lock
    exec {SK_PREFIX_LOCK}<>"$lock" || sk_die "cannot open $lock"
    if ! flock -n "$SK_PREFIX_LOCK"; then
        read -r owner <"$lock"
        # (no owner yet: a run that has just taken it)
        if [[ -z "$owner" || "$(_sk_process_identity "${owner%% *}")" == "$owner" ]]; then
            printf 'error: the Wine prefix %s is in use by another run (pid %s): wait for it to end, or give this run a prefix of its own (--wine-prefix DIR or SKARVEL_WINEPREFIX)\n' \
                "$prefix" "${owner%% *}" >&2
            exit 75
        fi
        _sk_release_prefix "$prefix"
        if ! flock -w 5 "$SK_PREFIX_LOCK"; then
            printf 'error: the Wine prefix %s is held by processes of a run that has ended, which will not end: %s\n' \
                "$prefix" "$(_sk_lock_holders "$lock" holders; echo "${holders[*]}")" >&2
            exit 75
        fi
    fi
    _sk_process_identity "$$" >"$lock"
    export SK_HELD_PREFIX="$$ $prefix"
    sk_on_exit _sk_release_prefix "$prefix"
    _SK_RELEASING=$prefix
}

# _sk_release_prefix PREFIX: its wineserver and its programs stopped, and every other
# process that holds the prefix's lock: they all come from the run that held it (Wine's
# programs inherit the lock, and outlive a server that crashed; sk_wine_stop cannot reach
# those), so a run leaves nothing behind, however its Wine server ended.
_sk_release_prefix() {
    local lock=$1/.skarvel-run.lock pids=() i signal=TERM
    sk_wine_stop "$1"
    for (( i = 0; i < 30; i++ )); do
        _sk_lock_holders "$lock" pids
        (( ${#pids[@]} > 0 )) || return 0
        (( i < 20 )) || signal=KILL
        kill "-$signal" "${pids[@]}" 2>/dev/null
        sleep 0.1
    done
    return 0
}

# _sk_lock_holders LOCK ARRAY: ARRAY = the pids of the processes, this shell aside, that
# hold LOCK open. Inside a private namespace those of the namespace (every process of a
# run lives in its namespace), read with the shell's own tests, no program per process;
# outside (the leftovers of another run), fuser's answer, through a file from a subshell
# that has let the lock go, so that no helper process counts among the holders.
_sk_lock_holders() {
    local -n _sk_pids=$2
    local answer process descriptor
    _sk_pids=()
    if sk_in_private_netns; then
        for process in /proc/[0-9]*; do
            [[ "${process#/proc/}" != "$$" && $process/ns/net -ef /proc/$$/ns/net ]] || continue
            for descriptor in "$process"/fd/*; do
                if [[ $descriptor -ef $1 ]]; then
                    _sk_pids+=("${process#/proc/}")
                    break
                fi
            done
        done
        return 0
    fi
    answer=$(mktemp) || return 1
    (
        [[ -z "${SK_PREFIX_LOCK:-}" ]] || exec {SK_PREFIX_LOCK}>&-
        fuser "$1" >"$answer" 2>/dev/null
    )
    read -r -a _sk_pids <"$answer"
    rm -f "$answer"
    local i
    for i in "${!_sk_pids[@]}"; do
        [[ "${_sk_pids[i]}" != "$$" ]] || unset '_sk_pids[i]'
    done
}

_sk_process_identity() {  # _sk_process_identity PID: "PID START-TIME", or nothing if it has ended
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    read -r -a stat <<<"$stat"
    printf '%s %s\n' "$1" "${stat[19]}"
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
