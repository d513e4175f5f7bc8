# shellcheck shell=bash
# The first checks of the tools' shell tests, sourced by them. Exit 77 tells
# CTest the test was skipped.

# shellcheck source=scripts/lib/sandbox.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sandbox.sh"

# Everything that can send runs only inside a private network namespace, where
# lo is the only interface.
require_private_network() {
    if ! sk_only_loopback; then
        echo "skipped: not in a private network namespace that holds only the loopback device"
        exit 77
    fi
}

# Programs under Wine run only in the sandbox of scripts/sandboxed.sh: the
# private namespace, a display, and a Wine prefix served from inside.
require_wine_sandbox() {
    local problem
    if ! problem=$(sk_sandbox_problem); then
        echo "skipped: $problem (run it through bash scripts/sandboxed.sh)"
        exit 77
    fi
}
