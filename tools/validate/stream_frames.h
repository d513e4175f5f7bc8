// The frames that the stream checks hand a plug-in: every data type, unknown
// identifiers, edge sizes, special numbers, very large frames and seeded
// random ones. Each frame's stream is exactly the bytes the plug-in is given:
// the validator places the stream's last byte right before a page that
// cannot be read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace validate {

struct test_frame {
    std::string what;  // names the frame in a failure: "Size 65535", "random frame 17"
    std::vector<std::uint8_t> stream;  // the bytes the plug-in may read
    std::uint32_t count = 0;  // the message count passed with it
    double time_step = 1.0 / 60.0;
};

// Frames of the built-in flight, a frame with one message of each data type
// 0 to 7 carrying its whole value, one with each value cut short (a Double
// with Size 64, a String with one unit...), and strings of full length
// without their end mark.
std::vector<test_frame> data_type_frames();

// Identifiers that no catalogue knows (0, all ones, random), data types 8 to
// 255, and the motion names with other data types and short values.
std::vector<test_frame> unknown_identifier_frames();

// One message each with Size 0, 63, 64, 65, 128, 129 and 65535, alone and
// before a message with the simulation time. The stream holds the message as
// its Size gives it, followed by zero bytes enough for a reader that takes a
// whole 128-byte record for a Size below 64 or above 128.
std::vector<test_frame> size_frames();

// NaN (quiet, signalling, negative), infinities, the largest and smallest
// numbers, denormals and -0 in the time, the velocities and other doubles;
// the extremes of Int.
std::vector<test_frame> special_value_frames();

// `messages` well-formed messages, named from the built-in flight's messages,
// varied by `variant`.
test_frame large_frame(std::uint32_t messages, std::uint64_t variant);

// Random frame `index` of `seed`: the same on every machine and in every run.
// Up to 300 messages with random identifiers (mostly known ones), data
// types, flags, reserved fields and values, each with a Size from 64 to 128.
test_frame random_frame(std::uint64_t seed, std::uint64_t index);

// A small random number generator whose sequence is fixed for a seed
// (SplitMix64).
class split_mix {
public:
    explicit split_mix(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;
    // A number from 0 to bound - 1 (bound > 0).
    std::uint64_t below(std::uint64_t bound) noexcept { return next() % bound; }

private:
    std::uint64_t state_;
};

}  // namespace validate
