// The tools' output files, in the test's temporary folder: each fault of an
// output is refused before any work, however its path is spelt, and nothing
// is written; what the real host's runs under Wine (host_record.sh) do not
// reach: a hard link to the plug-in is the plug-in; a leftover temporary
// file is never reused.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/common/file_replacement.h"
#include "tools/common/file_system.h"
#include "tools/common/output_files.h"
#include "tools/common/system_error.h"
#include "tools/host/host_options.h"

namespace {

std::string folder()
{
    return ::testing::TempDir();
}

void write(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path)
{
    return tools::identify_file(path).has_value();
}

}  // namespace

#if !defined(_WIN32)
TEST(RecordTarget, AHardLinkIsTheSameFile)
{
    const std::string plugin = folder() + "record_target_linked.dll";
    const std::string link = folder() + "record_target_link.skvrec";
    write(plugin, "MZ");
    std::remove(link.c_str());
    ASSERT_EQ(::link(plugin.c_str(), link.c_str()), 0);
    std::string error;
    tools::host_options options;
    options.plugin_path = plugin;
    options.record_path = link;
    EXPECT_FALSE(tools::check_host_outputs(options, error));
    EXPECT_EQ(error, "--record " + link + " is the plug-in " + plugin + " itself: name another file");
    std::remove(link.c_str());
    std::remove(plugin.c_str());
}
#endif

TEST(FileReplacement, WithoutACommitTheEarlierFileStaysAndALeftoverIsSteppedOver)
{
    const std::string target = folder() + "replacement_discard.skvrec";
    const std::string earlier("earlier\0bytes\r\n", 15);
    write(target, earlier);
    // A leftover of a crashed run is stepped over, never overwritten.
    write(target + ".1.tmp", "leftover");
    std::string temporary;
    {
        tools::file_replacement file;
        std::string error;
        ASSERT_TRUE(file.open(target, error)) << error;
        temporary = file.temporary_path();
        EXPECT_EQ(temporary, target + ".2.tmp");
        file.stream() << "half a recording";
    }  // the run failed: never committed
    EXPECT_EQ(read(target), earlier);
    EXPECT_FALSE(exists(temporary));
    EXPECT_EQ(read(target + ".1.tmp"), "leftover");

    // Nor is a new target made by a run that failed.
    const std::string fresh = folder() + "replacement_never.skvrec";
    std::remove(fresh.c_str());
    {
        tools::file_replacement file;
        std::string error;
        ASSERT_TRUE(file.open(fresh, error));
        file.discard();
    }
    EXPECT_FALSE(exists(fresh));
    std::remove(target.c_str());
    std::remove((target + ".1.tmp").c_str());
}

TEST(FileReplacement, AFolderThatDoesNotExistIsOneSentence)
{
    tools::file_replacement file;
    std::string error;
    const std::string target = folder() + "no_such_folder/out.skvrec";
    EXPECT_FALSE(file.open(target, error));
    const std::string said = "cannot create a temporary file beside " + target + ": ";
    EXPECT_EQ(error.substr(0, said.size()), said);
    EXPECT_NE(error.find("(system error "), std::string::npos) << error;
}

TEST(OutputFiles, EachFaultIsRefusedInOneSentenceAndNothingIsWritten)
{
    const std::string dir = folder() + "outputs/";
    std::filesystem::create_directories(dir + "sub");
    write(dir + "plugin.dll", "MZ");
    const std::vector<tools::input_file> inputs = {{dir + "plugin.dll", "the plug-in itself"}};
    auto refusal = [&](const std::vector<tools::output_file>& outputs) {
        std::string error;
        EXPECT_FALSE(tools::check_outputs(outputs, inputs, error));
        return error;
    };

    // The input, spelt another way, is never overwritten.
    const std::string plugin = dir + "sub/../plugin.dll";
    EXPECT_EQ(refusal({{"--json", plugin}}), "--json " + plugin + " is the plug-in itself: name another file");
    EXPECT_EQ(read(dir + "plugin.dll"), "MZ");
    // Two spellings of one file that does not exist yet; it is not made.
    EXPECT_EQ(refusal({{"--junit", dir + "r.xml"}, {"--json", dir + "./r.xml"}}),
              "--junit " + dir + "r.xml and --json " + dir + "./r.xml are the same file: name two");
#if defined(_WIN32)
    EXPECT_EQ(refusal({{"--junit", dir + "r.xml"}, {"--json", dir + "R.XML"}}),
              "--junit " + dir + "r.xml and --json " + dir + "R.XML are the same file: name two");
#endif
    EXPECT_FALSE(exists(dir + "r.xml"));
    EXPECT_EQ(refusal({{"--record", dir + "sub"}}), "--record " + dir + "sub is a folder: name a file");
    // A folder that is not there: the system's words and number.
    const std::string said = "--csv " + dir + "none/m.csv cannot be created: ";
    const std::string error = refusal({{"--csv", dir + "none/m.csv"}});
    EXPECT_EQ(error.substr(0, said.size()), said);
    EXPECT_NE(error.find("(system error "), std::string::npos) << error;

    // Outputs that are fine: an earlier file stays as it was, a new one is
    // not made yet.
    write(dir + "earlier.xml", "earlier");
    std::string none;
    EXPECT_TRUE(tools::check_outputs({{"--junit", dir + "earlier.xml"}, {"--json", dir + "new.json"}}, inputs, none))
        << none;
    EXPECT_EQ(read(dir + "earlier.xml"), "earlier");
    EXPECT_FALSE(exists(dir + "new.json"));
    std::filesystem::remove_all(dir);
}

