#include "tools/common/output_files.h"

#include <optional>
#include <utility>

#include "tools/common/file_system.h"
#include "tools/common/system_error.h"

namespace tools {
namespace {

// The empty files made for the comparison, removed whatever the verdict.
struct made_files {
    std::vector<std::string> paths;
    ~made_files()
    {
        for (const std::string& path : paths) remove_file(path);
    }
};

std::string named(const output_file& output)
{
    return output.option + " " + output.path;
}

}  // namespace

bool check_outputs(const std::vector<output_file>& outputs, const std::vector<input_file>& inputs, std::string& error)
{
    made_files made;
    std::vector<std::pair<file_identity, const output_file*>> identities;
    for (const output_file& output : outputs) {
        const file_kind kind = kind_of_file(output.path);
        if (kind == file_kind::folder) {
            error = named(output) + " is a folder: name a file";
            return false;
        }
        if (kind == file_kind::other && output.replaced) {
            error = named(output) + " is a device or a pipe, which the finished file would take the place of: "
                                    "name a file";
            return false;
        }
        std::optional<file_identity> identity = identify_file(output.path);
        if (!identity && kind == file_kind::other) {
            // A device or a pipe that the system tells no identity of (Wine,
            // for a Linux pipe): written where it is, it costs no file.
            continue;
        }
        if (identity) {
            const int code = probe_writing(output.path);
            if (code != 0) {
                error = named(output) + " cannot be written: " + system_error_text(code);
                return false;
            }
        } else {
            const int code = create_new_file(output.path);
            if (code != 0) {
                error = named(output) + " cannot be created: " + system_error_text(code);
                return false;
            }
            made.paths.push_back(output.path);
            identity = identify_file(output.path);
        }
        if (!identity) {
            error = named(output) + " cannot be created: it is gone as soon as made";
            return false;
        }
        for (const input_file& input : inputs) {
            if (*identity == identify_file(input.path)) {
                error = named(output) + " is " + input.description + ": name another file";
                return false;
            }
        }
        for (const auto& [other_identity, other] : identities) {
            if (*identity == other_identity) {
                error = named(*other) + " and " + named(output) + " are the same file: name two";
                return false;
            }
        }
        identities.emplace_back(*identity, &output);
    }
    return true;
}

}  // namespace tools
