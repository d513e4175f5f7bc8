#include "tools/validate/win32/guarded_stream.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "tools/validate/check_result.h"

namespace validate {

namespace {

std::size_t page_size() noexcept
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// The placed stream, for the exception handler: [first, end) are the
// stream's bytes, [region, end) its pages, [end, end + page) the guard.
std::atomic<std::uintptr_t> region_start{0};
std::atomic<std::uintptr_t> stream_first{0};
std::atomic<std::uintptr_t> stream_end{0};

}  // namespace

guarded_stream::~guarded_stream()
{
    region_start = stream_first = stream_end = 0;
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

const std::uint8_t* guarded_stream::place(const std::vector<std::uint8_t>& bytes)
{
    const std::size_t page = page_size();
    const std::size_t needed = (bytes.size() + page - 1) / page;
    if (base_ == nullptr || needed > pages_) {
        if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
        pages_ = needed < 16 ? 16 : needed;
        base_ = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, (pages_ + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
        if (base_ == nullptr) {
            pages_ = 0;
            return nullptr;
        }
    }
    std::uint8_t* const end = base_ + pages_ * page;
    std::uint8_t* const first = end - bytes.size();
    DWORD old = 0;
    if (pages_ > 0) VirtualProtect(base_, pages_ * page, PAGE_READWRITE, &old);
    if (!bytes.empty()) std::memcpy(first, bytes.data(), bytes.size());
    if (pages_ > 0) VirtualProtect(base_, pages_ * page, PAGE_READONLY, &old);
    region_start = reinterpret_cast<std::uintptr_t>(base_);
    stream_first = reinterpret_cast<std::uintptr_t>(first);
    stream_end = reinterpret_cast<std::uintptr_t>(end);
    return first;
}

void guarded_stream::close_after_call() noexcept
{
    DWORD old = 0;
    if (base_ != nullptr) VirtualProtect(base_, pages_ * page_size(), PAGE_NOACCESS, &old);
}

bool stream_fault(std::uintptr_t address, bool write, bool in_update, char* text, std::size_t size,
                  const char*& kind) noexcept
{
    const std::uintptr_t region = region_start, first = stream_first, end = stream_end;
    if (region == 0 || address < region || address >= end + page_size()) return false;
    const unsigned long long length = end - first;
    if (!in_update) {
        kind = failure_kind::kept_stream;
        std::snprintf(text, size, "%s the stream after Update had returned (byte %lld of %llu)",
                      write ? "wrote into" : "read", static_cast<long long>(address - first), length);
    } else if (address >= end) {
        kind = write ? failure_kind::wrote_into_stream : failure_kind::read_past_stream;
        std::snprintf(text, size, "%s past the end of the %llu-byte stream (byte %llu)", write ? "wrote" : "read",
                      length, static_cast<unsigned long long>(address - first));
    } else {
        // The stream's pages are readable during Update: only a write faults.
        kind = failure_kind::wrote_into_stream;
        std::snprintf(text, size, "wrote into the host's stream at byte %lld of %llu",
                      static_cast<long long>(address - first), length);
    }
    return true;
}

}  // namespace validate
