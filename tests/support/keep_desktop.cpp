// Holds the Wine desktop open while the Windows tests run. Wine's desktop
// process ends about a second after the last program that used the desktop,
// and a program that makes its first window while the desktop is ending can
// wait many seconds for it. The test command starts this before the tests
// and ends it after them; it shows nothing.
#include <windows.h>

int main()
{
    // A message-only window ties this process to the desktop.
    const HWND window = CreateWindowExA(0, "STATIC", "keep_desktop", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}
