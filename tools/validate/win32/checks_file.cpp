// The file group: what can be told of the DLL before and while loading it.
#include <windows.h>

#include <cstdio>
#include <optional>

#include "tools/validate/system_dlls.h"
#include "tools/validate/win32/checks.h"
#include "tools/validate/win32/pe_image.h"

namespace validate {

namespace {

const char* const entry_point_names[] = {plugin_interface::get_interface_version_name, plugin_interface::init_name,
                                         plugin_interface::update_name, plugin_interface::shutdown_name};

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// Why the `table` ("export") table of `image` cannot be read: the file's
// format, with a pointer to file.pe_format when that check ran (and so
// failed on it), or where the table broke.
std::string unreadable_table(const pe_image& image, const char* table, const check_context& context)
{
    std::string why = image.table_problem;
    if (!image.pe32_plus) {
        why = pe_format_problem(image);
        for (const check_info* check : context.options.checks)
            if (check->name == "file.pe_format") why += " (see file.pe_format)";
    }
    return std::string("the ") + table + " table cannot be read: " + why;
}

}  // namespace

namespace bodies {

check_result file_pe_format(const check_context& context)
{
    const std::string problem = pe_format_problem(read_pe_image(context.options.plugin_path));
    if (!problem.empty()) return failed(fault_kind::expectation, problem);
    return passed("a PE32+ DLL for x64");
}

check_result file_exports(const check_context& context)
{
    const pe_image image = read_pe_image(context.options.plugin_path);
    if (!image.pe32_plus || !image.tables_complete)
        return failed(fault_kind::expectation, unreadable_table(image, "export", context));
    std::vector<std::string> missing;
    std::vector<std::string> decorated;  // found only under a decorated or prefixed name
    for (const char* name : entry_point_names) {
        bool exact = false;
        std::string similar;
        for (const std::string& exported : image.export_names) {
            if (exported == name)
                exact = true;
            else if (exported.find(name) != std::string::npos)
                similar = exported;
        }
        if (exact) continue;
        missing.emplace_back(name);
        if (!similar.empty()) decorated.push_back(similar);
    }
    check_result result;
    if (!missing.empty()) {
        result = failed(fault_kind::expectation, "not exported: " + joined(missing));
        if (!decorated.empty())
            result.notes.push_back("exported under decorated names instead: " + joined(decorated) +
                                   " (declare the entry points extern \"C\", or name them in a .def file)");
    } else {
        result = passed("the four entry points; " + std::to_string(image.export_names.size()) + " names exported");
    }
    std::vector<std::string> others;
    for (const std::string& exported : image.export_names) {
        bool entry_point = false;
        for (const char* name : entry_point_names) entry_point = entry_point || exported == name;
        if (!entry_point) others.push_back(exported);
    }
    if (others.size() > 8) {
        others.resize(8);
        others.emplace_back("...");
    }
    if (!others.empty()) result.notes.push_back("also exports " + joined(others));
    result.figures.emplace_back("exports", static_cast<double>(image.export_names.size()));
    return result;
}

check_result file_imports(const check_context& context)
{
    const pe_image image = read_pe_image(context.options.plugin_path);
    if (!image.pe32_plus || !image.tables_complete)
        return failed(fault_kind::expectation, unreadable_table(image, "import", context));
    std::vector<std::string> runtimes;
    std::vector<std::string> others;
    std::vector<std::string> all;
    for (const auto* list : {&image.imported_dlls, &image.delay_loaded_dlls}) {
        const bool delayed = list == &image.delay_loaded_dlls;
        for (const std::string& dll : *list) {
            const std::string named = delayed ? dll + " (delay-loaded)" : dll;
            all.push_back(named);
            const dll_kind kind = classify_dll(dll);
            if (kind == dll_kind::runtime) runtimes.push_back(named);
            if (kind == dll_kind::other) others.push_back(named);
        }
    }
    check_result result;
    if (!runtimes.empty()) {
        result = failed(fault_kind::expectation,
                        "needs the runtime DLL" + std::string(runtimes.size() > 1 ? "s " : " ") + joined(runtimes) +
                            ", which a clean Windows does not have: link the C and C++ runtimes statically");
    } else if (!others.empty()) {
        result = failed(fault_kind::expectation,
                        "needs " + joined(others) + ", which Windows does not have: a host loads a plug-in alone");
    } else {
        result = passed("imports only Windows' own DLLs: " + joined(all));
    }
    result.figures.emplace_back("imported_dlls", static_cast<double>(all.size()));
    return result;
}

check_result file_load(const check_context& context)
{
    plugin_under_test plugin;
    std::string error;
    if (!plugin.load(context.options.plugin_path, error) && plugin.module() == nullptr)
        return failed(fault_kind::not_loadable, error);
    const double load_seconds = plugin.last_call_seconds();
    const HMODULE module = plugin.module();
    plugin.unload();
    if (module_mapped(module)) {
        return failed(fault_kind::expectation,
                      "the library stays in the process after FreeLibrary: something it started holds it");
    }
    pump_for(0.5);  // a thread left running in the unloaded code would crash now
    check_result result = passed("LoadLibrary took " + ms_text(load_seconds * 1000.0) + "; FreeLibrary unmapped it");
    if (!error.empty()) result.notes.push_back(error + " (see file.exports)");
    return result;
}

check_result file_interface_version(const check_context& context)
{
    plugin_under_test plugin;
    if (auto fault = try_load(plugin, context)) return *fault;
    const auto judge = [&](const char* when) -> std::optional<check_result> {
        const std::int64_t version = plugin.version();
        if (version == plugin_interface::version) return std::nullopt;
        char text[200];
        if ((version & 0xFFFFFFFF) == plugin_interface::version)
            std::snprintf(text, sizeof text,
                          "answers 0x%016llX %s: 2 in its low 32 bits only, while the host reads all 64 (return a "
                          "64-bit integer)",
                          static_cast<unsigned long long>(version), when);
        else
            std::snprintf(text, sizeof text, "answers %lld %s, not 2", static_cast<long long>(version), when);
        return failed(fault_kind::expectation, text);
    };
    if (auto wrong = judge("before Init")) return *wrong;
    if (auto fault = try_init(plugin)) return *fault;
    frame_loop frames(plugin, true);
    frames.run(10);
    if (auto wrong = judge("while running")) return *wrong;
    plugin.shutdown();
    if (auto wrong = judge("after Shutdown")) return *wrong;
    plugin.unload();
    return passed("2, before Init, while running and after Shutdown");
}

}  // namespace bodies

}  // namespace validate
