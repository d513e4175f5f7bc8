// An output file that takes the place of its target only when it is complete.
// It is written to a new temporary file beside the target and renamed into
// place by commit(); without the commit the temporary file is removed and
// whatever was at the target stays exactly as it was.
#pragma once

#include <fstream>
#include <string>

namespace tools {

class file_replacement {
public:
    file_replacement() = default;
    ~file_replacement();
    file_replacement(const file_replacement&) = delete;
    file_replacement& operator=(const file_replacement&) = delete;

    // Creates the temporary file beside `target`: "<target>.<n>.tmp" with the
    // first n from 1 that is free. False with one sentence in `error`.
    bool open(const std::string& target, std::string& error);

    // Where the content goes until the commit.
    std::ostream& stream() noexcept { return stream_; }
    const std::string& temporary_path() const noexcept { return temporary_; }

    // Flushes, closes and renames the temporary file to the target, replacing
    // it. False with one sentence in `error`; the target is then untouched.
    bool commit(std::string& error);

    // Closes and removes the temporary file; the target is untouched.
    void discard() noexcept;

private:
    std::string target_;
    std::string temporary_;
    std::ofstream stream_;
};

}  // namespace tools
