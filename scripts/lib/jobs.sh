# shellcheck shell=bash
# Jobs, stop requests and clean-up, for every script of the project.
#
# A long-running command runs as a job (sk_run, sk_spawn): in the background, in a
# process group of its own, awaited with `wait`, which a signal interrupts at once.
# Sourcing this file makes SIGINT (Ctrl-C), SIGTERM and SIGHUP end the script with
# status 130, 143 or 129: the process groups of its jobs are ended, its exit commands
# run (last registered first), and nothing else of the script runs.
#
#   sk_log MSG...            print "[HH:MM:SS] MSG" on stderr.
#   sk_die MSG...            print "error: MSG" on stderr and exit 1.
#   sk_spawn CMD [ARGS...]   start CMD (a command or a function) as a job: in the background, in a
#                            process group of its own, stdin from /dev/null; its pid is in $!.
#   sk_wait PID              wait for the job PID; return its exit status.
#   sk_run CMD [ARGS...]     sk_spawn CMD, then sk_wait for it: how to run anything that takes long.
#   sk_stop_job PID          end the job PID's process group (SIGTERM) and wait for it.
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
