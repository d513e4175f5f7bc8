#include "tools/validate/win32/guarded_stream.h"

#include <windows.h>

#include <cstring>

#include "tools/validate/win32/child_state.h"

namespace validate {

namespace {

std::size_t page_size() noexcept
{
    static const std::size_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwPageSize);
    }();
    return size;
}

stream_placements::placed* placed_streams() noexcept
{
    return the_child().streams.streams;
}

}  // namespace

guarded_stream::~guarded_stream()
{
    for (std::size_t i = 0; i < regions; ++i) {
        placed_streams()[i].region = placed_streams()[i].first = placed_streams()[i].end = 0;
        if (regions_[i].base != nullptr) VirtualFree(regions_[i].base, 0, MEM_RELEASE);
    }
}

const std::uint8_t* guarded_stream::place(const std::vector<std::uint8_t>& bytes, std::uint64_t frame)
{
    current_ = (current_ + 1) % regions;
    region& r = regions_[current_];
    stream_placements::placed& p = placed_streams()[current_];
    const std::size_t page = page_size();
    const std::size_t needed = (bytes.size() + page - 1) / page;
    if (r.base == nullptr || needed > r.pages) {
        p.region = p.first = p.end = 0;
        if (r.base != nullptr) VirtualFree(r.base, 0, MEM_RELEASE);
        r.pages = needed < 16 ? 16 : needed;
        r.base = static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, (r.pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
        if (r.base == nullptr) {
            r.pages = 0;
            return nullptr;
        }
    }
    std::uint8_t* const end = r.base + r.pages * page;
    std::uint8_t* const first = end - bytes.size();
    DWORD old = 0;
    VirtualProtect(r.base, r.pages * page, PAGE_READWRITE, &old);
    if (!bytes.empty()) std::memcpy(first, bytes.data(), bytes.size());
    VirtualProtect(r.base, r.pages * page, PAGE_READONLY, &old);
    p.region = reinterpret_cast<std::uintptr_t>(r.base);
    p.first = reinterpret_cast<std::uintptr_t>(first);
    p.end = reinterpret_cast<std::uintptr_t>(end);
    p.frame = frame;
    return first;
}

void guarded_stream::close_after_call() noexcept
{
    const region& r = regions_[current_];
    DWORD old = 0;
    if (r.base != nullptr) VirtualProtect(r.base, r.pages * page_size(), PAGE_NOACCESS, &old);
}

stream_access classify_stream_access(std::uintptr_t address, bool write, std::uint64_t in_update_of) noexcept
{
    stream_access access;
    for (const stream_placements::placed& p : the_child().streams.streams) {
        const std::uintptr_t region = p.region, first = p.first, end = p.end;
        if (region == 0 || address < region || address >= end + page_size()) continue;
        access.write = write;
        access.stream_frame = p.frame;
        access.byte = address - first;
        access.length = end - first;
        access.past_end = address >= end;
        if (in_update_of != p.frame)
            access.kind = fault_kind::kept_stream;
        else if (access.past_end)
            access.kind = write ? fault_kind::wrote_into_stream : fault_kind::read_past_stream;
        else
            access.kind = fault_kind::wrote_into_stream;  // readable in its Update: only a write faults
        return access;
    }
    return access;
}

void write_stream_access(result_writer& out, const stream_access& access) noexcept
{
    const auto byte = [&] {
        // An address before the stream's first byte is in its region's spare pages.
        if (access.byte > access.length && !access.past_end)
            out.text("before its first byte");
        else
            out.text("byte ").number(access.byte).text(" of ").number(access.length);
    };
    if (access.kind == fault_kind::kept_stream) {
        out.text(access.write ? "wrote into" : "read").text(" the stream of frame ").number(access.stream_frame);
        out.text(" (");
        byte();
        out.text(") after its Update had returned");
    } else if (access.past_end) {
        out.text(access.write ? "wrote" : "read").text(" past the end of the ").number(access.length);
        out.text("-byte stream (byte ").number(access.byte).text(")");
    } else {
        out.text("wrote into the host's stream at ");
        byte();
    }
}

}  // namespace validate
