// Holds the Wine desktop open while the Windows tests run. Wine's desktop
// process ends about a second after the last program that used the desktop,
// and a program that makes its first window while the desktop is ending can
// wait many seconds for it.
//     keep_desktop.exe FILE
// makes FILE (a path relative to its working folder) once it holds the
// desktop, and ends once FILE is gone. It shows nothing. The CTest fixture
// wine_desktop (tests/support/CMakeLists.txt) starts and ends it.
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    const char* const file = argv[1];
    // A message-only window ties this process to the desktop.
    const HWND window = CreateWindowExA(0, "STATIC", "keep_desktop", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) return 1;
    const HANDLE made = CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(made);
    SetTimer(window, 1, 100, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES) break;
        DispatchMessageA(&msg);
    }
    DestroyWindow(window);
    return 0;
}
