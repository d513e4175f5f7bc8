#include "tools/common/scratch_folder.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "tools/common/file_system.h"

namespace tools {

namespace fs = std::filesystem;

scratch_folder::~scratch_folder()
{
    if (!inside_) return;
    std::error_code ignored;
    fs::current_path(fs::u8path(previous_), ignored);
}

bool scratch_folder::make(const std::string& tag, std::string& error)
{
    std::error_code ec;
    const fs::path temporary = fs::temp_directory_path(ec);
    if (ec) {
        error = "no temporary folder for a scratch folder: " + ec.message();
        return false;
    }
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = tag + '-';
        for (int i = 0; i < 8; ++i) name += letters[pick(random)];
        const fs::path folder = temporary / name;
        if (fs::create_directory(folder, ec)) {
            path_ = folder.u8string();
            files_removed_ = 0;
            return true;
        }
        if (ec) {
            error = "cannot make a scratch folder in " + temporary.u8string() + ": " + ec.message();
            return false;
        }
        // taken: another name
    }
    error = "no free name for a scratch folder in " + temporary.u8string();
    return false;
}

bool scratch_folder::enter(const std::string& tag, std::string& error)
{
    std::error_code ec;
    const fs::path previous = fs::current_path(ec);
    if (ec) {
        error = "cannot tell the working folder: " + ec.message();
        return false;
    }
    if (!make(tag, error)) return false;
    fs::current_path(fs::u8path(path_), ec);
    if (ec) {
        error = "cannot work in the scratch folder " + path_ + ": " + ec.message();
        fs::remove(fs::u8path(path_), ec);
        path_.clear();
        return false;
    }
    previous_ = previous.u8string();
    inside_ = true;
    return true;
}

bool scratch_folder::empty() const
{
    std::error_code ec;
    return path_.empty() || fs::is_empty(fs::u8path(path_), ec) || ec;
}

bool scratch_folder::leave(bool remove, std::string& error)
{
    std::error_code ec;
    if (inside_) {
        fs::current_path(fs::u8path(previous_), ec);
        inside_ = false;
        if (ec) {
            error = "cannot go back to the working folder " + previous_ + ": " + ec.message();
            return false;
        }
    }
    if (!remove || path_.empty()) return true;
    const fs::path folder = fs::u8path(path_);
    std::uint64_t files = 0;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_directory(ec)) ++files;
    if (!remove_folder_tree(path_)) {
        error = "cannot remove the scratch folder " + path_ + " whole";
        return false;
    }
    files_removed_ = files;
    return true;
}

}  // namespace tools
