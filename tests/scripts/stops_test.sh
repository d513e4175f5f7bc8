#!/usr/bin/env bash
# A stop request during one of the README's two commands: SIGINT (sent to the script
# alone, or to its whole process group as a terminal sends Ctrl-C), SIGTERM or SIGHUP,
# while a build runs and the Wine prefix is being made beside it. The script must exit
# at once with 128 + the signal, leave none of the processes it started running, and
# start no further stage.
#     stops_test.sh SOURCE_DIR test.sh|run.sh INT|INT-group|TERM|HUP
set -u
. "$(dirname "${BASH_SOURCE[0]}")/checkout.sh" "$1"
script=$2 how=$3
pid=

fail() {
    printf 'FAIL: %s\n--- output of %s:\n' "$*" "$script"
    cat "$scratch/output"
    [[ -z "$pid" ]] || kill -KILL -- "-$pid" 2>/dev/null
    exit 1
}

# The build never ends by itself, and starts a compiler of its own.
stand_in cmake "[[ \$1 == -P ]] && exec $(command -v cmake) \"\$@\"
if [[ \" \$* \" == *\" --build \"* ]]; then
    sleep 600 &
    echo \"build-child \$! -\" >>\"\$record\"
    wait
fi"

case $script in
    test.sh) args=(--only windows --no-install) ;;
    run.sh) args=(--no-install) ;;
    *) fail "no such script: $script" ;;
esac

# As if started at a terminal: a process group of its own, SIGINT not ignored.
set -m
"${in_checkout[@]}" "$checkout/scripts/$script" "${args[@]}" >"$scratch/output" 2>&1 &
set +m
pid=$!

# Wait until the build runs and the Wine prefix is being made beside it.
for (( i = 0; i < 300; i++ )); do
    grep -q '^build-child ' "$record" && grep -q '^wineserver ' "$record" && break
    kill -0 "$pid" 2>/dev/null || fail "$script ended before its build"
    sleep 0.1
done
grep -q '^build-child ' "$record" || fail "the build did not start within 30 s"

case $how in
    INT) kill -INT "$pid"; want=130 ;;
    INT-group) kill -INT -- "-$pid"; want=130 ;;
    TERM) kill -TERM "$pid"; want=143 ;;
    HUP) kill -HUP "$pid"; want=129 ;;
    *) fail "no such stop: $how" ;;
esac

# The build would run for ten minutes: an exit within 20 s is the script's own.
for (( i = 0; i < 200; i++ )); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "$script still running 20 s after SIG$how"
wait "$pid"
status=$?
pid=
(( status == want )) || fail "$script exited with status $status, not $want"

sleep 0.2
left=$(still_running)
[[ -z "$left" ]] || fail "still running after $script exited: $left"
builds=$(grep -c '^cmake .*--build' "$record")
(( builds == 1 )) || fail "$builds builds started, not one: a stage after the interrupted build ran"
for program in ctest wine apt-get; do
    grep -q "^$program " "$record" && fail "$program ran after the interrupted build"
done
grep -qE '==> (summary|warming up)' "$scratch/output" && fail "$script went on after the interrupt"
printf '%s stopped by SIG%s: exit %d, the %d processes it started all ended\n' \
    "$script" "$how" "$status" "$(wc -l <"$record")"
