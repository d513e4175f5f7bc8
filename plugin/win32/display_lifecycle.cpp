// The display thread is a plain Win32 thread, not a std::thread: a thread
// object still joinable when the library unloads would end the host's
// process. The thread holds its own reference on the library, so its code
// stays mapped while it runs even if the host unloads the library without
// Shutdown; it drops the reference as its very last act.
#include "plugin/win32/display_lifecycle.h"

#include "display/win32/display_thread.h"

namespace {

// The thread receives its state, whose module handle is the reference on
// the library that the thread holds.
DWORD WINAPI display_thread_start(void* parameter) noexcept
{
    display_state& state = *static_cast<display_state*>(parameter);
    const HMODULE reference = state.module_handle;
    display_thread_proc(state);
    FreeLibraryAndExitThread(reference, 0);
}

bool has_ended(HANDLE thread) noexcept
{
    return WaitForSingleObject(thread, 0) != WAIT_TIMEOUT;
}

}  // namespace

bool display_lifecycle::start(HINSTANCE module, handoff_state& handoff, display_picture& picture) noexcept
{
    if (thread_ != nullptr) {
        // A window that is up, or still being made, is the one window.
        if (!has_ended(thread_) && !display_closing(*state_)) return true;
        // The user closed it: the thread has ended or is tearing down.
        WaitForSingleObject(thread_, INFINITE);
        forget();
    }

    // A reference on this library, named by its own address; the handle it
    // gives back is the module handle, which the thread's state carries.
    HMODULE reference = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(module), &reference))
        return false;
    state_.emplace(reference, handoff, picture);
    thread_ = CreateThread(nullptr, 0, display_thread_start, &*state_, 0, nullptr);
    if (thread_ == nullptr) {
        state_.reset();
        FreeLibrary(reference);
        return false;
    }
    return true;
}

void display_lifecycle::stop() noexcept
{
    if (thread_ == nullptr) return;
    request_display_stop(*state_);
    WaitForSingleObject(thread_, INFINITE);
    forget();
}

void display_lifecycle::release() noexcept
{
    if (thread_ != nullptr) forget();
}

void display_lifecycle::forget() noexcept
{
    CloseHandle(thread_);
    thread_ = nullptr;
    state_.reset();
}
