#!/usr/bin/env bash
# Another project builds on the SDK, natively, in both ways it can: find_package
# of an installed SDK (a real cmake --install into a temporary prefix, whose
# folders must be GNUInstallDirs') and add_subdirectory of this source tree.
# Its program (consumer/consumer.cpp)
# asks for C++14, makes warnings errors, uses all three targets and checks that
# no header outside the SDK is reachable; it must build and run.
#     consumers_test.sh BUILD SOURCE   (BUILD: this project's native build folder)
set -uo pipefail

build=$1
source=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# consumer NAME CMAKE-OPTIONS...: configure, build and run the consumer.
consumer() {
    local name=$1 log=$work/$1.log
    shift
    if cmake -S "$here/consumer" -B "$work/$name" -G Ninja "$@" >"$log" 2>&1 &&
       cmake --build "$work/$name" >>"$log" 2>&1 &&
       "$work/$name/consumer" >>"$log" 2>&1; then
        printf 'ok: %s\n' "$name"
    else
        printf 'FAIL: %s:\n' "$name"
        sed 's/^/    /' "$log"
        failures=$(( failures + 1 ))
    fi
}

cmake --install "$build" --prefix "$work/sdk" >/dev/null || { echo "cmake --install $build failed"; exit 1; }
if [[ "$(ls "$work/sdk/include")" != skarvel ]]; then
    printf 'FAIL: the installed include folder holds %s, not skarvel/ alone\n' "$(ls "$work/sdk/include")"
    failures=$(( failures + 1 ))
fi
# GNUInstallDirs' folders and nothing else at the top (a native build installs
# no programs), each part of the SDK where those folders put it.
if [[ "$(cd "$work/sdk" && echo *)" != "include lib share" ]]; then
    printf 'FAIL: the installation holds %s, not include, lib and share\n' "$(cd "$work/sdk" && echo *)"
    failures=$(( failures + 1 ))
fi
for file in include/skarvel/shared/interface/plugin_interface.h include/skarvel/catalogue/message_name_list.h \
            lib/cmake/SkarvelPluginSdk/SkarvelPluginSdkConfig.cmake share/skarvel/new_plugin.cmake \
            share/skarvel/catalogue/message_name_list.cpp share/skarvel/scripts/sandboxed.sh \
            share/skarvel/scripts/lib/sandbox.sh share/doc/skarvel_external_dll/LICENSE; do
    if [[ ! -f "$work/sdk/$file" ]]; then
        printf 'FAIL: no %s in the installation\n' "$file"
        failures=$(( failures + 1 ))
    fi
done
consumer find_package -DCMAKE_PREFIX_PATH="$work/sdk"
consumer add_subdirectory -DSKARVEL_SOURCE="$source"
if [[ -e "$work/add_subdirectory/CPackConfig.cmake" ]]; then
    printf 'FAIL: add_subdirectory of the SDK brought in its CPack configuration\n'
    failures=$(( failures + 1 ))
fi
(( failures == 0 ))
