#include "tools/validate/win32/child_channel.h"

#include <cstring>

#include "tools/validate/win32/child_state.h"
#include "tools/validate/win32/plugin_under_test.h"
#include "tools/validate/win32/warning_table.h"

namespace validate {

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

channel_view& view() noexcept
{
    return the_child().channel;
}

}  // namespace

bool open_channel(std::uint64_t handle) noexcept
{
    const auto mapping = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
    view().block =
        static_cast<channel_block*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(channel_block)));
    return view().block != nullptr;
}

void set_host_thread() noexcept
{
    if (channel_block* const shared = channel()) shared->host_thread = static_cast<LONG>(GetCurrentThreadId());
}

channel_block* channel() noexcept
{
    return view().block;
}

bool is_host_thread() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr && static_cast<DWORD>(shared->host_thread) == GetCurrentThreadId();
}

void begin_call(plugin_call call) noexcept
{
    channel_block* const shared = channel();
    if (shared == nullptr) return;
    if (call == plugin_call::update) InterlockedIncrement64(&shared->frame);
    view().call_started_at = now_seconds();
    InterlockedExchange(&shared->call, static_cast<LONG>(call));
    InterlockedIncrement64(&shared->calls);
}

void end_call() noexcept
{
    channel_block* const shared = channel();
    if (shared == nullptr) return;
    const auto call = static_cast<plugin_call>(shared->call);
    const double seconds = now_seconds() - view().call_started_at;
    InterlockedExchange(&shared->call, static_cast<LONG>(plugin_call::none));
    if (is_timed_call(call) && seconds > view().slowest_seconds) {
        view().slowest_seconds = seconds;
        shared->slowest_call_ms = static_cast<LONG>(seconds * 1000.0);
        shared->slowest_call = static_cast<LONG>(call);
    }
}

plugin_call current_call() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr ? static_cast<plugin_call>(shared->call) : plugin_call::none;
}

std::uint64_t current_frame() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr ? static_cast<std::uint64_t>(shared->frame) : 0;
}

double current_call_seconds() noexcept
{
    return current_call() == plugin_call::none ? 0.0 : now_seconds() - view().call_started_at;
}

double hang_limit_seconds() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr && shared->hang_limit_ms > 0 ? shared->hang_limit_ms / 1000.0 : 10.0;
}

bool leave_loaded() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr && shared->leave_loaded != 0;
}

std::uint64_t memory_limit() noexcept
{
    const channel_block* const shared = channel();
    return shared != nullptr && shared->memory_limit > 0 ? static_cast<std::uint64_t>(shared->memory_limit) : 0;
}

void count_load() noexcept
{
    if (channel_block* const shared = channel()) InterlockedIncrement(&shared->loads);
}

void count_unload() noexcept
{
    if (channel_block* const shared = channel()) InterlockedIncrement(&shared->unloads);
}

void mark_started() noexcept
{
    if (channel_block* const shared = channel()) InterlockedExchange(&shared->started, 1);
}

void write_results(const std::vector<std::pair<std::string_view, check_result>>& results) noexcept
{
    channel_block* const shared = channel();
    if (shared == nullptr) return;
    result_writer out(shared->result, sizeof shared->result);
    for (const auto& [name, result] : results) {
        out.check(name);
        write_check_result(out, result);
        write_warnings(out);
    }
    const std::string_view text = out.finish();
    InterlockedExchange(&shared->result_length, static_cast<LONG>(text.size()));
}

result_writer fault_writer() noexcept
{
    channel_block* const shared = channel();
    return shared != nullptr ? result_writer(shared->fault, sizeof shared->fault) : result_writer(nullptr, 0);
}

void commit_fault(result_writer& fault) noexcept
{
    if (channel_block* const shared = channel())
        InterlockedExchange(&shared->fault_length, static_cast<LONG>(fault.finish().size()));
}

void expect_exit_code(std::uint32_t code) noexcept
{
    channel_block* const shared = channel();
    if (shared == nullptr) return;
    shared->expected_exit_code = static_cast<LONG>(code);
    InterlockedExchange(&shared->exit_code_expected, 1);
}

void set_frame_note(const std::string& note) noexcept
{
    channel_block* const shared = channel();
    if (shared == nullptr) return;
    const std::size_t length =
        note.size() < sizeof shared->frame_note - 1 ? note.size() : sizeof shared->frame_note - 1;
    std::memcpy(shared->frame_note, note.data(), length);
    shared->frame_note[length] = '\0';
}

}  // namespace validate
