#!/usr/bin/env bash
# Runs side by side in one clone. While one run of each runner (test.sh, run.sh,
# validate.sh, sandboxed.sh) holds its Wine prefix, a second one of it is refused at
# once: exit 75, one line naming the prefix and the first run, nothing started; the
# first goes on. A prefix held only by what a killed run left behind is taken by the
# next run once those are stopped; one whose leftovers will not go is refused, saying so.
#     neighbours_test.sh SOURCE_DIR
set -u
. "$(dirname "${BASH_SOURCE[0]}")/checkout.sh" "$1"
fail=0
say_fail() { printf 'FAIL: %s\n' "$*"; fail=1; }

# The build never ends by itself: a first run stays where it holds its prefix.
stand_in cmake "[[ \$1 == -D* || \$1 == -P ]] && exec $(command -v cmake) \"\$@\"; [[ \" \$* \" == *' --build '* ]] && exec sleep 600; exit 0"
# A DLL as far as the runners read it: an x64 PE file that says it is a DLL.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0\x64\x86'; head -c 16 /dev/zero; printf '\x22\x20'
  head -c 200 /dev/zero; } >"$scratch/work/plugin.dll"

# second_refused SCRIPT ARGS...: while a first run of SCRIPT holds its prefix, a second exits 75 at
# once, having started nothing (its stand-ins are tagged "second") beyond reading the DLL's headers.
second_refused() {
    local script=$1 first status took before
    shift
    before=$(wc -l <"$record")
    set -m
    "${in_checkout[@]}" "$checkout/scripts/$script" "$@" >"$scratch/first.out" 2>&1 &
    first=$!
    set +m
    for (( i = 0; i < 100; i++ )); do  # until it prepares its prefix
        tail -n +$(( before + 1 )) "$record" | grep -qE '^wineserver [0-9]+ -p' && break
        sleep 0.1
    done
    took=$SECONDS
    STANDIN_TAG=second "${in_checkout[@]}" "$checkout/scripts/$script" "$@" >"$scratch/out" 2>"$scratch/err"
    status=$?
    took=$(( SECONDS - took ))
    if (( status != 75 || took > 3 )) || [[ -s "$scratch/out" ]] || (( $(wc -l <"$scratch/err") != 1 )) ||
       ! grep -qE "is in use by another run \(pid [0-9]+\)" "$scratch/err"; then
        say_fail "a second $script $* exited $status after $took s, saying: $(cat "$scratch/out" "$scratch/err")"
    fi
    grep '^[^ ]*@second ' "$record" | grep -qv '^cmake@second [0-9]* -DFILE=' &&
        say_fail "the second $script started $(grep '^[^ ]*@second ' "$record")"
    kill -0 "$first" 2>/dev/null || say_fail "the first $script ended: $(cat "$scratch/first.out")"
    kill -INT "$first"
    for (( i = 0; i < 200; i++ )); do  # (20 s, as tests/scripts/stops_test.sh allows, on a busy machine)
        kill -0 "$first" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$first" 2>/dev/null && { say_fail "the first $script still runs 20 s after SIGINT"; kill -KILL -- "-$first"; }
    wait "$first"
    rm -rf "$checkout/build"
}
second_refused test.sh --only windows --no-install
second_refused run.sh --no-install
second_refused validate.sh "$scratch/work/plugin.dll"
export SKARVEL_WINEPREFIX=$scratch/prefix
stand_in wineserver '[[ $1 == -k ]] && exit 0; exec sleep 600'  # (its preparation never ends)
second_refused sandboxed.sh true
unset SKARVEL_WINEPREFIX

# What a killed run leaves: sk_hold_prefix in a shell that is then killed, with or
# without a process of it that still holds the lock (as Wine's programs do after their
# server crashed), one that ignores SIGTERM among them.
holder() {  # holder LEFTOVER: a run holding $scratch/held, killed; LEFTOVER 1 keeps two children alive
    "${in_checkout[@]}" -c '. "$1/lib/sandbox.sh"; sk_hold_prefix "$2"
        if (( $3 )); then
            sleep 600 & echo "leftover $! -" >>"$4"
            bash -c "trap \"\" TERM; sleep 600 & wait" & echo "stubborn $! -" >>"$4"
        fi
        kill -KILL $$' holder "$checkout/scripts" "$scratch/held" "$1" "$record"
}
take() {  # take: a new run's sk_hold_prefix on $scratch/held; prints its stderr, returns its status
    "${in_checkout[@]}" -c '. "$1/lib/sandbox.sh"; sk_hold_prefix "$2"; trap - EXIT' taker "$checkout/scripts" "$scratch/held" 2>&1
}
mkdir -p "$scratch/held"
{ holder 0; } 2>/dev/null
said=$(take) || say_fail "a prefix whose run was killed was not taken: $said"
{ holder 1; } 2>/dev/null
sleep 0.2
said=$(take) || say_fail "a prefix held by a killed run's leftovers was not taken: $said"
left=$(still_running | grep -E '^(leftover|stubborn) ')
[[ -z "$left" ]] || say_fail "a killed run's leftovers still run after the next run took the prefix: $left"

(( fail == 0 )) && echo "four runners side by side: the second refused at once; a killed run's leftovers stopped, its prefix taken"
exit $fail
