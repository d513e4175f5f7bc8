#include "tools/common/frame_source.h"

#include <cmath>

#include "tools/common/file_system.h"
#include "tools/common/stream_encoding.h"
#include "tools/common/system_error.h"

namespace tools {

scenario_source::scenario_source(double rate, double start) noexcept : time_step_(1.0 / rate)
{
    // Flown, not jumped to: the state at `start` is the one the frames
    // before it would have led to.
    const long long frames = std::llround(start * rate);
    for (long long i = 0; i < frames; ++i) scenario_.advance(time_step_);
}

bool scenario_source::next(double& time_step, std::uint32_t& count, std::vector<std::uint8_t>& stream, std::string&)
{
    if (started_) scenario_.advance(time_step_);
    started_ = true;
    make_scenario_frame(scenario_.state(), frame_);
    stream.clear();
    encode_stream(frame_, stream);
    time_step = time_step_;
    count = static_cast<std::uint32_t>(frame_.size());
    return true;
}

bool replay_source::open(const std::string& path, std::string& error)
{
    if (kind_of_file(path) == file_kind::folder) {
        error = "cannot open the recording " + path + ": it is a folder, not a recording file";
        return false;
    }
    clear_runtime_failure();
    file_.open(file_path(path), std::ios::binary);
    if (!file_) {
        const std::string reason = runtime_failure_text();
        error = "cannot open the recording " + path + (reason.empty() ? std::string() : ": " + reason);
        return false;
    }
    reader_ = std::make_unique<recording_reader>(file_);
    std::string why;
    if (!reader_->open(why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

bool replay_source::next(double& time_step, std::uint32_t& count, std::vector<std::uint8_t>& stream, std::string& error)
{
    std::string why;
    switch (reader_->next(frame_, messages_, why)) {
        case recording_reader::result::frame:
            time_step = frame_.time_step;
            count = frame_.message_count;
            stream.swap(frame_.stream);
            return true;
        case recording_reader::result::end: return false;
        case recording_reader::result::error:
            if (reader_->cut_short())
                cut_short_ = why;
            else
                error = "recording: " + why;
            return false;
    }
    return false;
}

}  // namespace tools
