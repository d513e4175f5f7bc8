# shellcheck shell=sh
# The first checks of the tools' shell tests, sourced by them. Exit 77 tells
# CTest the test was skipped.

# Everything that can send runs only inside a private network namespace, where
# lo is the only interface. (sysfs may show the parent namespace, so ask
# netlink through ip.)
require_private_network() {
    others=$(ip -o link show 2>/dev/null | awk -F': ' '$2 != "lo" { print $2 }')
    if [ -n "$others" ] || ! ip -o link show lo >/dev/null 2>&1; then
        echo "skipped: not in a private network namespace (interfaces: $(echo $others))"
        exit 77
    fi
}

# Programs under Wine need the prefix made inside this namespace, and a
# display for the plug-in's window.
require_wine_display() {
    if [ -z "${DISPLAY:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
        echo "skipped: needs DISPLAY and WINEPREFIX"
        exit 77
    fi
}
