#!/usr/bin/env bash
# Ctrl-C during one of the README's two commands: SIGINT, sent to the script
# alone or to its whole process group as a terminal sends it, while a build
# runs. The script must exit 130 at once, leave none of the processes it
# started running, and start no further stage.
#
# Usage: interrupt_test.sh SOURCE_DIR test.sh|run.sh process|group
#
# The script runs from a copy of scripts/ in a scratch folder, in a network
# namespace of its own, with stand-ins on PATH for the programs it drives:
# each writes its name and pid down, the build and the Wine server never end
# by themselves, and Xvfb only pretends to start.
set -u
source_dir=$1 script=$2 target=$3

scratch=$(mktemp -d)
record=$scratch/started
pid=
cleanup() {
    # The script, if the test ends first, and whatever it left behind must not
    # outlive the test.
    local name started_pid i
    if [[ -n "$pid" ]] && kill -TERM "$pid" 2>/dev/null; then
        for (( i = 0; i < 50; i++ )); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL -- "-$pid" 2>/dev/null
    fi
    while read -r name started_pid; do
        kill -KILL "$started_pid" 2>/dev/null
    done <"$record"
    rm -rf "$scratch"
}
trap cleanup EXIT
: >"$record"

fail() {
    printf 'FAIL: %s\n' "$*"
    printf -- '--- output of %s:\n' "$script"
    cat "$scratch/output"
    exit 1
}

mkdir -p "$scratch/checkout" "$scratch/bin"
cp -r "$source_dir/scripts" "$scratch/checkout/"

stand_in() {  # stand_in NAME BODY: a program NAME on PATH that runs BODY
    printf '#!/usr/bin/env bash\nrecord=%q\n%s\n' "$record" "$2" >"$scratch/bin/$1"
    chmod +x "$scratch/bin/$1"
}
stand_in dpkg-query 'for p in "$@"; do [[ $p == -* ]] || echo "$p installed"; done'
stand_in apt-get 'echo "apt-get $$" >>"$record"; exit 1'
stand_in cmake '
if [[ " $* " == *" --build "* || " $* " == *" --workflow "* ]]; then
    echo "build $$" >>"$record"
    sleep 600 &
    echo "build-child $!" >>"$record"
    wait
fi'
stand_in ctest 'echo "ctest $$" >>"$record"; exec sleep 600'
stand_in Xvfb '
echo "Xvfb $$" >>"$record"
while (( $# > 0 )); do
    [[ $1 == -displayfd ]] && echo 99 >&"$2"
    shift
done
exec sleep 600'
stand_in wineserver '[[ $1 == -k ]] && exit 0; echo "wineserver $$" >>"$record"; exec sleep 600'
for program in wine wineboot; do
    stand_in "$program" "echo \"$program \$\$\" >>\"\$record\"; exec sleep 600"
done

case $script in
    test.sh) args=(--only windows --no-install) ;;
    run.sh) args=(--no-install) ;;
    *) fail "no such script: $script" ;;
esac

# As if started at a terminal: a process group of its own, SIGINT not ignored.
set -m
env -u SK_OUTER_NETNS PATH="$scratch/bin:$PATH" \
    bash "$scratch/checkout/scripts/$script" "${args[@]}" >"$scratch/output" 2>&1 &
set +m
pid=$!

# Wait until the build runs and the Wine prefix is being made beside it.
for (( i = 0; i < 300; i++ )); do
    grep -q '^build-child ' "$record" && grep -q '^wineserver ' "$record" && break
    kill -0 "$pid" 2>/dev/null || fail "$script ended before its build"
    sleep 0.1
done
grep -q '^build-child ' "$record" || fail "the build did not start within 30 s"

case $target in
    process) kill -INT "$pid" ;;
    group) kill -INT -- "-$pid" ;;
    *) fail "no such target: $target" ;;
esac

# The build would run for ten minutes: an exit within 20 s is the script's own.
for (( i = 0; i < 200; i++ )); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    kill -KILL -- "-$pid"
    fail "$script still running 20 s after SIGINT"
fi
wait "$pid"
status=$?
pid=
(( status == 130 )) || fail "$script exited with status $status, not 130"

running() {  # running PID: the process exists and is no zombie
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [[ "$state" != Z ]]
}
sleep 0.2
left=()
while read -r name started_pid; do
    running "$started_pid" && left+=("$name $started_pid")
done <"$record"
(( ${#left[@]} == 0 )) || fail "still running after $script exited: ${left[*]}"

builds=$(grep -c '^build ' "$record")
(( builds == 1 )) || fail "$builds builds started, not one: a stage after the interrupted build ran"
for program in ctest wine wineboot apt-get; do
    grep -q "^$program " "$record" && fail "$program ran after the interrupted build"
done
grep -qE '==> (summary|warming up)' "$scratch/output" && fail "$script went on after the interrupt"
printf '%s stopped by SIGINT to its %s: exit 130, %d processes it started all ended\n' \
    "$script" "$target" "$(wc -l <"$record")"
