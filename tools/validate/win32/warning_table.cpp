#include "tools/validate/win32/warning_table.h"

#include <cstring>

#include "tools/validate/win32/child_state.h"

namespace validate {

void note_warning(warning_kind kind, std::string_view detail) noexcept
{
    warning_table& table = the_child().warnings;
    const std::size_t length =
        detail.size() < sizeof table.entries[0].detail - 1 ? detail.size() : sizeof table.entries[0].detail - 1;
    AcquireSRWLockExclusive(&table.lock);
    bool counted = false;
    for (std::size_t i = 0; i < table.used && !counted; ++i) {
        warning_table::entry& entry = table.entries[i];
        if (entry.kind == kind && std::strlen(entry.detail) == length &&
            std::memcmp(entry.detail, detail.data(), length) == 0) {
            ++entry.count;
            counted = true;
        }
    }
    if (!counted && table.used < warning_table::capacity) {
        warning_table::entry& entry = table.entries[table.used++];
        entry.kind = kind;
        entry.count = 1;
        std::memcpy(entry.detail, detail.data(), length);
        entry.detail[length] = '\0';
    } else if (!counted) {
        ++table.left_out;
    }
    ReleaseSRWLockExclusive(&table.lock);
}

void write_warnings(result_writer& out) noexcept
{
    warning_table& table = the_child().warnings;
    if (!TryAcquireSRWLockShared(&table.lock)) return;
    for (std::size_t i = 0; i < table.used; ++i)
        out.warning(table.entries[i].kind, table.entries[i].count, table.entries[i].detail);
    if (table.left_out > 0) {
        out.begin_note().text("and ").number(table.left_out);
        out.text(" warnings more, of more kinds or details than the validator keeps").end();
    }
    ReleaseSRWLockShared(&table.lock);
}

}  // namespace validate
