# shellcheck shell=bash
# The private network namespace. Everything that can send the plug-in's UDP broadcast
# (255.255.255.255:50001) runs inside one that holds nothing but the loopback device,
# with the broadcast address and the multicast groups routed onto it: there a datagram
# loops back to receivers in the same namespace and goes nowhere else.
#
#   sk_in_private_netns      succeed if this shell runs in a namespace made by sk_enter_private_netns.
#   sk_enter_private_netns SCRIPT [ARGS...]  outside: exec `bash SCRIPT ARGS` in a new network
#                            namespace (unshare -n, plus -r when not root); inside: set lo up, route
#                            the broadcast and multicast addresses onto it, check the namespace is
#                            private, and return.
#   sk_only_loopback         succeed if this network namespace holds the loopback device and no other.
#   sk_assert_private_netns  exit unless this is a private namespace holding only the loopback device.
# SK_OUTER_NETNS (set by sk_enter_private_netns) names the namespace the script was started in.
[[ -z "${SK_NETWORK_LOADED:-}" ]] || return 0
SK_NETWORK_LOADED=1
# shellcheck source=scripts/lib/jobs.sh
. "${BASH_SOURCE[0]%/*}/jobs.sh"

sk_in_private_netns() {
    [[ -n "${SK_OUTER_NETNS:-}" && "$(readlink /proc/self/ns/net)" != "$SK_OUTER_NETNS" ]]
}

sk_only_loopback() {
    # (sysfs may show another namespace's devices: ask netlink, through ip)
    [[ "$(ip -o link show 2>/dev/null | awk -F': ' '{ print $2 }' | tr '\n' ' ')" == "lo " ]]
}

sk_assert_private_netns() {
    local here
    here=$(readlink /proc/self/ns/net)
    if [[ -z "${SK_OUTER_NETNS:-}" || "$here" == "$SK_OUTER_NETNS" ]]; then
        sk_die "not inside a private network namespace (here $here, outside ${SK_OUTER_NETNS:-unknown})"
    fi
    sk_only_loopback || sk_die "the network namespace holds more than the loopback device: $(ip -o link show)"
}

sk_enter_private_netns() {
    local script=$1
    shift
    if ! sk_in_private_netns; then
        local flags=(-n)
        (( EUID == 0 )) || flags+=(-r)
        command -v unshare >/dev/null || sk_die "unshare not found (package util-linux)"
        SK_OUTER_NETNS=$(readlink /proc/self/ns/net)
        export SK_OUTER_NETNS
        exec unshare "${flags[@]}" -- bash "$script" "$@"
    fi
    ip link set lo up || sk_die "cannot bring the loopback device up"
    ip link set lo multicast on || sk_die "cannot turn multicast on for the loopback device"
    if ! ip route show 255.255.255.255/32 | grep -q 'dev lo'; then
        ip route add 255.255.255.255/32 dev lo || sk_die "cannot route the broadcast address onto lo"
    fi
    if ! ip route show 224.0.0.0/4 | grep -q 'dev lo'; then
        ip route add 224.0.0.0/4 dev lo || sk_die "cannot route the multicast addresses onto lo"
    fi
    sk_assert_private_netns
}
