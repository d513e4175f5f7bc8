// The files a tool is about to write, checked before it starts its work, so
// that a mistyped command line costs neither an input nor a long run.
#pragma once

#include <string>
#include <vector>

namespace tools {

// A file the tool writes, as its command line named it.
struct output_file {
    std::string option;  // "--record"
    std::string path;
    // Written to a temporary file that then takes its place (file_replacement),
    // which only a regular file may have: a device or a pipe is refused. An
    // output written where it is (the listener's CSV) may be one: /dev/stdout.
    bool replaced = true;
};

// A file the tool reads, which no output may be.
struct input_file {
    std::string path;
    std::string description;  // how a refusal names it: "the plug-in p.dll itself"
};

// Refuses, with one sentence in `error`, an output that is a folder, a
// device or a pipe that would be replaced, that cannot be written or created (with the system's reason), that is one of
// `inputs`, or that is the same file as another output. Files are compared
// themselves, not their names, so every spelling of a path is caught: an
// output that does not exist yet is made for the comparison and removed
// again. Nothing else is changed.
bool check_outputs(const std::vector<output_file>& outputs, const std::vector<input_file>& inputs, std::string& error);

}  // namespace tools
