// What the host and the validator say when the name given as a plug-in is
// no DLL: nothing there, a folder (naming the DLLs in it), a library archive
// (naming the DLL it was made beside). Folders named beyond any code page
// too, which under Wine goes through Windows' wide interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/common/file_system.h"
#include "tools/common/plugin_file.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder in the test's temporary folder, spelt with slashes, which
// Windows takes too.
std::string fresh_folder(const std::string& name)
{
    std::string folder = ::testing::TempDir() + name;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    tools::remove_folder_tree(folder);
    fs::create_directories(tools::file_path(folder));
    return folder;
}

void put_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(tools::file_path(path), std::ios::binary) << bytes;
}

const std::string archive_bytes = "!<arch>\n/               0           0     0     0       4         `\n";

TEST(PluginFile, AFolderNamesTheDllsInIt)
{
    const std::string folder = fresh_folder("plugin_file_\xE9\xA3\x9B\xE8\xA1\x8C");  // 飛行
    EXPECT_EQ(tools::plugin_file_problem(folder), folder + " is a folder, not a DLL, and holds no DLL");
    put_file(folder + "/plane\xF0\x9F\x9B\xA9.dll", "MZ");  // plane🛩.dll
    put_file(folder + "/notes.txt", "not a DLL");
    fs::create_directories(tools::file_path(folder + "/folder.dll"));  // a folder, not a DLL
    EXPECT_EQ(tools::plugin_file_problem(folder),
              folder + " is a folder, not a DLL; the DLL in it is " + folder + "/plane\xF0\x9F\x9B\xA9.dll");
    for (const char* name : {"a.dll", "b.DLL", "c.dll", "d.dll"}) put_file(folder + "/" + name, "MZ");
    EXPECT_EQ(tools::plugin_file_problem(folder), folder + " is a folder, not a DLL; the DLLs in it are " + folder +
                                                      "/a.dll, " + folder + "/b.DLL, " + folder + "/c.dll, " + folder +
                                                      "/d.dll and 1 more");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/plane\xF0\x9F\x9B\xA9.dll"), "");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/gone.dll"), "no plug-in file at " + folder + "/gone.dll");
    tools::remove_folder_tree(folder);
}

TEST(PluginFile, AnArchiveNamesTheDllItWasMadeBeside)
{
    const std::string folder = fresh_folder("plugin_file_archives");
    // A MinGW import library beside a DLL without the lib prefix, and one
    // beside its own name.
    put_file(folder + "/libplane.dll.a", archive_bytes);
    put_file(folder + "/plane.dll", "MZ");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/libplane.dll.a"),
              folder +
                  "/libplane.dll.a is a library archive (an import or static library), not a DLL; "
                  "the DLL beside it is " +
                  folder + "/plane.dll");
    put_file(folder + "/libboat.dll.a", archive_bytes);
    put_file(folder + "/libboat.dll", "MZ");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/libboat.dll.a"),
              folder +
                  "/libboat.dll.a is a library archive (an import or static library), not a DLL; "
                  "the DLL beside it is " +
                  folder + "/libboat.dll");
    // An installed package: the import library in lib, the DLL in bin.
    fs::create_directories(tools::file_path(folder + "/lib"));
    fs::create_directories(tools::file_path(folder + "/bin"));
    put_file(folder + "/lib/glider.lib", archive_bytes);
    put_file(folder + "/bin/glider.dll", "MZ");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/lib/glider.lib"),
              folder +
                  "/lib/glider.lib is a library archive (an import or static library), not a DLL; "
                  "the DLL beside it is " +
                  folder + "/lib/../bin/glider.dll");
    put_file(folder + "/libkite.a", archive_bytes);
    EXPECT_EQ(tools::plugin_file_problem(folder + "/libkite.a"),
              folder + "/libkite.a is a library archive (an import or static library), not a DLL; "
                       "no DLL of its name is beside it");
    // A file that only starts like one is left to be judged as a DLL.
    put_file(folder + "/short.dll", "!<arch>");
    EXPECT_EQ(tools::plugin_file_problem(folder + "/short.dll"), "");
    tools::remove_folder_tree(folder);
}

}  // namespace
