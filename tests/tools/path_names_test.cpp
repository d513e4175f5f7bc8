// Names Windows would take for another file or for a device, as the tools
// refuse them (the tools under Wine: tool_names.sh): each is told by what
// Windows would do with it, every other name passes.
#include <gtest/gtest.h>

#include <string>

#include "tools/common/path_names.h"

namespace {

using tools::altered_name_problem;

TEST(PathNames, DotsAndSpacesThatWindowsDropsAreNamedWithTheFileItWouldUse)
{
    EXPECT_EQ(altered_name_problem("x.dll."),
              "Windows drops the dot at the end of \"x.dll.\" and would use \"x.dll\" instead");
    EXPECT_EQ(altered_name_problem("flight.skvrec "),
              "Windows drops the space at the end of \"flight.skvrec \" and would use \"flight.skvrec\" instead");
    EXPECT_EQ(altered_name_problem("C:\\plugins..\\x.dll"),
              "Windows drops the dots at the end of \"plugins..\" and would use \"C:\\plugins\\x.dll\" instead");
    EXPECT_EQ(altered_name_problem("out/report.json. "), "Windows drops the dots and spaces at the end of "
                                                         "\"report.json. \" and would use \"out/report.json\" instead");
    // The names "." and ".." are the folders themselves, and a name may hold
    // dots and spaces anywhere else.
    for (const char* kept : {"./x.dll", "..\\x.dll", "a. b\\my plugin.v2.dll", "x.dll", ".hidden", "C:\\"})
        EXPECT_EQ(altered_name_problem(kept), "") << kept;
}

TEST(PathNames, DeviceNamesWithAnyExtensionAreDevicesAndLookAlikesAreFiles)
{
    const std::string device = "Windows takes this name, whatever its extension, for the device ";
    EXPECT_EQ(altered_name_problem("nul.dll"), device + "NUL (the null device), not for a file");
    EXPECT_EQ(altered_name_problem("plugins\\CON"), device + "CON (the console), not for a file");
    EXPECT_EQ(altered_name_problem("reports/con.json"), device + "CON (the console), not for a file");
    EXPECT_EQ(altered_name_problem("COM1.dll"), device + "COM1 (a serial port), not for a file");
    EXPECT_EQ(altered_name_problem("lpt9.csv"), device + "LPT9 (a parallel port), not for a file");
    EXPECT_EQ(altered_name_problem("Aux .txt"), device + "AUX (the auxiliary device), not for a file");
    EXPECT_EQ(altered_name_problem("prn:"), device + "PRN (the printer), not for a file");
    EXPECT_EQ(altered_name_problem("conout$.log"), device + "CONOUT$ (the console's output), not for a file");
    EXPECT_EQ(altered_name_problem("COM\xC2\xB9.dll"), device + "COM\xC2\xB9 (a serial port), not for a file");
    // Only the last name is opened as a device; only these exact names are.
    for (const char* file : {"nul\\x.dll", "null.dll", "console.dll", "COM10.dll", "COM0.dll", "LPT.dll", "xnul.dll",
                             "aux2.csv", "COM1x.dll"})
        EXPECT_EQ(altered_name_problem(file), "") << file;
}

TEST(PathNames, ANameLongerThanFileSystemsTakeIsCountedInWindowsCharacters)
{
    const std::string longest(255, 'a');
    EXPECT_EQ(altered_name_problem("recordings/" + longest), "");
    EXPECT_EQ(altered_name_problem("recordings/" + longest + "a.skvrec"),
              "a name in it is 263 characters long, and Windows takes names of at most 255");
    // 飛 is one character, 🛩 two (a surrogate pair), as Windows counts them.
    std::string wide;
    for (int i = 0; i < 127; ++i) wide += "\xF0\x9F\x9B\xA9";
    EXPECT_EQ(altered_name_problem(wide + "\xE9\xA3\x9B"), "");
    EXPECT_EQ(altered_name_problem(wide + "\xE9\xA3\x9B\xE9\xA3\x9B"),
              "a name in it is 256 characters long, and Windows takes names of at most 255");
}

TEST(PathNames, DevicePathsAreRefusedAndLiteralPathsPass)
{
    EXPECT_EQ(altered_name_problem("\\\\.\\NUL"), "a device path, which Windows opens as a device, not as a file");
    EXPECT_EQ(altered_name_problem("//./COM1"), "a device path, which Windows opens as a device, not as a file");
    // The \\?\ form is taken as written: its names are the files' own.
    EXPECT_EQ(altered_name_problem("\\\\?\\C:\\plugins\\x.dll."), "");
    EXPECT_EQ(altered_name_problem("\\\\?\\C:\\nul.dll"), "");
}

TEST(PathNames, TheToolsRefuseWhereWindowsAltersNamesAndNowhereElse)
{
    std::string error;
    const bool accepted = tools::check_path_names(
        {{"the plug-in", "plugin.dll"}, {"--record", ""}, {"--json", "report.json."}, {"--csv", "nul.csv"}}, error);
#if defined(_WIN32)
    EXPECT_FALSE(accepted);
    EXPECT_EQ(error, "--json \"report.json.\": Windows drops the dot at the end of \"report.json.\" and would use "
                     "\"report.json\" instead");
#else
    // Linux takes every one of these names as written.
    EXPECT_TRUE(accepted);
    EXPECT_EQ(error, "");
#endif
}

}  // namespace
