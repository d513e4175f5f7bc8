#!/usr/bin/env bash
# The format and lint checks themselves: they fail on what is wrong, naming
# the file, the line and the command that fixes it, and pass what is right;
# on a branch they judge the lines it changed and not the ones it inherited.
#     style_check_test.sh SOURCE STYLE   (STYLE: source_style.py)
set -uo pipefail
# Which lines the checks judge is part of what is tested here: the caller's
# choice of every line (as when a commit is judged clean as a whole) is not.
unset SKARVEL_STYLE_ALL

source=$1
style=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    printf 'FAIL: %s\n' "$*"
    failures=$(( failures + 1 ))
}

# expect NAME STATUS PATTERN... -- COMMAND...: COMMAND exits with STATUS and
# prints a line matching each PATTERN (grep -E).
expect() {
    local name=$1 status=$2 patterns=() output got=0 pattern
    shift 2
    while [[ $1 != -- ]]; do patterns+=("$1"); shift; done
    shift
    output=$("$@" 2>&1) || got=$?
    if (( got != status )); then
        fail "$name: exit status $got, not $status:"
        printf '%s\n' "$output" | sed 's/^/    /'
        return
    fi
    for pattern in "${patterns[@]}"; do
        if ! grep -qE -- "$pattern" <<<"$output"; then
            fail "$name: no line matching \"$pattern\" in:"
            printf '%s\n' "$output" | sed 's/^/    /'
            return
        fi
    done
    printf 'ok: %s\n' "$name"
}

fixtures=tests/style/fixtures
# Every misplaced line named, and how to fix the file.
expect "format, a misformatted file" 1 \
    "^$fixtures/misformatted.cpp:5: " "^$fixtures/misformatted.cpp:6: " "^$fixtures/misformatted.cpp:8: " \
    "^$fixtures/misformatted.cpp:12: " "fix: clang-format -i $fixtures/misformatted.cpp$" \
    -- python3 "$style" format "$source" "$source/$fixtures/misformatted.cpp"
expect "format, a well formatted file" 0 "^format: 1 file" \
    -- python3 "$style" format "$source" "$source/$fixtures/well_formatted.cpp"

# The lint, with a compile database of the one file.
mkdir -p "$work/build"
printf '[{"directory": "%s", "file": "%s", "arguments": ["c++", "-std=c++17", "-c", "%s"]}]\n' \
    "$source" "$source/$fixtures/lint_fault.cpp" "$source/$fixtures/lint_fault.cpp" >"$work/build/compile_commands.json"
expect "tidy, a faulty file" 1 "^$fixtures/lint_fault.cpp:7:[0-9]+: .*\[bugprone-integer-division\]$" \
    "^$fixtures/lint_fault.cpp:10:[0-9]+: .*\[performance-unnecessary-value-param\]$" "fix: .*clang-tidy -p " \
    -- python3 "$style" tidy "$source" "$work/build" "$source/$fixtures/lint_fault.cpp"
expect "tidy, a file no unit compiles" 2 "not compiled in .*well_formatted.cpp" \
    -- python3 "$style" tidy "$source" "$work/build" "$source/$fixtures/well_formatted.cpp"

# A branch: the lines it changed are judged, an inherited misplaced line is not;
# the fix it names mends the changed lines alone.
repo=$work/repo
mkdir -p "$repo"
cp "$source/.clang-format" "$repo/"
git -C "$repo" init -q -b main
git -C "$repo" config user.email test@invalid
git -C "$repo" config user.name test
printf 'int  inherited(int value) { return value; }\n\nint sound(int value)\n{\n    return value;\n}\n' >"$repo/code.cpp"
git -C "$repo" add -A && git -C "$repo" commit -qm base
git -C "$repo" checkout -qb work
printf 'int  changed(int value) { return value; }\n' >>"$repo/code.cpp"
printf 'int  added (int value) { return value; }\n' >"$repo/new.cpp"
expect "format, a branch's changes" 1 "^code.cpp:7: " "^new.cpp:1: " "fix: git clang-format -f [0-9a-f]+ -- code.cpp$" \
    "fix: clang-format -i new.cpp$" -- python3 "$style" format "$repo"
if python3 "$style" format "$repo" 2>&1 | grep -q '^code.cpp:1:'; then
    fail "format, a branch's changes: the inherited line 1 was judged"
fi
(cd "$repo" && git clang-format -q -f "$(git merge-base HEAD main)" -- code.cpp >/dev/null && clang-format -i new.cpp)
expect "format, a branch's changes mended" 0 "^format: 2 file" -- python3 "$style" format "$repo"
[[ "$(head -n 1 "$repo/code.cpp")" == "int  inherited(int value) { return value; }" ]] \
    || fail "the fix changed an inherited line: $(head -n 1 "$repo/code.cpp")"
expect "format, every file with SKARVEL_STYLE_ALL=1" 1 "^code.cpp:1: " \
    -- env SKARVEL_STYLE_ALL=1 python3 "$style" format "$repo"

