// Test memory that ends exactly where an inaccessible page begins, so that a
// read of even one byte past the end faults at once instead of passing
// unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

class guarded_bytes {
public:
    explicit guarded_bytes(std::size_t size) : size_(size)
    {
        const std::size_t page = page_size();
        const std::size_t readable = (size + page - 1) / page * page;
        mapping_size_ = readable + page;
#if defined(_WIN32)
        base_ =
            static_cast<std::uint8_t*>(VirtualAlloc(nullptr, mapping_size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old_protection = 0;
        const bool guarded = base_ && VirtualProtect(base_ + readable, page, PAGE_NOACCESS, &old_protection);
#else
        void* mapping = mmap(nullptr, mapping_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = mapping == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(mapping);
        const bool guarded = base_ && mprotect(base_ + readable, page, PROT_NONE) == 0;
#endif
        if (!guarded) std::abort();
        data_ = base_ + readable - size;
    }

    ~guarded_bytes()
    {
#if defined(_WIN32)
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, mapping_size_);
#endif
    }

    guarded_bytes(const guarded_bytes&) = delete;
    guarded_bytes& operator=(const guarded_bytes&) = delete;

    std::uint8_t* data() noexcept
    {
        return data_;
    }
    std::size_t size() const noexcept
    {
        return size_;
    }

    // Copies `bytes` in so that their last byte is the last readable one.
    void fill(const void* bytes) noexcept
    {
        std::memcpy(data_, bytes, size_);
    }

private:
    static std::size_t page_size() noexcept
    {
#if defined(_WIN32)
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
#else
        return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
    }

    std::size_t size_;
    std::size_t mapping_size_ = 0;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* data_ = nullptr;
};
