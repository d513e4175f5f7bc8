// The host's recording output: refused when it is the plug-in or the
// recording being replayed, however spelt, and put in place only by a run
// that succeeded. Real files in the test's temporary folder.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/common/file_replacement.h"
#include "tools/common/file_system.h"
#include "tools/host/host_options.h"

namespace {

std::string folder() { return ::testing::TempDir(); }

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

bool exists(const std::string& path) { return tools::identify_file(path).has_value(); }

tools::host_options options_for(const std::string& plugin, const std::string& record, const std::string& replay = "")
{
    tools::host_options o;
    o.plugin_path = plugin;
    o.record_path = record;
    o.replay_path = replay;
    return o;
}

}  // namespace

TEST(RecordTarget, ThePluginOrTheReplayIsRefusedHoweverSpelt)
{
    const std::string dir = folder();
    const std::string plugin = dir + "record_target_plugin.dll";
    const std::string replay = dir + "record_target_flight.skvrec";
    write(plugin, "MZ not really");
    write(replay, "SKVREC");
    // Another spelling of each: through "." (and on Windows a mixed slash).
    const std::string plugin_again = dir + "./record_target_plugin.dll";
    const std::string replay_again = dir + "." + std::string(1, dir.back()) + "record_target_flight.skvrec";

    std::string error;
    EXPECT_FALSE(tools::check_record_target(options_for(plugin, plugin_again), error));
    EXPECT_EQ(error, "--record " + plugin_again + " is the plug-in " + plugin + " itself: name another file");
    EXPECT_FALSE(tools::check_record_target(options_for(plugin, replay_again, replay), error));
    EXPECT_NE(error.find("is the recording being replayed"), std::string::npos) << error;

    // Other files, existing or new, are fine; so is no recording at all.
    const std::string other = dir + "record_target_other.skvrec";
    write(other, "old");
    EXPECT_TRUE(tools::check_record_target(options_for(plugin, other, replay), error)) << error;
    EXPECT_TRUE(tools::check_record_target(options_for(plugin, dir + "record_target_new.skvrec", replay), error));
    EXPECT_TRUE(tools::check_record_target(options_for(plugin, ""), error));
    for (const std::string& f : {plugin, replay, other}) std::remove(f.c_str());
}

#if !defined(_WIN32)
TEST(RecordTarget, AHardLinkIsTheSameFile)
{
    const std::string plugin = folder() + "record_target_linked.dll";
    const std::string link = folder() + "record_target_link.skvrec";
    write(plugin, "MZ");
    std::remove(link.c_str());
    ASSERT_EQ(::link(plugin.c_str(), link.c_str()), 0);
    std::string error;
    EXPECT_FALSE(tools::check_record_target(options_for(plugin, link), error));
    std::remove(link.c_str());
    std::remove(plugin.c_str());
}
#endif

TEST(FileReplacement, CommitReplacesTheTargetAndLeavesNoTemporary)
{
    const std::string target = folder() + "replacement_commit.skvrec";
    write(target, "earlier content");
    tools::file_replacement file;
    std::string error;
    ASSERT_TRUE(file.open(target, error)) << error;
    const std::string temporary = file.temporary_path();
    EXPECT_EQ(temporary, target + ".1.tmp");
    file.stream() << "new content";
    EXPECT_EQ(read(target), "earlier content");  // untouched while the run goes on
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(read(target), "new content");
    EXPECT_FALSE(exists(temporary));
    std::remove(target.c_str());
}

TEST(FileReplacement, WithoutACommitTheEarlierFileStaysExactlyAsItWas)
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
    EXPECT_EQ(error, "cannot create a temporary file beside " + target);
}
