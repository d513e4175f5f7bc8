// A recording of a real flight (the host simulator's format, see
// docs/recording_format.md), flown by the checks instead of the built-in
// flight. The validator surveys the file once before any check runs: how many
// whole, good frames it holds from the start, and where it is damaged, if it
// is. Each check's process then reads those frames and no others, one after
// another and from the first again after the last, holding one frame at a
// time, so that a recording of any length costs little memory.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <skarvel/shared/input/tm_message_list.h>

#include "tools/common/frame_recording.h"

namespace validate {

// The frames of a recording that the checks use at most: ten minutes of a
// 60 Hz flight. A longer recording is used up to there.
inline constexpr std::uint64_t recording_frame_limit = 36000;

struct recording_survey {
    std::uint64_t frames = 0;  // whole, good frames from the start, up to the limit
    double seconds = 0.0;  // their time steps added up
    bool beyond_limit = false;  // the file holds more frames than the limit: they are not read
    std::string damage;  // where and how the file is damaged after those frames; empty when whole
};

// Reads the recording at `path` up to `limit` frames. False with one
// sentence in `error` when it cannot be used at all: it cannot be opened,
// it is not a recording, or its first frame is already damaged. A file that
// is damaged further on is usable up to its last good frame: `damage` says
// where it is damaged.
bool survey_recording(const std::string& path, std::uint64_t limit, recording_survey& survey, std::string& error);

// "the first 1234 frames (20.6 s of flight) of PATH; frame 1235 (at byte
// 3100016): corrupt: checksum mismatch, so the frames from there on are not
// used": what the checks fly, in one sentence for the report.
std::string describe_survey(const std::string& path, const recording_survey& survey);

// The first `frames` frames of a surveyed recording, in order, round and
// round.
class recorded_flight {
public:
    // Opens the recording; false with one sentence in `error`.
    bool open(const std::string& path, std::uint64_t frames, std::string& error);
    // The next frame into `frame`. False with one sentence in `error` when
    // the file no longer holds the frames the survey found (it changed
    // during the run).
    bool next(tools::recorded_frame& frame, std::string& error);
    // The number of the frame `next` gave last, counted from 1 in the file.
    std::uint64_t frame_number() const noexcept { return number_; }
    std::uint64_t frames() const noexcept { return frames_; }

private:
    bool rewind(std::string& error);

    std::string path_;
    std::uint64_t frames_ = 0;
    std::uint64_t number_ = 0;
    std::ifstream file_;
    std::unique_ptr<tools::recording_reader> reader_;
    tm_message_list messages_;
};

}  // namespace validate
