// The warnings the child notes while a check runs, kept without allocating
// (a hook on any thread of the plug-in may note one, and the fault path
// writes them while other threads stand still): a warning seen again with
// the same kind and detail is counted, not repeated. Every result the child
// writes carries them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>

#include "tools/validate/check_result.h"

namespace validate {

struct warning_table {
    struct entry {
        warning_kind kind;
        std::uint64_t count;
        char detail[240];  // cut to fit
    };
    static constexpr std::size_t capacity = 32;
    SRWLOCK lock = SRWLOCK_INIT;
    entry entries[capacity] = {};
    std::size_t used = 0;
    std::uint64_t left_out = 0;  // warnings that found the table full
};

// Notes a warning: counted with an equal one noted before, or added.
void note_warning(warning_kind kind, std::string_view detail) noexcept;
// Writes the warnings noted so far as lines of the result being written.
// From the fault path too: when another thread holds the table, nothing is
// written rather than waited for.
void write_warnings(result_writer& out) noexcept;

}  // namespace validate
