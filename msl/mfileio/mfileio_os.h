#pragma once
// Operating-system calls of the file I/O library, each behind one small function so that the
// rest of mfileio stays free of system headers. mfileio_posix.cpp implements them for POSIX;
// a Windows twin implements the same list.
//
// Every function that fails leaves its system error code for LastError() (errno here).

#include <cstdint>
#include <string>

namespace mfileio_os {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// System error code of the last failed call on this thread, and its text.
int LastError();
// Restores an error code saved across a call that may change it (writing a trace line).
void SetLastError(int code);
std::string ErrorText(int code);
// The symbolic name of the code ("ENOSPC"), empty where the system has none.
std::string ErrorName(int code);

// Path separators: what splits a path, and what joins one.
bool IsSeparator(char c);
char Separator();

// Opens an existing file for reading. Other readers and writers stay possible and the handle
// is inherited by child processes. A directory is refused.
Handle OpenRead(const char* name);

enum class Creation {
    CreateNew,   // fails when the file exists
    OpenAppend,  // created when missing, every write goes to the end
    CreateAlways // created or truncated
};
// Opens a file for writing; `writeThrough` makes every write reach the disk before it returns.
Handle OpenWrite(const char* name, Creation creation, bool writeThrough);

// Creates and opens a new, empty file with a unique name `<dir>/<prefix>XXXXXX.tmp` and stores
// that name. The file gets the permission bits of `modelName` when that exists, else those a
// plain create would give, so that renaming it over `modelName` changes nothing but content.
// While the handle is open, RemoveUnlessOpen leaves the file alone.
Handle CreateTemp(const std::string& dir, const char* prefix, const char* modelName,
                  std::string& tempName);

bool Close(Handle handle);

// One read or write of at most `size` bytes (interrupted calls are retried): the number of bytes
// moved (0 at end of file for reads), -1 on error.
std::int64_t ReadSome(Handle handle, void* data, std::uint64_t size);
std::int64_t WriteSome(Handle handle, const void* data, std::uint64_t size);

// Everything written so far is on the disk.
bool Sync(Handle handle);
// The folder's entries (a rename into it) are on the disk.
bool SyncDirectory(const std::string& dir);

// Renames, replacing an existing target file.
bool Rename(const char* from, const char* to);
// Deletes a file (never a directory).
bool Remove(const char* name);
// Deletes a file that CreateTemp made unless its handle is still open in some process.
bool RemoveUnlessOpen(const char* name);

struct FileInfo {
    bool isDirectory = false;
    bool isRegular = false;
    bool isHidden = false; // name starts with '.', or a device, pipe or socket
    std::uint64_t size = 0;
    unsigned permissions = 0; // read/write/execute bits as the system keeps them
};
bool Stat(const char* name, FileInfo& info);
bool IsReadable(const char* name);

bool MakeDir(const char* name);
bool RemoveDir(const char* name);
bool SetPermissions(const char* name, unsigned permissions);

// Absolute form of an existing path, symbolic links resolved.
bool FullPath(const char* name, std::string& out);
bool CurrentDir(std::string& out);

// Lists the entries of one directory, "." and ".." left out.
class DirSearch {
public:
    DirSearch() = default;
    ~DirSearch();
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    bool Open(const std::string& dir);
    // The next entry; false when there is none left or the listing failed (see EndError).
    // A symbolic link counts as a file, so walks never follow one out of the tree.
    bool Next(std::string& name, bool& isDirectory);
    // 0 when the listing ran to its end, else the system error that stopped it.
    int EndError() const { return endError; }

private:
    void* dir = nullptr;
    std::string path;
    int endError = 0;
};

} // namespace mfileio_os
