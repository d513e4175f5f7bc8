// The flight recorder: every frame's stream, as Update receives it, into a
// recording of the host simulator's format (tools/common/frame_recording.h),
// written by a background worker so that Update only copies the frame.
//
// Each run (Init to Shutdown) writes a new file in the recordings folder,
// named by the local date and time of its Init: flight-2024-05-01_14-30-12.skvrec,
// or flight-2024-05-01_14-30-12-2.skvrec and on when that name is taken
// (nothing is ever written over). A run that recorded no frame leaves no
// file. Each run that did adds a line to recorder.log in the same folder:
// the file, its frames and size, frames dropped, and why it stopped early
// when it did.
//
// A recording never fills a disk: it ends at `recording_cap` (2 GiB, about
// three hours of the host simulator's flight at 60 Hz), and before the disk
// has less than `keep_free` (1 GiB) left. A disk that fills anyway, or any
// other write that fails, ends it too. In every case the file is cut back to
// its last whole frame and kept, and the recorder goes on taking frames
// without writing them, so the host's flight goes on. A recording cut short by
// a crash of the host holds the frames written before it, whole, and at most
// the start of one more, which a replay stops at.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <skarvel/shared/background/background_worker.h>

#include "recorder/recording_files.h"

namespace recorder {

struct recorder_limits {
    std::uint64_t recording_cap = std::uint64_t{2} << 30;  // bytes of one recording, at most
    std::uint64_t keep_free = std::uint64_t{1} << 30;  // bytes its disk keeps free, at least
    std::uint64_t free_space_every = std::uint64_t{16} << 20;  // bytes written between looks at the disk
    std::size_t queue_frames = 256;  // frames waiting for the disk, at most (4 s at 60 Hz)
};

// "flight-YYYY-MM-DD_hh-mm-ss.skvrec" for `attempt` 1, "...-N.skvrec" for N.
std::string recording_name(const local_time& time, unsigned attempt);

// A size in words: "512 bytes", "3.1 KiB", "17.2 MiB", "2 GiB".
std::string describe_bytes(std::uint64_t bytes);

class flight_recorder {
public:
    flight_recorder() = default;
    flight_recorder(const flight_recorder&) = delete;
    flight_recorder& operator=(const flight_recorder&) = delete;

    // Where the recorder's notes go besides recorder.log (the system's debug
    // output); called from the worker's thread too.
    void on_note(std::function<void(const std::string&)> note) { note_ = std::move(note); }

    // Init: makes `folder` if need be and a new recording in it, and starts
    // the worker. False, with one sentence in `error` and nothing left
    // behind, when the folder cannot be made, its disk has less than
    // keep_free, no file can be created there or the worker cannot start.
    bool start(const std::string& folder, const local_time& now, std::string& error,
               const recorder_limits& limits = recorder_limits{});

    // Update: hands the frame to the worker. Never waits: a frame that finds
    // the queue full is dropped and counted.
    void record(double time_step, const std::uint8_t* stream, std::uint32_t message_count) noexcept;

    // Shutdown: writes what is queued, closes the recording (removes it when
    // it holds no frame) and adds the run's line to recorder.log, which it
    // returns; empty when there was nothing to say. Does nothing when not
    // running.
    std::string stop() noexcept;

    bool running() const noexcept { return worker_.running(); }
    // Frames handed to the worker and not yet written (or passed over).
    std::size_t frames_waiting() const noexcept { return worker_.queued(); }
    // The recording of the current or the last run.
    const std::string& path() const noexcept { return path_; }

private:
    struct frame_item {
        std::uint64_t number = 0;  // the run's frame, from 1
        double time_step = 0.0;
        std::uint32_t message_count = 0;
        std::vector<std::uint8_t> stream;
    };

    void write_frame(frame_item& frame) noexcept;
    void end_recording(std::uint64_t frame, const std::string& why) noexcept;
    void say(const std::string& note) noexcept;

    std::function<void(const std::string&)> note_;
    recorder_limits limits_;
    std::string folder_;
    std::string path_;
    std::string started_;  // the local time of Init, as text

    // The host's thread.
    std::uint64_t frames_seen_ = 0;
    std::uint64_t unrecordable_ = 0;  // streams too long for the format, or counted messages without a stream

    // The worker's thread while it runs; the host's after stop.
    recording_file file_;
    std::uint64_t written_ = 0;  // bytes of whole frames, the header included
    std::uint64_t frames_written_ = 0;
    std::uint64_t written_since_look_ = 0;
    std::string ended_because_;  // empty while the recording goes on
    std::atomic<bool> recording_{false};  // read by Update: false once the recording has ended

    // Last, so that it is destroyed first: a worker still running then is
    // stopped before what it writes with goes.
    background_worker<frame_item> worker_;
};

}  // namespace recorder
