// Keeps Wine's desktop open while the Windows tests run: started once by scripts/test-windows,
// with none of any test's handles, it owns the desktop's process (explorer.exe), which would
// otherwise be started by the first test to open a window, hold that test's output pipe (ctest
// waits for it as for the test) and be closed and made again as tests come and go. Ended by
// `wineserver -k`.

#include <windows.h>

#include <cstdio>

int main() {
    // Asking for the desktop window connects the thread to the desktop and starts its process.
    if (GetDesktopWindow() == nullptr) {
        std::fprintf(stderr, "holddesktop: no desktop window: error %lu\n", GetLastError());
        return 1;
    }
    // The script starts the tests once it reads this.
    std::puts("desktop ready");
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
