// The stream handed to Update, placed so that its last byte is followed by a
// page that cannot be touched, in pages that can only be read while Update
// runs. The streams of the last few frames stay in place without any access
// at all, each in a region of its own, so that a plug-in that keeps the
// pointer and reads an earlier frame's stream is caught with that frame
// named. An access violation on these pages tells what the plug-in did: read
// past the stream, wrote into it, or used it after its Update had returned.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/validate/check_result.h"

namespace validate {

class guarded_stream {
public:
    guarded_stream() = default;
    ~guarded_stream();
    guarded_stream(const guarded_stream&) = delete;
    guarded_stream& operator=(const guarded_stream&) = delete;

    // Copies `bytes` in, read-only, the last right before a guard page, for
    // the Update of `frame`; returns where the first is (the guard page
    // itself for no bytes), or null when no memory could be had.
    const std::uint8_t* place(const std::vector<std::uint8_t>& bytes, std::uint64_t frame);
    // After Update has returned: no access at all until the region's next use.
    void close_after_call() noexcept;

private:
    friend struct stream_placements;
    struct region {
        std::uint8_t* base = nullptr;
        std::size_t pages = 0;  // readable pages, the guard page not counted
    };
    static constexpr std::size_t regions = 4;
    region regions_[regions];
    std::size_t current_ = 0;
};

// Where the streams are placed, for the exception handler, part of the
// child's state: [first, end) are a stream's bytes, [region, end) its pages,
// [end, end + page) its guard.
struct stream_placements {
    struct placed {
        std::atomic<std::uintptr_t> region{0};
        std::atomic<std::uintptr_t> first{0};
        std::atomic<std::uintptr_t> end{0};
        std::atomic<std::uint64_t> frame{0};
    };
    placed streams[guarded_stream::regions];
};

// What an access violation on a placed stream was. Safe in an exception
// handler: no allocation, no lock.
struct stream_access {
    fault_kind kind = fault_kind::none;  // none when the address is not a stream's
    bool write = false;
    bool past_end = false;  // in the guard page after the stream
    std::uint64_t stream_frame = 0;  // the frame whose stream was touched
    std::uint64_t byte = 0;  // from the stream's first byte
    std::uint64_t length = 0;  // the stream's bytes
};
// `in_update_of`: the frame whose Update the host's thread is in, 0 between
// calls.
stream_access classify_stream_access(std::uintptr_t address, bool write, std::uint64_t in_update_of) noexcept;
// The access in words, into a summary line being written.
void write_stream_access(result_writer& out, const stream_access& access) noexcept;

}  // namespace validate
