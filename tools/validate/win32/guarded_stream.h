// The stream handed to Update, placed so that its last byte is followed by a
// page that cannot be touched, in pages that can only be read while Update
// runs and not at all afterwards. An access violation on these pages names
// what the plug-in did: read past the stream, wrote into it, or used it after
// Update had returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace validate {

class guarded_stream {
public:
    guarded_stream() = default;
    ~guarded_stream();
    guarded_stream(const guarded_stream&) = delete;
    guarded_stream& operator=(const guarded_stream&) = delete;

    // Copies `bytes` in, read-only, the last right before the guard page, and
    // returns where the first is (the guard page itself for no bytes).
    const std::uint8_t* place(const std::vector<std::uint8_t>& bytes);
    // After Update has returned: no access at all until the next place().
    void close_after_call() noexcept;

private:
    std::uint8_t* base_ = nullptr;
    std::size_t pages_ = 0;  // readable pages, the guard page not counted
};

// What an access violation at `address` means for the stream now placed: one
// sentence into `text` and a failure kind; false when the address is not the
// stream's. `write` tells a write from a read, `in_update` whether the host's
// thread is in Update. Safe in an exception handler.
bool stream_fault(std::uintptr_t address, bool write, bool in_update, char* text, std::size_t size,
                  const char*& kind) noexcept;

}  // namespace validate
