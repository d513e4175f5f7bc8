// The plug-in as the checks drive it: loaded with LoadLibrary, called through
// the interface's entry point types, each call recorded in the channel
// before it is made, so that a fault, a hang or a slow return names the call
// and the frame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/win32/plugin_library.h"
#include "tools/validate/timing_judgement.h"
#include "tools/validate/update_outputs.h"

namespace validate {

class plugin_under_test {
public:
    plugin_under_test() = default;
    ~plugin_under_test() { library_.release(); }  // never unloads by itself: the checks decide when
    plugin_under_test(const plugin_under_test&) = delete;
    plugin_under_test& operator=(const plugin_under_test&) = delete;

    // LoadLibrary and the four exports; false with one sentence in `error`.
    bool load(const std::string& path, std::string& error);
    // FreeLibrary; the entry points are gone afterwards.
    void unload();
    HMODULE module() const noexcept { return library_.module(); }

    std::int64_t version();
    bool init();
    void shutdown();
    // One Update with the stream and count given. Its outputs are preset to
    // a value other than 0 inside guard bytes: one left other than 0, or a
    // write past one, is the check's fault, reported at once.
    void update(double time_step, const std::uint8_t* stream, std::uint32_t count);

    // Seconds the last call took.
    double last_call_seconds() const noexcept { return last_seconds_; }
    // When on, every call also reads the processors' time around itself,
    // outside its timing, for the checks that judge a time: last_call_use().
    void read_processors_around_calls(bool on) noexcept { reads_processors_ = on; }
    // The processors' time during the last call; nothing when not read.
    const std::optional<processor_use>& last_call_use() const noexcept { return last_use_; }

private:
    tools::plugin_library library_;
    double last_seconds_ = 0.0;
    bool reads_processors_ = false;
    std::optional<processor_use> last_use_;
    update_outputs outputs_;
};

// Seconds on the steady clock.
double now_seconds() noexcept;

}  // namespace validate
