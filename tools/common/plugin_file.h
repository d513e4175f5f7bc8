// What a user named as a plug-in, when it cannot be one: nothing, a folder,
// or a library archive (the import library libNAME.dll.a or NAME.lib that a
// build makes beside the DLL, or a static library). Told from the file's
// kind and its first bytes, before anything loads or judges it, and said in
// one sentence that names the DLL meant when it is there, so that a slip of
// the tab key costs one line, not a table of failures.
#pragma once

#include <string>

namespace tools {

// One sentence, or empty when `path` is a file that may be a DLL:
//   no plug-in file at missing.dll
//   build is a folder, not a DLL; the DLL in it is build/plugin.dll
//   build/libplugin.dll.a is a library archive (an import or static
//   library), not a DLL; the DLL beside it is build/plugin.dll
std::string plugin_file_problem(const std::string& path);

}  // namespace tools
