#include "tools/validate/win32/child_channel.h"

#include <cstring>

namespace validate {

const char* call_name(plugin_call call) noexcept
{
    switch (call) {
        case plugin_call::none: return "";
        case plugin_call::load_library: return "LoadLibrary";
        case plugin_call::get_interface_version: return "GetInterfaceVersion";
        case plugin_call::init: return "Init";
        case plugin_call::update: return "Update";
        case plugin_call::shutdown: return "Shutdown";
        case plugin_call::free_library: return "FreeLibrary";
        case plugin_call::after_free_library: return "the wait after FreeLibrary";
        case plugin_call::process_exit: return "process exit";
    }
    return "";
}

bool is_timed_call(plugin_call call) noexcept
{
    return call != plugin_call::none && call != plugin_call::after_free_library && call != plugin_call::process_exit;
}

channel_owner::channel_owner()
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    mapping_ =
        CreateFileMappingA(INVALID_HANDLE_VALUE, &inheritable, PAGE_READWRITE, 0, sizeof(channel_block), nullptr);
    if (mapping_ == nullptr) return;
    block_ = static_cast<channel_block*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(channel_block)));
}

channel_owner::~channel_owner()
{
    if (block_ != nullptr) UnmapViewOfFile(block_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
}

namespace {

channel_block* shared = nullptr;

}  // namespace

bool open_channel(std::uint64_t handle) noexcept
{
    const auto mapping = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
    shared = static_cast<channel_block*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(channel_block)));
    return shared != nullptr;
}

void set_host_thread() noexcept
{
    if (shared != nullptr) shared->host_thread = static_cast<LONG>(GetCurrentThreadId());
}

channel_block* channel() noexcept
{
    return shared;
}

void begin_call(plugin_call call) noexcept
{
    if (shared == nullptr) return;
    if (call == plugin_call::update) InterlockedIncrement64(&shared->frame);
    InterlockedExchange(&shared->call, static_cast<LONG>(call));
    InterlockedIncrement64(&shared->calls);
}

void end_call() noexcept
{
    if (shared != nullptr) InterlockedExchange(&shared->call, static_cast<LONG>(plugin_call::none));
}

void write_result(const check_result& result)
{
    if (shared == nullptr) return;
    const std::string text = serialize(result);
    const std::size_t length = text.size() < sizeof shared->result ? text.size() : sizeof shared->result;
    std::memcpy(shared->result, text.data(), length);
    InterlockedExchange(&shared->result_length, static_cast<LONG>(length));
}

void write_fault_text(const char* text, std::size_t length) noexcept
{
    if (shared == nullptr) return;
    // The first fault is the one reported; a second thread's waits here.
    if (InterlockedCompareExchange(&shared->fault_length, -1, 0) != 0) {
        Sleep(INFINITE);
    }
    length = length < sizeof shared->fault ? length : sizeof shared->fault;
    std::memcpy(shared->fault, text, length);
    InterlockedExchange(&shared->fault_length, static_cast<LONG>(length));
}

void expect_exit_code(std::uint32_t code) noexcept
{
    if (shared == nullptr) return;
    shared->expected_exit_code = static_cast<LONG>(code);
    InterlockedExchange(&shared->exit_code_expected, 1);
}

void set_frame_note(const std::string& note) noexcept
{
    if (shared == nullptr) return;
    const std::size_t length =
        note.size() < sizeof shared->frame_note - 1 ? note.size() : sizeof shared->frame_note - 1;
    std::memcpy(shared->frame_note, note.data(), length);
    shared->frame_note[length] = '\0';
}

}  // namespace validate
