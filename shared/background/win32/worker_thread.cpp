// The worker's thread on Windows. It holds a reference on the module that
// holds this code (the plug-in's DLL, which compiles this file in) from
// before it starts until its last instruction, which lets go of it
// (FreeLibraryAndExitThread). A host that unloads the DLL without Shutdown
// thus leaves it loaded while the thread runs: no code of the thread can
// run after its DLL has left the process.
#include <windows.h>

#include <skarvel/shared/background/worker_thread.h>

namespace background_worker_detail {

worker_thread::~worker_thread()
{
    // Reached with the thread still there only when the process exits, which
    // has ended it already: nothing to wait for.
    if (thread_ != nullptr) CloseHandle(thread_);
    if (wake_ != nullptr) CloseHandle(wake_);
}

unsigned long __stdcall worker_thread::thread_main(void* self) noexcept
{
    auto* thread = static_cast<worker_thread*>(self);
    const auto module = static_cast<HMODULE>(thread->module_);
    thread->run_(thread->context_);
    FreeLibraryAndExitThread(module, 0);
}

bool worker_thread::start(void (*run)(void*), void* context) noexcept
{
    if (thread_ != nullptr) return false;
    if (wake_ == nullptr) {
        wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (wake_ == nullptr) return false;
    } else {
        ResetEvent(wake_);
    }
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&thread_main), &module))
        return false;
    run_ = run;
    context_ = context;
    module_ = module;
    thread_ = CreateThread(nullptr, 0, &thread_main, this, 0, nullptr);
    if (thread_ == nullptr) {
        FreeLibrary(module);
        module_ = nullptr;
        return false;
    }
    return true;
}

void worker_thread::wake() noexcept
{
    if (wake_ != nullptr) SetEvent(wake_);
}

void worker_thread::sleep(unsigned milliseconds) noexcept
{
    WaitForSingleObject(wake_, milliseconds);
}

void worker_thread::join() noexcept
{
    if (thread_ == nullptr || GetThreadId(thread_) == GetCurrentThreadId()) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    module_ = nullptr;
}

bool worker_thread::running() const noexcept
{
    return thread_ != nullptr && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
}

}  // namespace background_worker_detail
