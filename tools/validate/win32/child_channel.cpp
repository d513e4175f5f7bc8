#include "tools/validate/win32/child_channel.h"

#include <atomic>
#include <cstring>
#include <new>

#include "tools/validate/win32/plugin_under_test.h"

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
    return call != plugin_call::none && call != plugin_call::after_free_library;
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
std::atomic<double> call_started_at{0.0};  // on this process's clock; the watchdog reads it
double slowest_seconds = 0.0;
result_writer* fault_writer = nullptr;
alignas(result_writer) unsigned char fault_writer_space[sizeof(result_writer)];

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

bool is_host_thread() noexcept
{
    return shared != nullptr && static_cast<DWORD>(shared->host_thread) == GetCurrentThreadId();
}

void begin_call(plugin_call call) noexcept
{
    if (shared == nullptr) return;
    if (call == plugin_call::update) InterlockedIncrement64(&shared->frame);
    call_started_at = now_seconds();
    InterlockedExchange(&shared->call, static_cast<LONG>(call));
    InterlockedIncrement64(&shared->calls);
}

void end_call() noexcept
{
    if (shared == nullptr) return;
    const auto call = static_cast<plugin_call>(shared->call);
    const double seconds = now_seconds() - call_started_at;
    InterlockedExchange(&shared->call, static_cast<LONG>(plugin_call::none));
    if (is_timed_call(call) && seconds > slowest_seconds) {
        slowest_seconds = seconds;
        shared->slowest_call_ms = static_cast<LONG>(seconds * 1000.0);
        shared->slowest_call = static_cast<LONG>(call);
    }
}

plugin_call current_call() noexcept
{
    return shared != nullptr ? static_cast<plugin_call>(shared->call) : plugin_call::none;
}

std::uint64_t current_frame() noexcept
{
    return shared != nullptr ? static_cast<std::uint64_t>(shared->frame) : 0;
}

double current_call_seconds() noexcept
{
    return current_call() == plugin_call::none ? 0.0 : now_seconds() - call_started_at;
}

double hang_limit_seconds() noexcept
{
    return shared != nullptr && shared->hang_limit_ms > 0 ? shared->hang_limit_ms / 1000.0 : 10.0;
}

bool leave_loaded() noexcept
{
    return shared != nullptr && shared->leave_loaded != 0;
}

void count_load() noexcept
{
    if (shared != nullptr) InterlockedIncrement(&shared->loads);
}

void count_unload() noexcept
{
    if (shared != nullptr) InterlockedIncrement(&shared->unloads);
}

void mark_started() noexcept
{
    if (shared != nullptr) InterlockedExchange(&shared->started, 1);
}

void write_results(const std::vector<std::pair<std::string_view, check_result>>& results) noexcept
{
    if (shared == nullptr) return;
    result_writer out(shared->result, sizeof shared->result);
    for (const auto& [name, result] : results) {
        out.line("check", name);
        write_check_result(out, result);
    }
    const std::string_view text = out.finish();
    InterlockedExchange(&shared->result_length, static_cast<LONG>(text.size()));
}

result_writer* begin_fault() noexcept
{
    if (shared == nullptr) return nullptr;
    // The first fault is the one reported.
    if (InterlockedCompareExchange(&shared->fault_length, -1, 0) != 0) return nullptr;
    fault_writer = new (fault_writer_space) result_writer(shared->fault, sizeof shared->fault);
    return fault_writer;
}

void commit_fault() noexcept
{
    if (shared == nullptr || fault_writer == nullptr) return;
    InterlockedExchange(&shared->fault_length, static_cast<LONG>(fault_writer->finish().size()));
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
