#!/usr/bin/env bash
# The Windows tests' emulator (CMAKE_CROSSCOMPILING_EMULATOR): runs a Windows program
# under Wine, and refuses (exit 77, one line on stderr) anywhere but in the sandbox that
# `bash scripts/sandboxed.sh` makes: a private network namespace holding only the
# loopback device, a display, and a WINEPREFIX whose wineserver, which owns the
# sockets, runs in that namespace. So no test can broadcast beyond this machine, or
# use the user's own ~/.wine.
#     private_network_wine.sh PROGRAM.exe [ARGS...]
# shellcheck source=scripts/lib/sandbox.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/sandbox.sh"
trap - EXIT INT TERM HUP

if ! problem=$(sk_sandbox_problem); then
    printf 'refusing to run %s under Wine: %s; run the Windows tests as\n' "${1##*/}" "$problem" >&2
    printf '    bash scripts/sandboxed.sh ctest --preset windows [-R NAME]\n' >&2
    exit 77
fi
exec wine "$@"
