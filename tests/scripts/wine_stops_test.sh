#!/usr/bin/env bash
# Stops that must keep a Windows program's promise, in the sandbox with the real host
# and listener under Wine.
# - sandboxed.sh passes SIGTERM and SIGHUP on to its command: a shell command ends as its
#   own trap says; a Windows listener (`wine listen.exe`) gets them as Ctrl-C, says its
#   summary and exits 0.
# - run.sh stopped by SIGTERM, SIGHUP or SIGINT during the flight exits 143, 129 or 130
#   within seconds, leaving flight.skvrec whole (no temporary file beside it) and
#   replayable by the host.
# - run.sh --plugin on a plug-in whose DllMain never returns ends by itself, non-zero, a
#   minute and its stop's grace after the flight should have ended, leaving no host behind.
#     wine_stops_test.sh SOURCE_DIR HOST.exe LISTEN.exe NATIVE_LISTEN HANGING_PLUGIN.dll
set -u
source_dir=$1 host=$2 listen=$3 native_listen=$4 hanging=$5
. "$source_dir/tests/scripts/checkout.sh" "$source_dir"
. "$source_dir/tests/tools/test_guards.sh"
trap _checkout_cleanup EXIT
require_wine_sandbox
fail=0
say_fail() { printf 'FAIL: %s\n' "$*"; fail=1; }
export SKARVEL_WINEPREFIX=$WINEPREFIX

# stop_after READY_FILE SIGNAL PID SECONDS: once READY_FILE holds READY (or is bigger than
# 20 kB for a recording; two minutes at most), SIGNAL to PID; then its exit status, or 999
# if it still ran SECONDS later.
stop_after() {
    local ready=$1 signal=$2 pid=$3 seconds=$4 i
    for (( i = 0; i < 1200; i++ )); do
        if [[ "$ready" == *.tmp ]]; then
            compgen -G "$ready" >/dev/null && (( $(stat -c %s $ready 2>/dev/null | head -n 1) > 20000 )) && break
        else
            grep -q READY "$ready" 2>/dev/null && break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "-$signal" "$pid" 2>/dev/null
    for (( i = 0; i < seconds * 10; i++ )); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid"; return; }
        sleep 0.1
    done
    kill -KILL -- "-$pid" "$pid" 2>/dev/null
    wait "$pid"
    return 999
}

sandboxed=$source_dir/scripts/sandboxed.sh
for signal in TERM HUP; do
    set -m
    bash "$sandboxed" -- bash -c "trap 'exit 7' $signal; echo READY; sleep 60 & wait" >"$scratch/out" 2>&1 &
    set +m
    stop_after "$scratch/out" "$signal" $! 10
    status=$?
    (( status == 7 )) || say_fail "sandboxed.sh, SIG$signal: the command's trap did not end it (exit $status): $(cat "$scratch/out")"
    rm -f "$scratch/out" "$scratch/err"  # (what the watcher below reads must be this run's)
    set -m
    bash "$sandboxed" -- wine "$listen" --port 50077 --quiet >"$scratch/out" 2>"$scratch/err" &
    sandbox=$!
    set +m
    ( until grep -q "waiting for motion datagrams" "$scratch/err" 2>/dev/null; do sleep 0.1; done; echo READY >"$scratch/ready" ) &
    stop_after "$scratch/ready" "$signal" "$sandbox" 30
    status=$?
    rm -f "$scratch/ready"
    kill %% 2>/dev/null  # (the watcher, if the listener never said it waits)
    (( status == 0 )) && tr -d '\r' <"$scratch/out" | grep -q "^datagrams: 0 valid" ||
        say_fail "sandboxed.sh wine listen.exe, SIG$signal: exit $status, said: $(cat "$scratch/out" "$scratch/err")"
done

# run.sh from a scratch checkout whose builds are this build's (nothing built again).
if [[ ! -x "$native_listen" ]]; then
    echo "skipped the run.sh stops: no native listener at $native_listen (the native stage builds it)"
else
    rm -f "$scratch/bin/"{wine,wineserver,wineboot,Xvfb,ctest}  # (Wine and the display are real here)
    mkdir -p "$checkout/build/native/tools/listen"
    ln -s "$(cd "$(dirname "$host")/../.." && pwd)" "$checkout/build/windows"
    ln -s "$native_listen" "$checkout/build/native/tools/listen/listen"
    out=$checkout/build/run
    for signal in TERM HUP INT; do
        set -m
        env -C "$scratch/work" PATH="$scratch/bin:$PATH" bash "$checkout/scripts/run.sh" --no-install --seconds 40 \
            >"$scratch/run.out" 2>&1 &
        run=$!
        set +m
        started=$SECONDS
        stop_after "$out/flight.skvrec.*.tmp" "$signal" "$run" 30
        status=$?
        want=$(( 128 + $(kill -l "$signal") ))
        echo "run.sh, SIG$signal: stopped after $(( SECONDS - started )) s, exit $status"
        if (( status != want )); then
            say_fail "run.sh, SIG$signal during the flight: exit $status, not $want: $(tail -n 20 "$scratch/run.out")"
            continue
        fi
        compgen -G "$out/flight.skvrec.*.tmp" >/dev/null && say_fail "run.sh, SIG$signal: left $(ls "$out"/flight.skvrec.*.tmp)"
        if [[ ! -f "$out/flight.skvrec" ]]; then
            say_fail "run.sh, SIG$signal: no flight.skvrec: $(tail -n 20 "$scratch/run.out")"
            continue
        fi
        wine "$host" --replay "$out/flight.skvrec" --fast --quiet "$checkout/build/windows/plugin/win32/skarvel_external_dll.dll" \
            >"$scratch/replay" 2>&1 && tr -d '\r' <"$scratch/replay" | grep -qE '^host: [1-9][0-9]* frames' ||
            say_fail "run.sh, SIG$signal: flight.skvrec does not replay: $(cat "$scratch/replay")"
    done
    hangs=${hanging##*/}  # (the test plug-in's name chooses its defect)
    cp "$hanging" "$scratch/work/$hangs"
    started=$SECONDS
    env -C "$scratch/work" PATH="$scratch/bin:$PATH" bash "$checkout/scripts/run.sh" --no-install --seconds 3 \
        --plugin "$hangs" >"$scratch/run.out" 2>&1
    status=$?
    echo "run.sh --plugin on a DllMain that never returns: exit $status after $(( SECONDS - started )) s"
    (( status != 0 && SECONDS - started < 150 )) ||
        say_fail "run.sh --plugin $hangs: exit $status after $(( SECONDS - started )) s: $(tail -n 5 "$scratch/run.out")"
    # (Its own host alone: the tools' tests run hosts of that plug-in beside this one.)
    pgrep -f "^[^ ]*host\\.exe .*$scratch/work/$hangs" >/dev/null && say_fail "run.sh --plugin $hangs left its host running"
fi
(( fail == 0 )) && echo "sandboxed.sh passes SIGTERM and SIGHUP on; run.sh stopped by SIGTERM, SIGHUP and SIGINT keeps a replayable recording"
exit $fail
