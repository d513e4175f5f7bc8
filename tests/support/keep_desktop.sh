#!/usr/bin/env bash
# The CTest fixture wine_desktop: start or stop keep_desktop.exe, run from the
# test's working folder, where it marks its hold on the desktop with a file.
#     keep_desktop.sh start|stop EMULATOR KEEP_DESKTOP.exe
set -u
action=$1 emulator=$2 keeper=$3
mark=keep_desktop.held
case $action in
    start)
        rm -f "$mark"  # a keeper left from an earlier run ends
        # In the background, its output not on this test's: CTest waits for the
        # test's output to close, and the keeper outlives the test.
        "$emulator" "$keeper" "$mark" >keep_desktop.log 2>&1 &
        keeper_pid=$!
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
        rm -f "$mark"
        echo "the Wine desktop is let go" ;;
    *)
        echo "usage: keep_desktop.sh start|stop EMULATOR KEEP_DESKTOP.exe"
        exit 2 ;;
esac
