# shellcheck shell=bash
# The project's builds, as the scripts run them.
#
#   sk_cmake_build PRESET LOG [BUILD OPTIONS...]  configure and build a preset of CMakePresets.json, the
#                                  output into LOG; shows its end and fails if either step fails. Run it as
#                                  a job (sk_run sk_cmake_build ...): Ctrl-C then ends the build with it.
[[ -z "${SK_BUILDS_LOADED:-}" ]] || return 0
SK_BUILDS_LOADED=1

sk_cmake_build() {
    local preset=$1 log=$2
    shift 2
    if ! { cmake --preset "$preset" && cmake --build --preset "$preset" "$@"; } >"$log" 2>&1; then
        # The compiler's and CMake's words, without ninja's progress lines.
        grep -v '^\[[0-9]*/[0-9]*\] ' "$log" | tail -n 100
        printf 'error: the %s build failed (its log: %s)\n' "$preset" "$log" >&2
        return 1
    fi
}
