// The two outputs the validator hands every Update, as a host hands them:
// each preset to a value other than 0 and kept inside guard bytes, so that
// an output the Update left as it was or set to another value than 0, and a
// write past either output's 4 bytes (8 bytes into a 4-byte output), are
// seen and named after the Update returns.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/validate/check_result.h"

namespace validate {

class update_outputs {
public:
    static constexpr std::int32_t preset = 0x5A5A5A5A;
    static constexpr std::uint8_t guard = 0xA5;

    update_outputs() noexcept { reset(); }
    // Before each Update: both outputs preset, every guard byte in place.
    void reset() noexcept;
    std::int32_t* first() noexcept { return &cells_[0].value; }
    std::int32_t* second() noexcept { return &cells_[1].value; }

    // After the Update of `frame`: its fault, a write past an output before
    // an output other than 0; nothing when both are 0 and no guard byte
    // changed.
    std::optional<check_result> fault(std::uint64_t frame) const;

private:
    struct cell {
        std::uint8_t before[8];
        std::int32_t value;
        std::uint8_t after[12];
    };
    cell cells_[2];
};

}  // namespace validate
