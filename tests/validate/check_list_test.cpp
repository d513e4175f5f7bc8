// The check list, the choice of checks, the command line, and which DLLs a
// plug-in may import.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "tools/validate/check_list.h"
#include "tools/validate/system_dlls.h"
#include "tools/validate/validate_options.h"

using namespace validate;

TEST(CheckList, NamesAreUniqueAndGroupedInRunOrder)
{
    const std::vector<std::string_view> groups = {"file", "lifecycle", "stream", "resources", "timing"};
    std::set<std::string_view> names;
    std::size_t group = 0;
    for (const check_info& check : all_checks()) {
        EXPECT_TRUE(names.insert(check.name).second) << check.name;
        while (group < groups.size() && group_of(check.name) != groups[group]) ++group;
        ASSERT_LT(group, groups.size()) << check.name << " is out of its group's order";
        EXPECT_EQ(find_check(check.name), &check);
        EXPECT_FALSE(check.description.empty());
        // What the scheduler relies on: a check that measures time loads the
        // plug-in, and one that reads only the file neither loads nor unloads it.
        if (check.has(alone) || check.has(unloads)) {
            EXPECT_TRUE(check.has(loads)) << check.name;
        }
        EXPECT_EQ(group_of(check.name) == "file" && check.needs == file_only,
                  check.name == "file.pe_format" || check.name == "file.exports" || check.name == "file.imports")
            << check.name;
    }
    EXPECT_EQ(find_check("file"), nullptr);
    EXPECT_EQ(sharing_body(*find_check("timing.shutdown"), {find_check("timing.init"), find_check("timing.update")}),
              (std::vector<const check_info*>{find_check("timing.shutdown"), find_check("timing.init")}));
}

// Each check has its row in a table under the heading of its group in the
// validator's guide, and the guide's tables name no check that is not there.
TEST(CheckList, EveryCheckHasItsSectionInTheGuide)
{
    std::ifstream guide(VALIDATOR_GUIDE);
    ASSERT_TRUE(guide) << VALIDATOR_GUIDE;
    std::set<std::string> documented;
    std::string line, heading;
    while (std::getline(guide, line)) {
        if (line.rfind("### ", 0) == 0) heading = line.substr(4);
        if (line.rfind("| `", 0) != 0) continue;
        const std::string name = line.substr(3, line.find('`', 3) - 3);
        if (name.find('.') == std::string::npos) continue;  // an option or a kind, not a check
        EXPECT_EQ(heading, group_of(name)) << name << " is documented under \"" << heading << "\"";
        EXPECT_NE(find_check(name), nullptr) << name << " is documented but is no check";
        documented.insert(name);
    }
    for (const check_info& check : all_checks())
        EXPECT_EQ(documented.count(std::string(check.name)), 1u) << check.name << " has no row in the guide";
}

std::vector<std::string_view> chosen(std::string_view only, std::string_view skip)
{
    std::vector<const check_info*> selected;
    std::string error;
    EXPECT_TRUE(select_checks(only, skip, selected, error)) << error;
    std::vector<std::string_view> names;
    names.reserve(selected.size());
    for (const check_info* check : selected) names.push_back(check->name);
    return names;
}

TEST(CheckList, OnlyAndSkipTakeNamesAndGroupsAndKeepRunOrder)
{
    EXPECT_EQ(chosen("", "").size(), all_checks().size());
    EXPECT_EQ(chosen("timing.update,file.exports", ""),
              (std::vector<std::string_view>{"file.exports", "timing.update"}));
    EXPECT_EQ(chosen("timing", "timing.update,timing.blocking_calls"),
              (std::vector<std::string_view>{"timing.init", "timing.shutdown"}));
    EXPECT_EQ(chosen("", "file,lifecycle,stream,resources,timing.init,timing.shutdown,timing.blocking_calls"),
              (std::vector<std::string_view>{"timing.update"}));

    std::vector<const check_info*> selected;
    std::string error;
    EXPECT_FALSE(select_checks("stream.sizes,stream.nope", "", selected, error));
    EXPECT_NE(error.find("\"stream.nope\""), std::string::npos) << error;
    EXPECT_FALSE(select_checks("", "timing.", selected, error));
    EXPECT_FALSE(select_checks("timing", "timing", selected, error));  // nothing left
}

