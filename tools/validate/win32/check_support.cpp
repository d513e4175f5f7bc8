#include "tools/validate/win32/check_support.h"

#include <windows.h>

#include <cstdio>

#include "tools/validate/child_verdict.h"
#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/fault_capture.h"

namespace validate {

namespace {

struct recording_to_fly {
    std::string path;
    std::uint64_t frames = 0;
};
recording_to_fly recording;

}  // namespace

void fly_recording(const std::string& path, std::uint64_t frames)
{
    recording = {path, frames};
}

flight_frames::flight_frames()
{
    if (recording.path.empty()) return;
    recording_ = std::make_unique<recorded_flight>();
    std::string error;
    if (!recording_->open(recording.path, recording.frames, error))
        report_fault(validator_error("validate: the recording: " + error));
}

flight_frames::~flight_frames() = default;

void flight_frames::next(std::vector<std::uint8_t>& stream, std::uint32_t& count, double& time_step)
{
    if (recording_ == nullptr) {
        std::string error;
        source_.next(time_step, count, stream, error);  // the built-in flight never ends
        return;
    }
    std::string error;
    if (!recording_->next(frame_, error)) report_fault(validator_error("validate: the recording: " + error));
    stream.swap(frame_.stream);
    count = frame_.message_count;
    time_step = frame_.time_step;
}

std::string flight_frames::what() const
{
    if (recording_ == nullptr) return "a frame of the built-in flight";
    return "frame " + std::to_string(recording_->frame_number()) + " of the recording";
}

std::uint64_t flight_frames::length() const noexcept
{
    return recording_ != nullptr ? recording_->frames() : static_cast<std::uint64_t>(20 * frame_rate);
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void pump_for(double seconds)
{
    const double end = now_seconds() + seconds;
    for (;;) {
        pump_messages();
        const double left = end - now_seconds();
        if (left <= 0.0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1000.0) + 1, QS_ALLINPUT);
    }
}

void frame_loop::one(const std::function<void(double)>& on_update)
{
    std::uint32_t count = 0;
    frames_.next(stream_, count, time_step_);
    if (frames_.recorded()) set_frame_note(frames_.what());
    plugin_.update(time_step_, stream_.data(), count);
    if (on_update) on_update(plugin_.last_call_seconds());
    pump_messages();
    if (!paced_) return;
    // Keep to the schedule without bursts after a stall.
    const double now = now_seconds();
    deadline_ = deadline_ == 0.0 || now - deadline_ > 0.25 ? now + 1.0 / frame_rate : deadline_ + 1.0 / frame_rate;
    pump_for(deadline_ - now);
}

void frame_loop::run(int frames, const std::function<void(double)>& on_update)
{
    for (int i = 0; i < frames; ++i) one(on_update);
}

void frame_loop::run_for(double seconds, const std::function<void(double)>& on_update)
{
    const double end = now_seconds() + seconds;
    while (now_seconds() < end) one(on_update);
}

bool module_mapped(HMODULE module)
{
    char path[MAX_PATH];
    return GetModuleFileNameA(module, path, sizeof path) != 0;
}

check_result not_loadable(const std::string& error)
{
    return failed(fault_kind::not_loadable, "cannot run: " + error);
}

std::optional<check_result> try_load(plugin_under_test& plugin, const check_context& context)
{
    std::string error;
    if (plugin.load(context.options.plugin_path, error)) return std::nullopt;
    return not_loadable(error);
}

std::optional<check_result> try_init(plugin_under_test& plugin)
{
    if (plugin.init()) return std::nullopt;
    return failed(fault_kind::expectation, "Init answered false");
}

// NOLINTNEXTLINE(performance-unnecessary-value-param): moved from, through a binding clang-tidy 14 does not follow
check_result report_shared(const check_context& context, std::vector<std::pair<std::string_view, check_result>> results)
{
    check_result first;
    for (auto& [name, result] : results) {
        if (context.check != nullptr && name == context.check->name)
            first = std::move(result);
        else if (context.others != nullptr)
            context.others->emplace_back(name, std::move(result));
    }
    return first;
}

std::uint64_t units_within(double unit_seconds, double budget_seconds, std::uint64_t wanted,
                           std::uint64_t fewest) noexcept
{
    if (unit_seconds <= 0.0 || unit_seconds * static_cast<double>(wanted) <= budget_seconds) return wanted;
    const auto fit = static_cast<std::uint64_t>(budget_seconds / unit_seconds);
    return fit < fewest ? fewest : fit;
}

std::string ms_text(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms < 1.0 ? "%.3f ms" : ms < 100.0 ? "%.2f ms" : "%.0f ms", ms);
    return text;
}

}  // namespace validate
