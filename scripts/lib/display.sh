# shellcheck shell=bash
# The virtual display (Xvfb) on which the plug-in's window and the tests' windows open.
#
#   sk_xvfb_start            start Xvfb 1920x1080x24 on a display it picks itself, wait until it
#                            accepts clients, export DISPLAY and SK_XVFB_PID.
#   sk_xvfb_screenshot FILE [WxH+X+Y]  save the screen of $DISPLAY, or that part of it, as PNG FILE
#                            (ImageMagick's import: package imagemagick).
[[ -z "${SK_DISPLAY_LOADED:-}" ]] || return 0
SK_DISPLAY_LOADED=1
# shellcheck source=scripts/lib/jobs.sh
. "${BASH_SOURCE[0]%/*}/jobs.sh"

SK_XVFB_PID=

sk_xvfb_start() {
    local ready log pid i failure
    [[ -z "$SK_XVFB_PID" ]] || sk_die "Xvfb already started (pid $SK_XVFB_PID)"
    command -v Xvfb >/dev/null || sk_die "Xvfb not found (package xvfb)"
    ready=$(mktemp)
    log=$(mktemp)
    # Given no display, Xvfb takes the first free one and, once it accepts
    # clients, writes its number to the file descriptor of -displayfd.
    sk_spawn Xvfb -screen 0 1920x1080x24 -nolisten tcp -displayfd 3 3>"$ready" >"$log" 2>&1
    pid=$!
    for (( i = 0; i < 100; i++ )); do
        [[ -s "$ready" ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ ! -s "$ready" ]] || ! kill -0 "$pid" 2>/dev/null; then
        sk_stop_job "$pid"
        failure=$(tail -n 1 "$log")
        rm -f "$ready" "$log"
        sk_die "Xvfb did not start: $failure"
    fi
    SK_XVFB_PID=$pid
    export DISPLAY=":$(<"$ready")" SK_XVFB_PID
    rm -f "$ready" "$log"
    sk_log "Xvfb on $DISPLAY (pid $pid)"
}

sk_xvfb_screenshot() {
    local file=$1 crop=${2:-}
    [[ -n "${DISPLAY:-}" ]] || sk_die "sk_xvfb_screenshot: no DISPLAY"
    command -v import >/dev/null || sk_die "import not found (package imagemagick)"
    if [[ -n "$crop" ]]; then
        import -display "$DISPLAY" -window root -crop "$crop" +repage "png:$file"
    else
        import -display "$DISPLAY" -window root "png:$file"
    fi
}