#if !defined(_WIN32)
TEST(OutputFiles, APipeIsWrittenInPlaceButNeverReplacedAndNeverWaitedFor)
{
    const std::string pipe = folder() + "outputs_pipe";
    std::remove(pipe.c_str());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(tools::check_outputs({{"--record", pipe}}, {}, error));
    EXPECT_EQ(error, "--record " + pipe +
                         " is a device or a pipe, which the finished file would take the place of: "
                         "name a file");
    EXPECT_TRUE(tools::check_outputs({{"--csv", pipe, false}}, {}, error)) << error;
    // No program reads it: refused at once, not waited on.
    int code = 0;
    EXPECT_EQ(tools::open_for_writing(pipe, code), nullptr);
    EXPECT_TRUE(tools::is_unread_pipe_error(code)) << code;
    EXPECT_EQ(tools::kind_of_file(pipe), tools::file_kind::other);
    std::remove(pipe.c_str());
}
#endif

TEST(FileNames, NamesBeyondAnyCodePageAndPathsBeyondMaxPathReachTheSystemWhole)
{
    // 飛行/ and twenty folders more: some 400 characters, past Windows'
    // usual limit of 260 (under Wine in the \\?\ form).
    std::string deep = folder() + "\xE9\xA3\x9B\xE8\xA1\x8C";
    tools::remove_folder_tree(deep);
    std::filesystem::create_directory(tools::file_path(deep));
    for (int level = 0; level < 20; ++level) {
        deep += "/a_folder_of_the_long_path_" + std::to_string(level);
        ASSERT_TRUE(std::filesystem::create_directory(tools::file_path(deep))) << deep;
    }
    ASSERT_GT(deep.size(), 400u);
    const std::string target = deep + "/plane\xF0\x9F\x9B\xA9.skvrec";  // plane🛩.skvrec
    std::string error;
    ASSERT_TRUE(tools::check_outputs({{"--record", target}}, {}, error)) << error;
    {
        tools::file_replacement file;
        ASSERT_TRUE(file.open(target, error)) << error;
        file.stream() << "a whole recording";
        ASSERT_TRUE(file.commit(error)) << error;
    }
    EXPECT_EQ(tools::kind_of_file(target), tools::file_kind::regular);
    std::ifstream in(tools::file_path(target), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a whole recording");
    in.close();
    int code = 0;
    std::FILE* csv = tools::open_for_writing(deep + "/\xE5\x8B\x95\xE3\x81\x8D.csv", code);  // 動き.csv
    ASSERT_NE(csv, nullptr) << tools::system_error_text(code);
    EXPECT_EQ(std::fclose(csv), 0);
    EXPECT_EQ(tools::kind_of_file(deep + "/\xE5\x8B\x95\xE3\x81\x8D.csv"), tools::file_kind::regular);
    const std::string top = folder() + "\xE9\xA3\x9B\xE8\xA1\x8C";
    EXPECT_TRUE(tools::remove_folder_tree(top));
    EXPECT_EQ(tools::kind_of_file(top), tools::file_kind::none);
}

TEST(SystemWords, AFailedRuntimeCallIsSaidByTheSystemThatGaveTheReason)
{
    tools::clear_runtime_failure();
    EXPECT_EQ(tools::runtime_failure_text(), "");
    // The system's own code, which the C runtime passes on (on Windows it
    // keeps it beside its errno): "not found" is 2 on both.
    EXPECT_EQ(std::fopen((folder() + "no_such_file.csv").c_str(), "r"), nullptr);
    EXPECT_EQ(tools::runtime_failure_text(), tools::system_error_text(2));
    // An errno of the runtime's own is never read as a Windows code (13 is
    // "The data is invalid" there).
    tools::clear_runtime_failure();
    errno = EACCES;
#if defined(_WIN32)
    EXPECT_EQ(tools::runtime_failure_text(), "Permission denied (C runtime error 13)");
#else
    EXPECT_EQ(tools::runtime_failure_text(), tools::system_error_text(EACCES));
#endif
}