# Since a recorded clean commit: every unit that includes a changed header is linted, and a warning the
# change brings to a line it did not touch is reported; a record that names no commit before this one
# has every file judged.
clean=$work/clean
mkdir -p "$clean/build" "$clean/tests/style"
cp "$source/.clang-tidy" "$source/.clang-format" "$clean/"
printf '#pragma once\nstruct Big {\n    int value;\n};\nvoid look(const Big &big);\n' >"$clean/big.h"
printf '#include "big.h"\nvoid first(const Big &big) { look(big); }\n' >"$clean/a.cpp"
printf '#include "big.h"\nvoid second(Big big) { look(big); }\n' >"$clean/b.cpp"
printf '[{"directory": "%s", "file": "a.cpp", "arguments": ["c++", "-std=c++17", "-c", "a.cpp"]},
  {"directory": "%s", "file": "b.cpp", "arguments": ["c++", "-std=c++17", "-c", "b.cpp"]}]\n' \
    "$clean" "$clean" >"$clean/build/compile_commands.json"
printf 'build/\n' >"$clean/.gitignore"
git -C "$clean" init -q -b main
git -C "$clean" add -A && git -C "$clean" -c user.email=t@invalid -c user.name=t commit -qm clean
git -C "$clean" rev-parse HEAD >"$clean/tests/style/clean_at"
git -C "$clean" add -A && git -C "$clean" -c user.email=t@invalid -c user.name=t commit -qm recorded
sed -i 's/int value;/std::string value;/; s/#pragma once/#pragma once\n#include <string>/' "$clean/big.h"
expect "tidy, since a clean commit" 1 "^tidy: 1 file\(s\), the lines changed since the clean commit" \
    "^tidy: 2 translation unit" "^b.cpp:2:[0-9]+: .*\[performance-unnecessary-value-param\]$" \
    -- python3 "$style" tidy "$clean" "$clean/build"
echo 0123456789abcdef >"$clean/tests/style/clean_at"
expect "format, a record of no commit here" 1 "names no commit before this one.*every file is checked" \
    "^format: 3 file" -- python3 "$style" format "$clean"

# The verdicts kept in the build folder: a rerun lints nothing unchanged and still names its faults;
# a changed header, or a new file under the name of one the unit reads, has the unit linted again. The
# unit includes its precompiled header first, as a test includes GoogleTest's, and needs it to compile.
kept=$work/kept
mkdir -p "$kept/build" "$kept/pch"
cp "$source/.clang-tidy" "$kept/"
printf '#pragma once\n#include <cstdint>\n' >"$kept/pch/cmake_pch.hxx"
printf '// precompiled\n' >"$kept/pch/cmake_pch.hxx.cxx"
printf '#pragma once\ninline constexpr std::uint64_t bytes = 1024 * 1024;\n' >"$kept/sizes.h"
printf '#include "sizes.h"\n\nstd::uint64_t total() { return 2 * bytes; }\n' >"$kept/unit.cpp"
printf '[{"directory": "%s", "file": "%s", "arguments": ["c++", "-std=c++17", "-x", "c++-header", "-include", "%s", "-o", "%s", "-c", "%s"]},
  {"directory": "%s", "file": "%s", "arguments": ["c++", "-std=c++17", "-include", "%s", "-c", "%s"]}]\n' \
    "$kept" "$kept/pch/cmake_pch.hxx.cxx" "$kept/pch/cmake_pch.hxx" "$kept/pch/cmake_pch.hxx.gch" \
    "$kept/pch/cmake_pch.hxx.cxx" "$kept" "$kept/unit.cpp" "$kept/pch/cmake_pch.hxx" "$kept/unit.cpp" \
    >"$kept/build/compile_commands.json"
git -C "$kept" init -q && git -C "$kept" add sizes.h unit.cpp
touch -d "1 minute ago" "$kept"/*.* "$kept"/pch/*  # a file changed in the last seconds is not trusted to be as linted
tidy_kept() { python3 "$style" tidy "$kept" "$kept/build" --all; }
expect "tidy, a unit with its precompiled header" 1 "^sizes.h:2:[0-9]+: .*\[bugprone-implicit-widening" -- tidy_kept
expect "tidy, the verdict kept" 1 "^tidy: 1 unit\(s\) unchanged since their last lint" \
    "^sizes.h:2:[0-9]+: .*\[bugprone-implicit-widening" -- tidy_kept
sed -i 's/= 1024 \* 1024/= std::uint64_t{1024} * 1024/' "$kept/sizes.h"
touch -d '1 minute ago' "$kept/sizes.h"
expect "tidy, a changed header linted again" 0 "^tidy: 1 translation unit" -- tidy_kept
expect "tidy, its new verdict kept" 0 "^tidy: 1 unit\(s\) unchanged" -- tidy_kept
mkdir "$kept/other" && touch "$kept/other/sizes.h"
output=$(tidy_kept 2>&1)
if ! grep -q "^tidy: 1 translation unit" <<<"$output" || grep -q "unchanged since" <<<"$output"; then
    fail "tidy, a new file named as a header the unit reads: the unit was not linted again:"
    printf '%s\n' "$output" | sed 's/^/    /'
fi

(( failures == 0 ))
