# shellcheck shell=bash
# A scratch checkout for the scripts' tests: a copy of scripts/ (and of the files they
# read) in a folder of its own, and stand-ins on PATH for the programs they drive. Each
# stand-in writes "NAME PID ARGS..." into $record (one line per start, arguments %q-quoted;
# NAME@TAG when started with STANDIN_TAG=TAG in the environment),
# so a test knows what was started, with which arguments, and can check it has ended.
#     . checkout.sh SOURCE_DIR     sets scratch, checkout, record; cleans up at exit
#     stand_in NAME BODY           a program NAME on PATH that records its start, then runs BODY
#     "${in_checkout[@]}" PATH ARGS   bash PATH ARGS in the folder $scratch/work, the stand-ins first on PATH
#                                  (a command, not a function: "$!" of it in the background is the script)
#     still_running                the started processes that still run, one "NAME PID" per line
source_dir=$1
scratch=$(mktemp -d)
checkout=$scratch/checkout
record=$scratch/started
: >"$record"
mkdir -p "$checkout/sdk" "$checkout/tools/listen" "$scratch/bin"
cp -r "$source_dir/scripts" "$checkout/"
cp "$source_dir/sdk/pe_file.cmake" "$checkout/sdk/"
cp "$source_dir/tools/listen/plot_motion.py" "$checkout/tools/listen/"

_checkout_cleanup() {
    local name pid _
    while read -r name pid _; do
        kill -KILL "$pid" 2>/dev/null
    done <"$record"
    rm -rf "$scratch"
}
trap _checkout_cleanup EXIT

stand_in() {
    # The record's line in one write: stand-ins started together append to the
    # same file, and a line written in pieces could be cut by another's.
    printf '#!/usr/bin/env bash\nrecord=%q\nline=$(printf "%%s%%s %%s" %q "${STANDIN_TAG:+@$STANDIN_TAG}" "$$"; printf " %%q" "$@")\nprintf "%%s\\n" "$line" >>"$record"\n%s\n' \
        "$record" "$1" "$2" >"$scratch/bin/$1"
    chmod +x "$scratch/bin/$1"
}

mkdir -p "$scratch/work"
in_checkout=(env -u SK_OUTER_NETNS -u SK_SANDBOX_PREFIX -C "$scratch/work" PATH="$scratch/bin:$PATH" bash)

still_running() {
    local name pid _ state
    while read -r name pid _; do
        [[ "$pid" =~ ^[0-9]+$ ]] || continue
        state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) && [[ "$state" != Z ]] && echo "$name $pid"
    done <"$record"
    return 0
}

# The packages are there; the builds take no time; the display and Wine never end by
# themselves (a test that needs otherwise says so with stand_in again).
stand_in dpkg-query 'for p in "$@"; do [[ $p == -* ]] || echo "$p installed"; done'
stand_in apt-get 'exit 1'
stand_in cmake "[[ \$1 == -D* || \$1 == -P ]] && exec $(command -v cmake) \"\$@\"; exit 0"
stand_in ctest 'exec sleep 600'
stand_in Xvfb '
while (( $# > 0 )); do
    [[ $1 == -displayfd ]] && echo 99 >&"$2"
    shift
done
exec sleep 600'
stand_in wineserver '[[ $1 == -k ]] && exit 0; exec sleep 600'
stand_in wine 'exec sleep 600'
stand_in wineboot 'exec sleep 600'
