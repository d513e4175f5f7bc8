# shellcheck shell=bash
# The Debian packages of the test command, the main job and the runners.
#
#   SK_PACKAGES                every package they need on Debian 12.
#   sk_missing_packages PKG... print the PKGs that dpkg does not have installed, one per line.
#   sk_ensure_packages PKG...  install the missing PKGs with apt-get (update + install only if any
#                              is missing); with SK_NO_INSTALL=1, fail on a missing one instead.
[[ -z "${SK_PACKAGES_LOADED:-}" ]] || return 0
SK_PACKAGES_LOADED=1
# shellcheck source=scripts/lib/jobs.sh
. "${BASH_SOURCE[0]%/*}/jobs.sh"

SK_PACKAGES=(
    g++ cmake ninja-build libgtest-dev libbenchmark-dev python3 # native and sanitize builds, tests
    clang libclang-rt-14-dev llvm lld                           # fuzz and clang builds, symbolized reports
    g++-mingw-w64-x86-64-posix                                  # windows build
    wine wine64 wine64-preloader xvfb xauth fonts-liberation    # the plug-in and the tools under Wine
    imagemagick x11-utils python3-matplotlib                    # the main job's picture and plot
    iproute2 util-linux procps psmisc                           # the private network namespace, the runs' processes
    clang-format clang-tidy tshark                              # layout and lint; the datagram in Wireshark
)

sk_missing_packages() {
    local installed
    (( $# > 0 )) || return 0
    # One dpkg-query for all: it lists the known ones, with their state.
    installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null \
                | awk '$2 == "installed" { print $1 }')
    printf '%s\n' "$@" | grep -vxF -f <(printf '%s\n' "$installed") || true
}

sk_ensure_packages() {
    local missing sudo=()
    mapfile -t missing < <(sk_missing_packages "$@")
    if (( ${#missing[@]} == 0 )); then
        return 0
    fi
    if [[ "${SK_NO_INSTALL:-}" == 1 ]]; then
        sk_die "missing packages (install them or drop --no-install): ${missing[*]}"
    fi
    if (( EUID != 0 )); then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            sudo=(sudo -n)
        else
            sk_die "missing packages and not root: apt-get install ${missing[*]}"
        fi
    fi
    sk_log "installing: ${missing[*]}"
    # In the foreground, not as a job: a Ctrl-C at the terminal reaches apt-get, which
    # stops cleanly, but a SIGINT to this script alone waits for it rather than cut
    # dpkg short halfway through an installation.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null \
        || sk_die "apt-get update failed"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" </dev/null \
        || sk_die "apt-get install failed: ${missing[*]}"
    mapfile -t missing < <(sk_missing_packages "$@")
    if (( ${#missing[@]} > 0 )); then
        sk_die "still missing after apt-get install: ${missing[*]}"
    fi
}
