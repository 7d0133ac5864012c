#include "tests/msl/fileio_testutil.h"

#if defined(_WIN32)
#include <windows.h>

namespace fileio_test {

FailingFiles::FailingFiles(const std::string& folder)
    : readFails(folder + "\\locked.bin"), writeFails(readFails) {
    if (std::FILE* file = std::fopen(readFails.c_str(), "wb")) {
        std::fputs("locked", file);
        std::fclose(file);
    }
    HANDLE handle = CreateFileA(readFails.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    locker = handle;
    OVERLAPPED from{};
    locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                        MAXDWORD, &from);
}

FailingFiles::~FailingFiles() {
    if (locker != nullptr)
        CloseHandle(static_cast<HANDLE>(locker));
}

} // namespace fileio_test
#endif
