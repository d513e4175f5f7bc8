# shellcheck shell=bash
# Plug-in DLLs as the runners take them.
#
#   sk_check_plugin_dll PATH   exit 2 with one line on stderr unless PATH is a 64-bit (x64)
#                              Windows DLL. For an import library (libNAME.dll.a) or a folder,
#                              the line names the DLL beside it or in it, when there is one.
# The headers are read by the SDK's PE reader (sdk/pe_file.cmake), with cmake.
[[ -z "${SK_PLUGIN_DLL_LOADED:-}" ]] || return 0
SK_PLUGIN_DLL_LOADED=1

_sk_refuse_plugin() {  # _sk_refuse_plugin PATH WHY
    printf 'error: %s: %s\n' "$1" "$2" >&2
    exit 2
}

# _sk_dll_for_import_library PATH: the DLL that the import library PATH (libNAME.dll.a)
# stands for, if it lies beside it (NAME.dll or libNAME.dll) or in ../bin.
_sk_dll_for_import_library() {
    local folder=${1%/*} name=${1##*/} candidate
    [[ "$folder" != "$1" ]] || folder=.
    name=${name%.a}
    for candidate in "$folder/${name#lib}" "$folder/$name" "$folder/../bin/${name#lib}" "$folder/../bin/$name"; do
        [[ -f "$candidate" ]] && { printf '%s\n' "$candidate"; return 0; }
    done
    return 1
}

sk_check_plugin_dll() {
    local path=$1 found kind machine flags dlls=()
    [[ -n "$path" ]] || _sk_refuse_plugin "''" "an empty name, not a DLL"
    [[ -e "$path" ]] || _sk_refuse_plugin "$path" "no such file"
    if [[ -d "$path" ]]; then
        shopt -s nullglob nocaseglob
        dlls=("${path%/}"/*.dll)
        shopt -u nullglob nocaseglob
        case ${#dlls[@]} in
            0) _sk_refuse_plugin "$path" "a folder, not a DLL" ;;
            1) _sk_refuse_plugin "$path" "a folder, not a DLL: the DLL in it is ${dlls[0]}" ;;
            *) _sk_refuse_plugin "$path" "a folder, not a DLL: it holds ${#dlls[@]} DLLs, ${dlls[0]##*/} among them" ;;
        esac
    fi
    [[ -f "$path" && -r "$path" ]] || _sk_refuse_plugin "$path" "not a readable file"
    if [[ "$path" == *.dll.a ]]; then
        if found=$(_sk_dll_for_import_library "$path"); then
            _sk_refuse_plugin "$path" "an import library, not the DLL: the DLL is $found"
        fi
        found=${path##*/}
        found=${found%.a}
        _sk_refuse_plugin "$path" "an import library, not the DLL (neither ${found#lib} nor $found beside it)"
    fi
    command -v cmake >/dev/null || sk_die "cmake not found (package cmake)"
    read -r kind machine flags < <(cmake -DFILE="$path" -P "${BASH_SOURCE[0]%/*}/../../sdk/pe_file.cmake" 2>&1)
    [[ "$kind" == pe ]] || _sk_refuse_plugin "$path" "not a Windows DLL (no PE header)"
    (( (flags & 0x2000) != 0 )) || _sk_refuse_plugin "$path" "a Windows program, not a DLL"
    if (( machine == 0x14c )); then
        _sk_refuse_plugin "$path" "a 32-bit DLL; the host loads 64-bit (x64) plug-ins only"
    elif (( machine != 0x8664 )); then
        _sk_refuse_plugin "$path" "$(printf 'a DLL for machine 0x%x, not 64-bit x64' "$machine")"
    fi
}
