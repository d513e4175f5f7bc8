#!/usr/bin/env bash
# Runs Windows tests many times side by side under Wine until they show what fails
# now and then, keeping the evidence: bash tests/stress/wine_stress.sh [OPTIONS]
#
# Inside a private network namespace and a sandbox of its own (Xvfb, the Wine prefix
# build/wineprefix-stress), it starts the prefix's wineserver itself, in the foreground
# as a job, so that its end and exit status are known; then runs rounds of
#     ctest --preset windows -R REGEX -j JOBS --output-junit ...
# with Wine's traces on, until MINUTES have passed. After each round it notes the tests
# that failed, those that failed within seconds without a word of output ("silent"), and
# whether the wineserver still runs; a server that went away is named with its exit
# status and the round's tests, then started again for the next round.
# Everything is kept in build/stress/RUN/: per round ctest's log and JUnit report, the
# server's output and status, and summary.txt with the figures.
#
# Options:
#   --minutes M     how long to go on (default 10); a round started is finished
#   --jobs J        ctest's jobs (default 6, as the test command runs the Windows tests)
#   --regex R       the tests (default: the suspects, below)
#   --winedebug W   WINEDEBUG of the tests (default -all,err+all, Wine's errors, as the test
#                   command runs them; more, such as warn+seh,+process, fails the tests that
#                   read their programs' output, and without -all first Debian's wine script
#                   adds a line about wine32 to every program's)
#   --fresh-server  a new wineserver for every round (as every run of the test command has)
# Needs a Windows build (build/windows). Ctrl-C ends it within seconds, exit 130, with
# nothing left running.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=scripts/lib/sandbox.sh
. "$root/scripts/lib/sandbox.sh"
# shellcheck source=scripts/lib/builds.sh
. "$root/scripts/lib/builds.sh"

minutes=10 jobs=6 winedebug='-all,err+all' fresh=0
# The suspects: the packaged tools end to end (a Ctrl-C to a Windows listener), the
# validator's cases that open sockets and handles by the thousand, and the SDK's nested
# sandbox (a second prefix and server beside this one).
regex='^(package\.end_to_end|validate\.(socket|handle|memory)_per_frame|tools_end_to_end|sdk\.template)$'
args=("$@")
while (( $# > 0 )); do
    case $1 in
        --minutes) [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || sk_die "--minutes needs a whole number, 1 or more"; minutes=$2; shift ;;
        --jobs) [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || sk_die "--jobs needs a whole number, 1 or more"; jobs=$2; shift ;;
        --regex) [[ -n "${2:-}" ]] || sk_die "--regex needs a regular expression"; regex=$2; shift ;;
        --winedebug) winedebug=${2:-}; shift ;;
        --fresh-server) fresh=1 ;;
        -h|--help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) sk_die "unknown option: $1 (see --help)" ;;
    esac
    shift
done
[[ -f "$root/build/windows/CTestTestfile.cmake" ]] || sk_die "no Windows build: cmake --preset windows && cmake --build --preset windows"
sk_enter_private_netns "$root/tests/stress/wine_stress.sh" "${args[@]}"

out=$root/build/stress/$(date +%Y%m%d-%H%M%S)
mkdir -p "$out"
prefix=$root/build/wineprefix-stress
sk_sandbox_begin "$prefix" || exit 1

server=
# The prefix's server in the foreground, as a job: when it ends, its exit status and the
# time are written into server.log at once; if it crashes, it leaves a core file (in its
# server folder under /tmp/.wine-UID), kept in the run's folder with gdb's backtrace.
start_server() {
    sk_wine_stop "$prefix"
    # shellcheck disable=SC2016
    sk_spawn bash -c 'ulimit -n "$(ulimit -Hn)"; ulimit -c unlimited; wineserver -f -p; status=$?
                      printf "%(%H:%M:%S)T the wineserver ended, exit status %d\n" -1 "$status"' \
        >>"$out/server.log" 2>&1
    server=$!
    for (( i = 0; i < 50; i++ )); do
        if sk_wine_netns_ok "$prefix"; then
            server_folder=$(readlink "/proc/$(sk_wineserver_pids "$prefix" | head -n 1)/cwd")
            # The first program of a server starts Wine's services, which inherit its
            # output and outlive it: a program of our own, not a test (whose output
            # CTest would wait for until its timeout).
            wine reg query 'HKCU\Software\Wine' >/dev/null 2>&1
            return 0
        fi
        sleep 0.1
    done
    sk_die "the wineserver of $prefix did not start (see $out/server.log)"
}

keep_core() {  # keep_core ROUND: the server's core file, if any, and its backtrace
    local core
    core=$(find "$server_folder" -maxdepth 1 -name 'core*' 2>/dev/null | head -n 1)
    [[ -n "$core" ]] || return 0
    mv "$core" "$out/core-round-$1"
    gdb -batch -ex 'bt' -ex 'info registers rip' "$(command -v wineserver64 || echo /usr/lib/wine/wineserver64)" \
        "$out/core-round-$1" >"$out/backtrace-round-$1.txt" 2>&1
}

# junit_outcomes FILE: "failed NAME" and "silent NAME" per test of a JUnit report.
junit_outcomes() {
    python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.get("status") not in ("fail", "notrun"):
        continue
    out = case.find("system-out")
    said = (out.text or "").strip() if out is not None else ""
    print("failed", case.get("name"))
    if case.get("status") == "fail" and float(case.get("time") or 0) < 10 and not said:
        print("silent", case.get("name"))
PY
}

export WINEDEBUG=$winedebug SKARVEL_HOLD_DESKTOP=1
: >"$out/summary.txt"
: >"$out/.started"
start_server
deadline=$(( SECONDS + minutes * 60 ))
rounds=0 runs=0 failures=0 silent=0 losses=0
cd "$root" || exit 1
while (( SECONDS < deadline )); do
    rounds=$(( rounds + 1 ))
    log=$out/round-$rounds
    if (( fresh && rounds > 1 )); then
        sk_stop_job "$server"
        start_server
    fi
    sk_run ctest --preset windows -R "$regex" -j "$jobs" --output-junit "$log.xml" \
        --test-output-size-failed 4000000 >"$log.log" 2>&1
    count=$(grep -cE "$SK_CTEST_RESULT_LINE" "$log.log")
    runs=$(( runs + count ))
    while read -r kind name; do
        [[ "$kind" == failed ]] && failures=$(( failures + 1 ))
        [[ "$kind" == silent ]] && silent=$(( silent + 1 ))
        printf 'round %d: %s %s\n' "$rounds" "$kind" "$name" >>"$out/summary.txt"
    done < <(junit_outcomes "$log.xml" 2>/dev/null)
    if ! _sk_alive "$server"; then
        sk_wait "$server"
        keep_core "$rounds"
        printf 'round %d: the wineserver went away, exit status %d; the round ran: %s\n' "$rounds" "$?" \
            "$(sed -nE "s|$SK_CTEST_RESULT_LINE([^ ]+) .*|\\1|p" "$log.log" | tr '\n' ' ')" >>"$out/summary.txt"
        losses=$(( losses + 1 ))
        start_server
    fi
    sk_log "round $rounds: $count tests; so far $failures failed, $silent silent, $losses wineserver losses"
done
printf '%d rounds, %d test runs (%s, -j %d, %d min): %d failed, %d silent, %d wineserver losses\n' \
    "$rounds" "$runs" "$regex" "$jobs" "$minutes" "$failures" "$silent" "$losses" | tee -a "$out/summary.txt"
printf 'evidence in %s\n' "$out"
