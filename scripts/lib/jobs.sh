# shellcheck shell=bash
# Jobs, stop requests and clean-up, for every script of the project.
#
# A long-running command runs as a job (sk_run, sk_spawn): in the background, in a
# process group of its own, awaited with `wait`, which a signal interrupts at once.
# Sourcing this file makes SIGINT (Ctrl-C), SIGTERM and SIGHUP end the script with
# status 130, 143 or 129: its jobs are stopped, its exit commands run (last registered
# first), and nothing else of the script runs.
#
# A job that is one of the project's tools (sk_spawn_tool) is asked to stop as Ctrl-C
# asks, with SIGINT, and given time to keep its promise (its recording committed, its
# summary said) before anything else is stopped: under Wine SIGINT is the one signal
# a Windows program hears (Wine turns it into a Ctrl-C event; SIGTERM and SIGHUP end it
# at once, mid-write). Other jobs get SIGTERM; whatever still runs 5 s later, SIGKILL.
#
#   sk_log MSG...            print "[HH:MM:SS] MSG" on stderr.
#   sk_die MSG...            print "error: MSG" on stderr and exit 1.
#   sk_spawn CMD [ARGS...]   start CMD (a command or a function) as a job: in the background, in a
#                            process group of its own, stdin from /dev/null; its pid is in $!.
#   sk_wait PID              wait for the job PID; return its exit status.
#   sk_run CMD [ARGS...]     sk_spawn CMD, then sk_wait for it: how to run anything that takes long.
#   sk_spawn_tool GRACE CMD [ARGS...]  sk_spawn for a tool that stops on Ctrl-C: stopped with SIGINT
#                            and up to GRACE seconds to end, then as any other job.
#   sk_stop_job PID          stop the job PID's process group (as above) and wait for it.
#   sk_wait_at_most SECONDS PID  sk_wait, but stop the job after SECONDS: then status 124.
#   sk_on_exit CMD [ARGS...] run CMD when the script exits, after SIGTERM to the jobs still running,
#                            last registered first.
[[ -z "${SK_JOBS_LOADED:-}" ]] || return 0
SK_JOBS_LOADED=1

sk_log() {
    printf '[%(%H:%M:%S)T] %s\n' -1 "$*" >&2
}

sk_die() {
    printf 'error: %s\n' "$*" >&2
    exit 1
}

SK_JOBS=()         # the process group of every job started and not yet awaited
SK_EXIT_COUNT=0    # exit command n is the array SK_EXIT_n
declare -A SK_GRACE=()  # the seconds a tool job (by process group) has to end after SIGINT

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

sk_spawn_tool() {
    local grace=$1
    shift
    sk_spawn "$@"
    SK_GRACE[$!]=$grace
}

sk_stop_job() {
    _sk_stop_jobs "$1"
    wait "$1" 2>/dev/null
    _sk_forget_job "$1"
    return 0
}

sk_wait_at_most() {
    local seconds=$1 pid=$2
    if ! _sk_wait_gone $(( seconds * 10 )) "$pid"; then
        sk_stop_job "$pid"
        return 124
    fi
    sk_wait "$pid"
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
    unset 'SK_GRACE[$1]'
    return 0
}

_sk_run_exit_command() {
    local -n _sk_command="SK_EXIT_$1"
    "${_sk_command[@]}"
}

_sk_alive() {  # _sk_alive PGID: a process of the group runs (one ended and not awaited does not)
    pgrep -g "$1" -r R,S,D,T,t >/dev/null 2>&1
}

_sk_wait_gone() {  # _sk_wait_gone TENTHS PGID...: until none of the groups runs, TENTHS/10 s at most
    local tenths=$1 pgid i
    shift
    for (( i = 0; i < tenths; i++ )); do
        for pgid in "$@"; do
            if _sk_alive "$pgid"; then
                sleep 0.1
                continue 2
            fi
        done
        return 0
    done
    return 1
}

# _sk_stop_jobs PGID...: the tools among them SIGINT and their grace, then all SIGTERM,
# and after 5 s SIGKILL.
_sk_stop_jobs() {
    local pgid grace=0 tools=() live=()
    for pgid in "$@"; do
        [[ -n "${SK_GRACE[$pgid]:-}" ]] && _sk_alive "$pgid" || continue
        kill -INT -- "-$pgid" 2>/dev/null && tools+=("$pgid")
        (( SK_GRACE[$pgid] <= grace )) || grace=${SK_GRACE[$pgid]}
    done
    if (( ${#tools[@]} > 0 )) && ! _sk_wait_gone $(( grace * 10 )) "${tools[@]}"; then
        sk_log "still running ${grace} s after Ctrl-C: stopped"
    fi
    for pgid in "$@"; do
        _sk_alive "$pgid" && kill -TERM -- "-$pgid" 2>/dev/null && live+=("$pgid")
    done
    if (( ${#live[@]} == 0 )) || _sk_wait_gone 50 "${live[@]}"; then
        return 0
    fi
    sk_log "jobs still running 5 s after SIGTERM: killed"
    for pgid in "${live[@]}"; do
        kill -KILL -- "-$pgid" 2>/dev/null
    done
    return 0
}

_sk_exit() {
    local status=$? i
    # A second Ctrl-C must not cut the clean-up short.
    trap '' INT TERM HUP
    trap - EXIT
    _sk_stop_jobs "${SK_JOBS[@]}"
    for (( i = SK_EXIT_COUNT - 1; i >= 0; i-- )); do
        _sk_run_exit_command "$i" || true
    done
    exit "$status"
}

trap _sk_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
