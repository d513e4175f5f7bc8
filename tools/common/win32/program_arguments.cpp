// The command line on Windows, read from its wide form.
#include "tools/common/program_arguments.h"

#include <windows.h>
#include <shellapi.h>

#include "tools/common/win32/wide_text.h"

namespace tools {

program_arguments::program_arguments(int argc, char** argv)
{
    int count = 0;
    // The rules the C runtime itself parses by, in UTF-16.
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        for (int i = 1; i < argc; ++i) pointers_.push_back(argv[i]);  // out of memory: what the runtime gave
        return;
    }
    for (int i = 1; i < count; ++i) arguments_.push_back(utf8_text(wide[i]));
    LocalFree(wide);
    for (const std::string& argument : arguments_) pointers_.push_back(argument.c_str());
}

}  // namespace tools
