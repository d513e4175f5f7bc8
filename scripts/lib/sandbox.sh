# shellcheck shell=bash
# The sandbox in which the project's Windows programs run: a private network namespace
# (network.sh), a virtual display (display.sh) and a Wine prefix whose server runs inside
# the namespace (wine.sh). Sourcing this file sources those, jobs.sh, packages.sh,
# builds.sh and plugin_dll.sh too: each says what it holds.
#
# A typical script (run as `bash scripts/x.sh`; it runs twice: outside, then inside):
#   root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
#   . "$root/scripts/lib/sandbox.sh"
#   sk_in_private_netns || sk_ensure_packages "${SK_PACKAGES[@]}"  # outside only: apt-get needs the network
#   sk_enter_private_netns "$root/scripts/x.sh" "$@"  # outside: exec itself inside; inside: set up, return
#   sk_sandbox_begin "$root/build/wineprefix-x"       # display, Wine prefix and server, all inside
#   sk_run wine some.exe ...
#
#   sk_sandbox_prepare_beside PREFIX LOG  inside only: Xvfb, and PREFIX prepared as a job (output in LOG),
#                                  for a script that builds meanwhile; sk_sandbox_begin waits for it.
#   sk_sandbox_begin PREFIX        inside only: Xvfb (unless started), PREFIX prepared, its wineserver stopped
#                                  at exit, and the Wine environment exported; shows the log and fails if not.
#   sk_sandbox_problem             succeed silently in a sandbox where Windows programs may run (a private
#                                  namespace with only lo, DISPLAY, a WINEPREFIX served from here); else
#                                  print what is missing and fail.
[[ -z "${SK_SANDBOX_LOADED:-}" ]] || return 0
SK_SANDBOX_LOADED=1
for _sk_lib in jobs packages network display wine builds plugin_dll; do
    # shellcheck source=/dev/null
    . "${BASH_SOURCE[0]%/*}/$_sk_lib.sh"
done
unset _sk_lib

SK_SANDBOX_PREP_PID=

sk_sandbox_prepare_beside() {
    local prefix=$1 log=$2
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
    sk_spawn sk_wine_prefix_prepare "$prefix" >"$log" 2>&1
    SK_SANDBOX_PREP_PID=$!
}

sk_sandbox_begin() {
    local prefix=$1 log
    sk_in_private_netns || sk_die "the sandbox must be made inside the private network namespace"
    mkdir -p "$prefix" || sk_die "cannot make the Wine prefix folder $prefix"
    prefix=$(cd "$prefix" && pwd)
    if [[ -n "$SK_SANDBOX_PREP_PID" ]]; then
        sk_wait "$SK_SANDBOX_PREP_PID"  # (what failed there fails again below, with its log)
        SK_SANDBOX_PREP_PID=
    fi
    [[ -n "$SK_XVFB_PID" ]] || sk_xvfb_start 2>/dev/null
    sk_on_exit sk_wine_stop "$prefix"
    log=$(mktemp)
    # (in a subshell: its failure ends only the subshell, and its log is shown)
    if ! ( sk_wine_prefix_prepare "$prefix" ) >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        printf 'error: the Wine prefix %s could not be prepared\n' "$prefix" >&2
        return 1
    fi
    rm -f "$log"
    sk_wine_env "$prefix"
}

sk_sandbox_problem() {
    if ! sk_only_loopback; then
        echo "not in a private network namespace that holds only the loopback device"
    elif [[ -z "${WINEPREFIX:-}" ]]; then
        echo "no WINEPREFIX (Wine would use ~/.wine)"
    elif [[ -z "${DISPLAY:-}" ]]; then
        echo "no DISPLAY"
    elif ! sk_wine_netns_ok "$WINEPREFIX"; then
        echo "no wineserver of $WINEPREFIX runs in this network namespace"
    else
        return 0
    fi
    return 1
}
