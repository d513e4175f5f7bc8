// The display thread is a plain Win32 thread, not a std::thread: a thread
// object still joinable when the library unloads would end the host's
// process. The thread holds its own reference on the library, so its code
// stays mapped while it runs even if the host unloads the library without
// Shutdown; it drops the reference as its very last act.
#include "plugin/win32/display_lifecycle.h"

#include "display/win32/display_thread.h"

namespace {

// The running or ended display thread, null when none was started since the
// last stop. Host thread only.
HANDLE display_thread = nullptr;

DWORD WINAPI display_thread_start(void* parameter) noexcept
{
    const auto module = static_cast<HMODULE>(parameter);
    try {
        display_thread_proc(module);
    } catch (...) {
        // The thread ends below all the same.
    }
    FreeLibraryAndExitThread(module, 0);
}

bool has_ended(HANDLE thread) noexcept
{
    return WaitForSingleObject(thread, 0) != WAIT_TIMEOUT;
}

void forget_thread() noexcept
{
    CloseHandle(display_thread);
    display_thread = nullptr;
}

}  // namespace

bool start_display_thread(HINSTANCE module) noexcept
{
    if (display_thread != nullptr) {
        // A window that is up, or still being made, is the one window.
        if (!has_ended(display_thread) && !display_closing()) return true;
        // The user closed it: the thread has ended or is tearing down.
        WaitForSingleObject(display_thread, INFINITE);
        forget_thread();
    }
    clear_display_stop();

    // A reference on this library, named by its own address; the handle it
    // gives back is the module handle, which the thread receives.
    HMODULE reference = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module), &reference))
        return false;
    display_thread = CreateThread(nullptr, 0, display_thread_start, reference, 0, nullptr);
    if (display_thread == nullptr) {
        FreeLibrary(reference);
        return false;
    }
    return true;
}

void stop_display_thread() noexcept
{
    if (display_thread == nullptr) return;
    request_display_stop();
    WaitForSingleObject(display_thread, INFINITE);
    forget_thread();
}

void release_display_thread() noexcept
{
    if (display_thread != nullptr) forget_thread();
}