bool parses(std::vector<const char*> args, validate_options& options, std::string& error)
{
    return parse_validate_options(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(ValidateOptions, EveryOptionAndTheMistakes)
{
    validate_options o;
    std::string error;
    ASSERT_TRUE(parses({"--quick", "--seed", "42", "--budget", "0.5", "--only", "timing", "--skip", "timing.init",
                        "--junit", "r.xml", "--json", "r.json", "--hang-limit", "2.5", "p.dll"},
                       o, error))
        << error;
    EXPECT_DOUBLE_EQ(o.hang_limit_seconds, 2.5);
    EXPECT_TRUE(o.quick);
    EXPECT_EQ(*o.seed, 42u);
    EXPECT_DOUBLE_EQ(o.budget_ms, 0.5);
    EXPECT_EQ(o.checks.size(), 3u);  // timing but timing.init
    EXPECT_EQ(o.junit_path, "r.xml");
    EXPECT_EQ(o.json_path, "r.json");
    EXPECT_EQ(o.plugin_path, "p.dll");

    ASSERT_TRUE(parses({"p.dll"}, o, error));
    EXPECT_FALSE(o.seed);
    EXPECT_DOUBLE_EQ(o.budget_ms, default_budget_ms);
    EXPECT_EQ(o.checks.size(), all_checks().size());
    ASSERT_TRUE(parses({"--list"}, o, error));  // no plug-in needed

    const std::vector<std::vector<const char*>> wrong = {
        {},  // no plug-in
        {"a.dll", "b.dll"},
        {"--budget", "0", "p.dll"},
        {"--budget", "2000", "p.dll"},
        {"--hang-limit", "0.1", "p.dll"},
        {"--hang-limit", "31", "p.dll"},
        {"--hang-limit", "ten", "p.dll"},
        {"--seed", "-1", "p.dll"},
        {"--only", "nothing", "p.dll"},
        {"--frobnicate", "p.dll"},
        {"p.dll", "--json"},
        {"--child", "file.load", "p.dll"},  // a child needs its channel
    };
    for (const auto& args : wrong) {
        error.clear();
        EXPECT_FALSE(parses(args, o, error)) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ValidateOptions, AChildGetsTheSameSettings)
{
    validate_options parent;
    std::string error;
    ASSERT_TRUE(parses(
        {"--quick", "--seed", "18446744073709551615", "--budget", "0.1", "--recording", "a b.skvrec", "dir/p.dll"},
        parent, error));
    parent.recording_frames = 1234567;  // as the survey of the recording found
    const std::vector<std::string> args = child_arguments(parent, "stream.random", 1234);
    std::vector<const char*> argv;
    argv.reserve(args.size());
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    validate_options child;
    ASSERT_TRUE(parses(argv, child, error)) << error;
    EXPECT_EQ(child.child_check, "stream.random");
    EXPECT_EQ(child.channel, 1234u);
    EXPECT_EQ(*child.seed, UINT64_MAX);
    EXPECT_DOUBLE_EQ(child.budget_ms, 0.1);
    EXPECT_TRUE(child.quick);
    EXPECT_EQ(child.plugin_path, "dir/p.dll");
    EXPECT_EQ(child.recording_path, "a b.skvrec");
    EXPECT_EQ(child.recording_frames, 1234567u);
    ASSERT_EQ(child.checks.size(), 1u);
}

// The C runtime's reading of a command line (CommandLineToArgvW's rules):
// 2n backslashes before a quote give n and the quote toggles quoting, 2n + 1
// give n and a literal quote; other backslashes are literal.
std::vector<std::string> split_command_line(const std::string& line)
{
    std::vector<std::string> args;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2)
                    arg += '"';
                else
                    quoted = !quoted;
                ++i;
            } else if (backslashes > 0) {
                arg.append(backslashes, '\\');
            } else {
                arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

TEST(ValidateOptions, CommandLinesQuoteWhatTheRuntimeWouldSplit)
{
    const std::vector<std::string> args = {"C:\\Program Files\\validate.exe",
                                           "plain",
                                           "",
                                           "a\"b",
                                           "end\\",
                                           "dir with space\\",
                                           "\\\\server\\share\\",
                                           "tab\there",
                                           "x\\\"y"};
    EXPECT_EQ(split_command_line(windows_command_line(args)), args);
    EXPECT_EQ(windows_command_line({"plain", "C:\\dir\\"}), "plain C:\\dir\\");
}

TEST(SystemDlls, ARuntimeDllIsNotWindowsOwnWhateverItsCase)
{
    for (const char* runtime :
         {"libstdc++-6.dll", "LIBGCC_S_SEH-1.DLL", "libwinpthread-1.dll", "VCRUNTIME140.dll", "vcruntime140_1.dll",
          "MSVCP140.dll", "msvcp140_atomic_wait.dll", "MSVCR120.dll", "ucrtbased.dll", "libc++.dll", "cygwin1.dll"})
        EXPECT_EQ(classify_dll(runtime), dll_kind::runtime) << runtime;
    for (const char* system : {"KERNEL32.dll", "ws2_32.DLL", "gdiplus.dll", "msvcrt.dll", "ucrtbase.dll",
                               "api-ms-win-crt-runtime-l1-1-0.dll", "API-MS-WIN-CORE-SYNCH-L1-2-0.DLL", "user32.dll"})
        EXPECT_EQ(classify_dll(system), dll_kind::system) << system;
    for (const char* other : {"my_helpers.dll", "kernel32.dll.bak", "", "opengl32"})
        EXPECT_EQ(classify_dll(other), dll_kind::other) << other;
}
