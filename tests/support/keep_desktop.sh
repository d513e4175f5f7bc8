#!/usr/bin/env bash
# The CTest fixture wine_desktop: start or stop keep_desktop.exe, run from the
# test's working folder, where it marks its hold on the desktop with a file.
#     keep_desktop.sh start|stop EMULATOR KEEP_DESKTOP.exe
# A keeper still holding the desktop is kept by start; with SKARVEL_HOLD_DESKTOP=1
# stop leaves it too, for a caller that runs ctest more than once in one sandbox
# (the sandbox's end stops it).
set -u
action=$1 emulator=$2 keeper=$3
mark=keep_desktop.held

held() {  # the keeper started last still runs and holds the desktop
    local pid
    pid=$(cat keep_desktop.pid 2>/dev/null) && [[ -e "$mark" ]] && grep -qa keep_desktop "/proc/$pid/cmdline" 2>/dev/null
}

case $action in
    start)
        if held; then
            echo "the Wine desktop is held already (keep_desktop.exe, pid $(cat keep_desktop.pid))"
            exit 0
        fi
        rm -f "$mark"  # a keeper left from an earlier run ends
        # In the background, its output not on this test's: CTest waits for the
        # test's output to close, and the keeper outlives the test.
        "$emulator" "$keeper" "$mark" >keep_desktop.log 2>&1 &
        keeper_pid=$!
        echo "$keeper_pid" >keep_desktop.pid
        for (( i = 0; i < 600; i++ )); do
            [[ -e "$mark" ]] && { echo "the Wine desktop is held (keep_desktop.exe, pid $keeper_pid)"; exit 0; }
            kill -0 "$keeper_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$keeper_pid" 2>/dev/null
        echo "keep_desktop.exe did not take the desktop:"
        cat keep_desktop.log
        exit 1 ;;
    stop)
        if [[ "${SKARVEL_HOLD_DESKTOP:-}" == 1 ]]; then
            echo "the Wine desktop stays held (SKARVEL_HOLD_DESKTOP=1)"
            exit 0
        fi
        rm -f "$mark"
        echo "the Wine desktop is let go" ;;
    *)
        echo "usage: keep_desktop.sh start|stop EMULATOR KEEP_DESKTOP.exe"
        exit 2 ;;
esac
