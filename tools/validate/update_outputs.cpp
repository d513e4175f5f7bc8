#include "tools/validate/update_outputs.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace validate {

void update_outputs::reset() noexcept
{
    for (cell& c : cells_) {
        std::memset(c.before, guard, sizeof c.before);
        std::memset(c.after, guard, sizeof c.after);
        c.value = preset;
    }
}

namespace {

// How many of `size` guard bytes changed.
std::size_t changed(const std::uint8_t* bytes, std::size_t size) noexcept
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i) count += bytes[i] != update_outputs::guard ? 1 : 0;
    return count;
}

std::string bytes(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string hex(std::int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::optional<check_result> update_outputs::fault(std::uint64_t frame) const
{
    std::string past;
    for (int i = 0; i < 2; ++i) {
        const std::size_t after = changed(cells_[i].after, sizeof cells_[i].after);
        const std::size_t before = changed(cells_[i].before, sizeof cells_[i].before);
        const std::string output = "output " + std::to_string(i + 1);
        if (after > 0) past += (past.empty() ? "" : "; ") + bytes(after) + " after " + output;
        if (before > 0) past += (past.empty() ? "" : "; ") + bytes(before) + " before " + output;
    }
    if (!past.empty()) {
        return failed(fault_kind::wrote_past_output,
                      "Update wrote past its 4-byte outputs, into the host's memory (" + past +
                          " changed): each output is one std::int32_t",
                      plugin_call::update, frame);
    }
    std::string wrong;
    for (int i = 0; i < 2; ++i) {
        const std::int32_t value = cells_[i].value;
        if (value == 0) continue;
        wrong +=
            (wrong.empty() ? "" : ", ") + std::string("output ") + std::to_string(i + 1) +
            (value == preset ? " left as the host preset it (" + hex(value) + ")" : " set to " + std::to_string(value));
    }
    if (wrong.empty()) return std::nullopt;
    return failed(fault_kind::output_not_zero,
                  "Update left an output other than 0: " + wrong + "; both must be 0 after every Update",
                  plugin_call::update, frame);
}

}  // namespace validate
