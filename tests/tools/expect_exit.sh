# shellcheck shell=bash
# The tools' shell tests' one check of a Windows program's ending, sourced with
# `fail` and `cases` set by the test. Under Wine, in the sandbox.

# expect STATUS TEXT PROGRAM ARGS...: the program exits with STATUS within a
# minute, TEXT is among what it said, and Wine's debugger never started.
expect() {
    local want=$1 text=$2 got
    shift 2
    cases=$((cases + 1))
    # With a file size limit (a full disk), under it alone: what it says
    # reaches out.txt through a pipe.
    if [ -n "${file_limit:-}" ]; then
        timeout 60 bash -c 'ulimit -f "$0" && trap "" XFSZ && exec wine "$@"' "$file_limit" "$@" 2>&1 | cat >out.txt
        got=${PIPESTATUS[0]}
    else
        timeout 60 wine "$@" >out.txt 2>&1
        got=$?
    fi
    tr -d '\r' <out.txt >said.txt
    if [ $got -ne "$want" ] || ! grep -qF -- "$text" said.txt || grep -qE "Unhandled|starting debugger" said.txt; then
        echo "FAIL: $(basename "$1") ${*:2} exited $got (wanted $want) saying:"; cat said.txt; echo "(wanted: $text)"
        fail=1
    fi
}
