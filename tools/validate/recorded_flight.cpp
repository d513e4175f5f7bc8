#include "tools/validate/recorded_flight.h"

#include <cerrno>
#include <cstdio>

#include "tools/common/system_error.h"

namespace validate {

namespace {

bool open_recording(std::ifstream& file, std::unique_ptr<tools::recording_reader>& reader, const std::string& path,
                    std::string& error)
{
    file.close();
    file.clear();
    errno = 0;
    file.open(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + (errno != 0 ? ": " + tools::system_error_text(errno) : std::string());
        return false;
    }
    reader = std::make_unique<tools::recording_reader>(file);
    std::string why;
    if (!reader->open(why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace

bool survey_recording(const std::string& path, std::uint64_t limit, recording_survey& survey, std::string& error)
{
    survey = recording_survey{};
    std::ifstream file;
    std::unique_ptr<tools::recording_reader> reader;
    if (!open_recording(file, reader, path, error)) return false;
    tools::recorded_frame frame;
    tm_message_list messages;
    std::string why;
    for (;;) {
        const tools::recording_reader::result read = reader->next(frame, messages, why);
        if (read == tools::recording_reader::result::end) break;
        if (read == tools::recording_reader::result::error) {
            survey.damage = why;
            break;
        }
        if (survey.frames == limit) {
            survey.beyond_limit = true;
            break;
        }
        ++survey.frames;
        survey.seconds += frame.time_step;
    }
    if (survey.frames > 0) return true;
    error = path + (survey.damage.empty() ? ": the recording holds no frame" : ": " + survey.damage);
    return false;
}

std::string describe_survey(const std::string& path, const recording_survey& survey)
{
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", survey.seconds);
    const std::string frames = std::to_string(survey.frames) + (survey.frames == 1 ? " frame" : " frames");
    const bool all = !survey.beyond_limit && survey.damage.empty();
    std::string text = (all ? "all " : "the first ") + frames + " (" + seconds + " s of flight) of " + path;
    if (survey.beyond_limit) text += "; the frames after them are not read";
    if (!survey.damage.empty()) text += "; " + survey.damage + ", so the frames from there on are not used";
    return text;
}

bool recorded_flight::open(const std::string& path, std::uint64_t frames, std::string& error)
{
    path_ = path;
    frames_ = frames;
    number_ = 0;
    if (frames == 0) {
        error = path + ": no frame to fly";
        return false;
    }
    return open_recording(file_, reader_, path_, error);
}

bool recorded_flight::rewind(std::string& error)
{
    number_ = 0;
    file_.clear();
    file_.seekg(0);
    reader_ = std::make_unique<tools::recording_reader>(file_);
    std::string why;
    if (file_ && reader_->open(why)) return true;
    error = path_ + " changed during the run: " + (file_ ? why : "it cannot be read from its start again");
    reader_.reset();
    return false;
}

bool recorded_flight::next(tools::recorded_frame& frame, std::string& error)
{
    if (reader_ == nullptr) {
        error = "no recording is open";
        return false;
    }
    if (number_ == frames_ && !rewind(error)) return false;
    std::string why;
    switch (reader_->next(frame, messages_, why)) {
        case tools::recording_reader::result::frame: ++number_; return true;
        case tools::recording_reader::result::end: why = "it ends after frame " + std::to_string(number_); break;
        case tools::recording_reader::result::error: break;
    }
    error = path_ + " changed during the run: " + why;
    reader_.reset();
    return false;
}

}  // namespace validate
