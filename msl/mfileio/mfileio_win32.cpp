// Windows implementation of the file I/O library's system calls (kernel32's "A" functions, so
// that names are byte strings in the system's code page).
#include "msl/mfileio/mfileio_os.h"

#include <io.h>
#include <string_view>
#include <windows.h>

namespace mfileio_os {

namespace {

// The largest transfer of one ReadFile or WriteFile.
constexpr std::uint64_t kMaxIo = 0xFFFFFFFFu;

HANDLE ToHandle(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

Handle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(handle);
}

// Unix-like permission bits as the C run-time reports them: read-only files lack the write bits.
constexpr unsigned kReadBits = 0444;
constexpr unsigned kWriteBits = 0222;

} // namespace

int LastError() {
    return static_cast<int>(GetLastError());
}

void SetLastError(int code) {
    ::SetLastError(static_cast<DWORD>(code));
}

std::string ErrorText(int code) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 &&
           (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    return n > 0 ? std::string(text, n) : "system error " + std::to_string(code);
}

std::string ErrorName(int) {
    return std::string(); // Windows codes have texts, not names
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}
char Separator() {
    return '\\';
}

Handle OpenRead(const char* name) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return FromHandle(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

Handle OpenWrite(const char* name, Creation creation, bool writeThrough) {
    DWORD access = FILE_WRITE_DATA;
    DWORD disposition = CREATE_ALWAYS;
    switch (creation) {
    case Creation::CreateNew:
        disposition = CREATE_NEW;
        break;
    case Creation::OpenAppend:
        // Append data without write data: every write goes to the end of the file.
        access = FILE_APPEND_DATA;
        disposition = OPEN_ALWAYS;
        break;
    case Creation::CreateAlways:
        break;
    }
    access |= SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
    return FromHandle(
        CreateFileA(name, access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr));
}

Handle CreateTemp(const std::string& dir, const char* prefix, const char* /*modelName*/,
                  std::string& tempName) {
    // A new file takes its access rights from its folder, as the target did: there are no
    // permission bits to carry over.
    char name[MAX_PATH];
    if (GetTempFileNameA(dir.empty() ? "." : dir.c_str(), prefix, 0, name) == 0)
        return kInvalidHandle;
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        DeleteFileA(name);
        ::SetLastError(error);
        return kInvalidHandle;
    }
    tempName = name;
    return FromHandle(file);
}

bool Close(Handle handle) {
    return CloseHandle(ToHandle(handle)) != 0;
}

std::int64_t ReadSome(Handle handle, void* data, std::uint64_t size) {
    DWORD done = 0;
    if (!ReadFile(ToHandle(handle), data, static_cast<DWORD>(size < kMaxIo ? size : kMaxIo), &done,
                  nullptr)) {
        // The writing end of a pipe has gone: the end of the data, as with a file.
        if (GetLastError() == ERROR_BROKEN_PIPE)
            return 0;
        return -1;
    }
    return done;
}

std::int64_t WriteSome(Handle handle, const void* data, std::uint64_t size) {
    DWORD done = 0;
    if (!WriteFile(ToHandle(handle), data, static_cast<DWORD>(size < kMaxIo ? size : kMaxIo), &done,
                   nullptr))
        return -1;
    return done;
}

bool Sync(Handle handle) {
    return FlushFileBuffers(ToHandle(handle)) != 0;
}

bool SyncDirectory(const std::string& /*dir*/) {
    // Folders cannot be flushed on Windows; Rename writes through instead.
    return true;
}

bool Rename(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool Remove(const char* name) {
    return DeleteFileA(name) != 0;
}

bool RemoveUnlessOpen(const char* name) {
    // CreateTemp's handle shares no deletion: deleting a file still being written fails.
    return DeleteFileA(name) != 0;
}

bool Stat(const char* name, FileInfo& info) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        return false;
    DWORD attributes = data.dwFileAttributes;
    info.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegular = !info.isDirectory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info.isHidden = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 ||
                    (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
    info.size =
        info.isDirectory ? 0 : (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info.permissions = kReadBits | ((attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0u : kWriteBits);
    return true;
}

bool IsReadable(const char* name) {
    return _access(name, 4) == 0;
}

bool MakeDir(const char* name) {
    return CreateDirectoryA(name, nullptr) != 0;
}

bool RemoveDir(const char* name) {
    return RemoveDirectoryA(name) != 0;
}

bool SetPermissions(const char* name, unsigned permissions) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    // Only the owner's write bit has a meaning here: without it the file is read-only.
    if ((permissions & 0200) != 0)
        attributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
    else
        attributes |= FILE_ATTRIBUTE_READONLY;
    attributes &= ~DWORD{FILE_ATTRIBUTE_DIRECTORY};
    return SetFileAttributesA(name, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes) != 0;
}

bool FullPath(const char* name, std::string& out) {
    if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES)
        return false; // the path must exist
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(name, sizeof full, full, nullptr);
    if (n == 0)
        return false;
    if (n >= sizeof full) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out.assign(full, n);
    return true;
}

bool CurrentDir(std::string& out) {
    char dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    if (n == 0)
        return false;
    if (n >= sizeof dir) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out.assign(dir, n);
    return true;
}

namespace {

// The search handle and the entry FindFirstFileA already found, which Next hands out first.
struct Search {
    HANDLE handle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA pending{};
    bool hasPending = false;

    ~Search() { FindClose(handle); }
};

} // namespace

DirSearch::~DirSearch() {
    delete static_cast<Search*>(dir);
}

bool DirSearch::Open(const std::string& name) {
    delete static_cast<Search*>(dir);
    dir = nullptr;
    endError = 0;
    path = name;
    std::string pattern = name;
    if (!pattern.empty() && !IsSeparator(pattern.back()))
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA first;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &first);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    auto* search = new Search;
    search->handle = handle;
    search->pending = first;
    search->hasPending = true;
    dir = search;
    return true;
}

bool DirSearch::Next(std::string& name, bool& isDirectory) {
    auto* search = static_cast<Search*>(dir);
    if (search == nullptr) {
        endError = ERROR_INVALID_HANDLE;
        return false;
    }
    for (;;) {
        if (!search->hasPending) {
            if (!FindNextFileA(search->handle, &search->pending)) {
                DWORD error = GetLastError();
                endError = error == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(error);
                return false;
            }
        }
        search->hasPending = false;
        const WIN32_FIND_DATAA& found = search->pending;
        if (std::string_view(found.cFileName) == "." || std::string_view(found.cFileName) == "..")
            continue;
        name = found.cFileName;
        // A link to a folder counts as a file, so walks never follow one out of the tree.
        DWORD attributes = found.dwFileAttributes;
        isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        return true;
    }
}

} // namespace mfileio_os
