#include "tools/common/file_replacement.h"

#include "tools/common/file_system.h"
#include "tools/common/system_error.h"

namespace tools {

file_replacement::~file_replacement()
{
    discard();
}

bool file_replacement::open(const std::string& target, std::string& error)
{
    discard();
    // A name no other file has: a leftover of a run that crashed is skipped,
    // never overwritten.
    constexpr int names_tried = 100;
    for (int n = 1; n <= names_tried && temporary_.empty(); ++n) {
        const std::string candidate = target + "." + std::to_string(n) + ".tmp";
        const int code = create_new_file(candidate);
        if (code == 0) {
            temporary_ = candidate;
        } else if (!is_exists_error(code)) {
            error = "cannot create a temporary file beside " + target + ": " + system_error_text(code);
            return false;
        }
    }
    if (temporary_.empty()) {
        error = "cannot create a temporary file beside " + target + ": " + target + ".1.tmp to " + target + "." +
                std::to_string(names_tried) + ".tmp all exist";
        return false;
    }
    stream_.open(file_path(temporary_), std::ios::binary | std::ios::trunc);
    if (!stream_) {
        discard();
        error = "cannot write a temporary file beside " + target;
        return false;
    }
    target_ = target;
    return true;
}

bool file_replacement::commit(std::string& error)
{
    if (temporary_.empty()) {
        error = "nothing to put in place";
        return false;
    }
    // The C runtime says why a write failed (a full disk): the stream itself
    // keeps no reason. A write that failed before the commit was the last
    // call to fail.
    bool written = static_cast<bool>(stream_);
    std::string reason = written ? std::string() : runtime_failure_text();
    if (written) {
        clear_runtime_failure();
        stream_.flush();
        stream_.close();
        written = !stream_.fail();
        reason = runtime_failure_text();
    }
    if (!written) {
        discard();
        error = "writing " + target_ + " failed" + (reason.empty() ? std::string() : ": " + reason);
        return false;
    }
    // Only a regular file is replaced, as check_outputs made sure before the
    // run: not a device or a pipe put there since.
    const file_kind kind = kind_of_file(target_);
    if (kind != file_kind::none && kind != file_kind::regular) {
        discard();
        error = "cannot put " + target_ + " in place: it is no longer a regular file";
        return false;
    }
    std::string why;
    if (!replace_file(temporary_, target_, why)) {
        discard();
        error = "cannot put " + target_ + " in place: " + why;
        return false;
    }
    temporary_.clear();
    return true;
}

void file_replacement::discard() noexcept
{
    if (stream_.is_open()) stream_.close();
    if (!temporary_.empty()) remove_file(temporary_);
    temporary_.clear();
}

}  // namespace tools
