// A working folder made for one run of a plug-in, so that whatever the plug-in
// writes into its working folder lands there and not among the user's files:
// a new empty folder under the system's temporary folder, removed after a
// run that ended well, kept after one that did not (for a look at what the
// plug-in left).
#pragma once

#include <cstdint>
#include <string>

namespace tools {

class scratch_folder {
public:
    scratch_folder() = default;
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;
    // Goes back to the working folder of before, if still in this one; the
    // folder itself stays (leave() removes it).
    ~scratch_folder();

    // Makes the folder "<tag>-<8 random letters and digits>" under the system's
    // temporary folder. False with one sentence in `error`; nothing made then.
    bool make(const std::string& tag, std::string& error);
    // make(), and the folder becomes the process's working folder.
    bool enter(const std::string& tag, std::string& error);

    // Back to the working folder of before enter(); with `remove`, the folder
    // goes too, with all it holds. False with one sentence in `error` when it
    // cannot be removed whole.
    bool leave(bool remove, std::string& error);

    // Whether the folder holds nothing (or is gone).
    bool empty() const;

    const std::string& path() const noexcept { return path_; }
    // Files in it (and in folders inside it) just before leave() removed it.
    std::uint64_t files_removed() const noexcept { return files_removed_; }

private:
    std::string path_;
    std::string previous_;
    bool inside_ = false;
    std::uint64_t files_removed_ = 0;
};

}  // namespace tools
