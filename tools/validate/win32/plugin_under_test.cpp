#include "tools/validate/win32/plugin_under_test.h"

#include "tools/validate/win32/child_channel.h"
#include "tools/validate/win32/fault_capture.h"
#include "tools/validate/win32/import_hooks.h"
#include "tools/validate/win32/load_readings.h"
#include "tools/validate/win32/module_table.h"
#include "tools/validate/win32/state_watch.h"

namespace validate {

double now_seconds() noexcept
{
    static const double period = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * period;
}

namespace {

// Times one call into the plug-in, recorded in the channel while it runs,
// with the process state compared around it and, when `use` is given, the
// processors' time read around it.
class call_scope {
public:
    call_scope(plugin_call call, double& seconds, std::optional<processor_use>* use = nullptr)
        : call_(call), seconds_(seconds), use_(use)
    {
        process_watch().before_call();
        begin_call(call);
        if (use_ != nullptr) before_ = read_processors();
        start_ = now_seconds();
    }
    ~call_scope()
    {
        seconds_ = now_seconds() - start_;
        if (use_ != nullptr) *use_ = processor_use_between(before_, read_processors());
        end_call();
        process_watch().after_call(call_);
    }
    call_scope(const call_scope&) = delete;
    call_scope& operator=(const call_scope&) = delete;

private:
    plugin_call call_;
    double& seconds_;
    std::optional<processor_use>* use_;
    std::optional<processor_reading> before_;
    double start_ = 0.0;
};

// The file name of a path, without its folder.
std::string file_name(const std::string& path)
{
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool plugin_under_test::load(const std::string& path, std::string& error)
{
    bool loaded = false;
    expect_plugin(file_name(path));
    {
        call_scope scope(plugin_call::load_library, last_seconds_);
        loaded = library_.load(path, error);
    }
    if (!loaded) {
        const DWORD code = library_.load_error();
        if (code == ERROR_MOD_NOT_FOUND) error += ": a DLL it needs is missing (see file.imports)";
        if (code == ERROR_BAD_EXE_FORMAT) error += ": not a DLL for this system (see file.pe_format)";
        if (code == ERROR_DLL_INIT_FAILED) error += ": its DllMain answered FALSE";
        return false;
    }
    count_load();
    hook_plugin_imports(library_.module());
    return true;
}

void plugin_under_test::unload()
{
    if (library_.module() == nullptr) return;
    // FreeLibrary is known to hang or end the process: the check goes on
    // without it, and its process ends without unloading.
    if (leave_loaded()) {
        library_.release();
        return;
    }
    {
        call_scope scope(plugin_call::free_library, last_seconds_);
        library_.unload();
    }
    count_unload();
    process_watch().after_unload();
}

std::int64_t plugin_under_test::version()
{
    call_scope scope(plugin_call::get_interface_version, last_seconds_);
    return library_.entry_points().get_interface_version();
}

bool plugin_under_test::init()
{
    call_scope scope(plugin_call::init, last_seconds_, reads_processors_ ? &last_use_ : nullptr);
    return library_.entry_points().init(nullptr);
}

void plugin_under_test::shutdown()
{
    call_scope scope(plugin_call::shutdown, last_seconds_, reads_processors_ ? &last_use_ : nullptr);
    library_.entry_points().shutdown();
}

void plugin_under_test::update(double time_step, const std::uint8_t* stream, std::uint32_t count)
{
    outputs_.reset();
    {
        call_scope scope(plugin_call::update, last_seconds_, reads_processors_ ? &last_use_ : nullptr);
        library_.entry_points().update(time_step, stream, 0, count, nullptr, outputs_.first(), outputs_.second());
    }
    if (std::optional<check_result> fault = outputs_.fault(current_frame())) report_fault(*fault);
}

}  // namespace validate
