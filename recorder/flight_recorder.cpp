#include "recorder/flight_recorder.h"

#include <cstdio>

#include <skarvel/shared/input/tm_byte_order.h>
#include <skarvel/shared/input/tm_message_stream.h>

#include "tools/common/frame_recording.h"

namespace recorder {
namespace {

// Frames are copied into storage of this size, made at the first Init; one
// that grew past `largest_kept` for a large frame is made small again.
constexpr std::size_t usual_frame_bytes = 8 << 10;
constexpr std::size_t largest_kept = 64 << 10;
constexpr std::size_t longest_stream = tools::recording_max_payload - tools::recording_payload_prefix;

std::string two_digits(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace

std::string recording_name(const local_time& time, unsigned attempt)
{
    std::string name = "flight-" + std::to_string(time.year) + "-" + two_digits(time.month) + "-" +
                       two_digits(time.day) + "_" + two_digits(time.hour) + "-" + two_digits(time.minute) + "-" +
                       two_digits(time.second);
    if (attempt > 1) name += "-" + std::to_string(attempt);
    return name + ".skvrec";
}

std::string describe_bytes(std::uint64_t bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (value == static_cast<double>(static_cast<std::uint64_t>(value)))
        std::snprintf(text, sizeof text, "%.0f %s", value, units[unit]);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

bool flight_recorder::start(const std::string& folder, const local_time& now, std::string& error,
                            const recorder_limits& limits)
{
    if (running()) return true;
    if (!make_folders(folder, error)) return false;

    // A new file, named by the time: the first name not taken.
    path_.clear();
    for (unsigned attempt = 1; attempt <= 100 && path_.empty(); ++attempt) {
        const std::string path = folder + folder_separator + recording_name(now, attempt);
        switch (file_.create_new(path, error)) {
            case recording_file::created::yes: path_ = path; break;
            case recording_file::created::exists: break;
            case recording_file::created::failed: return false;
        }
    }
    if (path_.empty()) {
        error = "no new recording can be named in " + folder + ": " + recording_name(now, 1) +
                " and 99 names after it are taken";
        return false;
    }
    const auto give_up = [this](const std::string& why, std::string& said) {
        file_.close();
        remove_file(path_);
        said = why;
        return false;
    };

    if (const auto free = file_.free_space(); free && *free < limits.keep_free)
        return give_up("the disk of " + folder + " has " + describe_bytes(*free) + " free, less than the " +
                           describe_bytes(limits.keep_free) + " the recorder leaves free",
                       error);
    std::uint8_t header[tools::recording_header_size];
    tools::encode_recording_header(header);
    std::string why;
    if (!file_.write(header, sizeof header, why)) return give_up(path_ + " cannot be written: " + why, error);

    folder_ = folder;
    limits_ = limits;
    started_ = std::to_string(now.year) + "-" + two_digits(now.month) + "-" + two_digits(now.day) + " " +
               two_digits(now.hour) + ":" + two_digits(now.minute) + ":" + two_digits(now.second);
    frames_seen_ = 0;
    unrecordable_ = 0;
    written_ = sizeof header;
    frames_written_ = 0;
    written_since_look_ = 0;
    ended_because_.clear();
    recording_.store(true);
    const bool started = worker_.start([this](frame_item& frame) { write_frame(frame); },
                                       {limits.queue_frames, std::chrono::milliseconds(10)},
                                       [](frame_item& frame) { frame.stream.reserve(usual_frame_bytes); });
    if (!started) {
        recording_.store(false);
        return give_up("the recorder's thread cannot start", error);
    }
    return true;
}

void flight_recorder::record(double time_step, const std::uint8_t* stream, std::uint32_t message_count) noexcept
{
    if (!worker_.running() || !recording_.load(std::memory_order_relaxed)) return;
    const std::uint64_t number = ++frames_seen_;
    // The stream's length, from the Size of each counted message.
    std::size_t length = 0;
    if (message_count > 0 && stream == nullptr) {
        ++unrecordable_;
        return;
    }
    for (std::uint32_t i = 0; i < message_count && length <= longest_stream; ++i)
        length += tm_message_extent(tm_byte_order::load_u16_le(stream + length + 2));
    if (length > longest_stream) {
        ++unrecordable_;
        return;
    }
    worker_.post([&](frame_item& frame) {
        frame.number = number;
        frame.time_step = time_step;
        frame.message_count = message_count;
        frame.stream.assign(stream, stream + length);
    });
}

void flight_recorder::write_frame(frame_item& frame) noexcept
{
    if (!ended_because_.empty()) return;
    const std::size_t length = frame.stream.size();
    const std::uint64_t size = tools::recorded_frame_overhead + length;
    if (written_ + size > limits_.recording_cap) {
        end_recording(frame.number,
                      "reached the recorder's cap of " + describe_bytes(limits_.recording_cap) + " per recording");
        return;
    }
    if (written_since_look_ + size > limits_.free_space_every) {
        written_since_look_ = 0;
        if (const auto free = file_.free_space(); free && *free < limits_.keep_free + size) {
            end_recording(frame.number, "its disk has " + describe_bytes(*free) + " free, and the recorder leaves " +
                                            describe_bytes(limits_.keep_free));
            return;
        }
    }
    tools::recorded_frame_envelope envelope;
    tools::encode_recorded_frame_envelope(frame.time_step, frame.message_count, frame.stream.data(), length, envelope);
    std::string why;
    if (!file_.write(envelope.prefix, sizeof envelope.prefix, why) || !file_.write(frame.stream.data(), length, why) ||
        !file_.write(envelope.trailer, sizeof envelope.trailer, why)) {
        file_.truncate(written_);
        end_recording(frame.number, "writing failed: " + why);
        return;
    }
    written_ += size;
    written_since_look_ += size;
    ++frames_written_;
    if (frame.stream.capacity() > largest_kept) {
        std::vector<std::uint8_t> usual;
        usual.reserve(usual_frame_bytes);
        frame.stream.swap(usual);
    }
}

void flight_recorder::end_recording(std::uint64_t frame, const std::string& why) noexcept
{
    try {
        ended_because_ = "stopped at frame " + std::to_string(frame) + ": " + why;
    } catch (...) {
        ended_because_ = "stopped";
    }
    recording_.store(false);
    say(path_ + ": " + ended_because_);
}

std::string flight_recorder::stop() noexcept
{
    if (!running()) return std::string();
    worker_.stop();
    file_.close();
    recording_.store(false);
    if (frames_written_ == 0) remove_file(path_);
    try {
        std::string file = path_.substr(path_.find_last_of("\\/") + 1);
        if (frames_written_ == 0) file += " (removed: no frame in it)";
        std::string line;
        if (frames_written_ > 0)
            line = file + ": " + std::to_string(frames_written_) + " frames, " + describe_bytes(written_);
        const std::uint64_t dropped = worker_.dropped();
        if (dropped > 0)
            line += (line.empty() ? file + ": " : "; ") + std::to_string(dropped) +
                    " frames dropped (the disk fell behind)";
        if (unrecordable_ > 0)
            line += (line.empty() ? file + ": " : "; ") + std::to_string(unrecordable_) +
                    " frames not recordable (no stream, or longer than a recording's frame may be)";
        if (!ended_because_.empty()) line += (line.empty() ? file + ": " : "; ") + ended_because_;
        if (line.empty()) return line;
        line = started_ + " " + line;
        append_line(folder_ + folder_separator + "recorder.log", line);
        say(line);
        return line;
    } catch (...) {
        return std::string();
    }
}

void flight_recorder::say(const std::string& note) noexcept
{
    if (!note_) return;
    try {
        note_(note);
    } catch (...) {
    }
}

}  // namespace recorder
