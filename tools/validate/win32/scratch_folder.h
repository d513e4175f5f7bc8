// The working folders that checks run the plug-in in, so that whatever files
// a plug-in writes to its current directory land there and never overwrite
// the user's: one folder for the run in the system's temporary folder, one
// inside it for each check, removed when the check passes (or the plug-in
// wrote nothing) and kept, for the report to name, when it fails.
#pragma once

#include <string>

namespace validate {

class scratch_folder {
public:
    scratch_folder() = default;
    ~scratch_folder();  // removes the run's folder when it is empty
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    // A new empty folder for the check of this name; empty on failure, with
    // the system's reason in `error`.
    std::string make(const std::string& check, std::string& error);

private:
    std::string run_folder_;
};

// Whether the folder holds anything.
bool folder_has_files(const std::string& folder);
// Removes the folder and everything in it; links to other folders are
// removed, never followed. False when something could not be removed.
bool remove_folder_tree(const std::string& folder);

}  // namespace validate
