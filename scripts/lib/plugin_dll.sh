# shellcheck shell=bash
# Plug-in DLLs as the runners take them.
#
#   sk_check_plugin_dll PATH       exit 2 with one line on stderr unless PATH is a 64-bit (x64) Windows DLL.
[[ -z "${SK_PLUGIN_DLL_LOADED:-}" ]] || return 0
SK_PLUGIN_DLL_LOADED=1

# The PE header's fields, little-endian: the offset of the "PE\0\0" signature at 0x3c,
# then the machine (0x8664 for x64) and, 18 bytes on, the characteristics (0x2000: a DLL).
_sk_le() {  # _sk_le FILE OFFSET BYTES: the unsigned little-endian number there, or nothing
    od -An -t u"$3" -j "$2" -N "$3" --endian=little "$1" 2>/dev/null | tr -d ' '
}

sk_check_plugin_dll() {
    local path=$1 pe machine flags
    if [[ ! -e "$path" ]]; then
        printf 'error: %s: no such file\n' "$path" >&2
        exit 2
    fi
    if [[ -d "$path" ]]; then
        printf 'error: %s: a folder, not a DLL\n' "$path" >&2
        exit 2
    fi
    if [[ ! -f "$path" || ! -r "$path" ]]; then
        printf 'error: %s: not a readable file\n' "$path" >&2
        exit 2
    fi
    pe=$(_sk_le "$path" 60 4)
    if [[ "$(head -c 2 "$path" 2>/dev/null)" != MZ || -z "$pe" ||
          "$(od -An -c -j "$pe" -N 4 "$path" 2>/dev/null | tr -d ' ')" != 'PE\0\0' ]]; then
        printf 'error: %s: not a Windows DLL (no PE header)\n' "$path" >&2
        exit 2
    fi
    machine=$(_sk_le "$path" $(( pe + 4 )) 2)
    flags=$(_sk_le "$path" $(( pe + 22 )) 2)
    if (( (flags & 0x2000) == 0 )); then
        printf 'error: %s: a Windows program, not a DLL\n' "$path" >&2
        exit 2
    fi
    if (( machine != 0x8664 )); then
        if (( machine == 0x14c )); then
            printf 'error: %s: a 32-bit DLL; the host loads 64-bit (x64) plug-ins only\n' "$path" >&2
        else
            printf 'error: %s: a DLL for machine 0x%x, not 64-bit x64\n' "$path" "$machine" >&2
        fi
        exit 2
    fi
}
