#include "msl/mfileio/mfastfile.h"

#include "msl/mfileio/mfastfile_internal.h"
#include "msl/mfileio/mfileio_os.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/merrtrace.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kTempPrefix[] = "ffw";
constexpr char kTempSuffix[] = ".tmp";

// The names CreateTemp gives: the prefix, 4 to 6 letters or digits, the suffix (in capitals
// on Windows).
bool IsTemporaryName(const std::string& name) {
    const size_t prefix = sizeof kTempPrefix - 1, suffix = sizeof kTempSuffix - 1;
    if (name.size() < prefix + 4 + suffix || name.size() > prefix + 6 + suffix ||
        name.compare(0, prefix, kTempPrefix) != 0)
        return false;
    for (size_t i = 0; i < suffix; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - suffix + i])) !=
            kTempSuffix[i])
            return false;
    for (size_t i = prefix; i < name.size() - suffix; ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

} // namespace

namespace os = mfileio_os;

MFastFile::MFastFile() : end(buffer), pos(buffer), hFile(os::kInvalidHandle), state(kClosed) {}

namespace mfastfile {

namespace {

// One system call moves at most this much, as on the systems the file format comes from.
constexpr std::uint64_t kMaxCall = 4294967295ull;

} // namespace

os::Handle openfile(const char* name) {
    os::Handle handle = os::OpenRead(name);
    if (handle == os::kInvalidHandle) {
        int error = os::LastError();
        MERRTRACE("openfile(): CreateFile(\"%s\") failed: %d", name, error);
        os::SetLastError(error); // callers report it too
    }
    return handle;
}

os::Handle openwritefile(const char* name, int mode) {
    bool writeThrough = (mode & MFASTFILE_MODE_FLUSH) != 0;
    mode &= ~MFASTFILE_MODE_FLUSH;
    os::Creation creation;
    switch (mode) {
    case MFASTFILE_MODE_NEW:
        creation = os::Creation::CreateNew;
        break;
    case MFASTFILE_MODE_APPEND:
        creation = os::Creation::OpenAppend;
        break;
    case MFASTFILE_MODE_OVERWRITE:
        creation = os::Creation::CreateAlways;
        break;
    default:
        MERRTRACE("openwritefile(): unknown mode %d for %s", mode, name);
        return os::kInvalidHandle;
    }
    os::Handle handle = os::OpenWrite(name, creation, writeThrough);
    if (handle == os::kInvalidHandle) {
        int error = os::LastError();
        MERRTRACE("openwritefile(): CreateFile(\"%s\") failed: %d", name, error);
        os::SetLastError(error);
    }
    return handle;
}

bool read64(os::Handle handle, void* data, std::uint64_t size, std::uint64_t& done) {
    char* at = static_cast<char*>(data);
    done = 0;
    while (done < size) {
        std::uint64_t want = size - done < kMaxCall ? size - done : kMaxCall;
        std::int64_t got = os::ReadSome(handle, at + done, want);
        if (got < 0) {
            MERRTRACE("%s(): ReadFile() failed: %d", "read64", os::LastError());
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool write64(os::Handle handle, const void* data, std::uint64_t size, std::uint64_t& done) {
    const char* at = static_cast<const char*>(data);
    done = 0;
    while (done < size) {
        std::uint64_t want = size - done < kMaxCall ? size - done : kMaxCall;
        std::int64_t put = os::WriteSome(handle, at + done, want);
        if (put < 0) {
            // A full disk must read as one, not only as a number.
            const int code = os::LastError();
            const std::string name = os::ErrorName(code);
            MERRTRACE("%s(): WriteFile() failed: %d (%s%s%s)", "write64", code, name.c_str(),
                      name.empty() ? "" : ": ", os::ErrorText(code).c_str());
            os::SetLastError(code);
            return false;
        }
        if (put == 0)
            break;
        done += static_cast<std::uint64_t>(put);
    }
    return true;
}

} // namespace mfastfile

namespace {

// CR LF and lone CR become LF, in place; returns the new length.
std::uint64_t LineEndsToLf(char* text, std::uint64_t size) {
    if (size == 0)
        return 0;
    const char* in = text;
    const char* end = text + size;
    char* out = text;
    for (;;) {
        const char* cr = static_cast<const char*>(std::memchr(in, '\r', std::size_t(end - in)));
        const char* stop = cr != nullptr ? cr : end;
        if (out != in)
            std::memmove(out, in, std::size_t(stop - in));
        out += stop - in;
        if (cr == nullptr)
            return std::uint64_t(out - text);
        *out++ = '\n';
        in = cr + 1;
        if (in < end && *in == '\n')
            ++in;
    }
}

// LF, lone CR and CR LF become CR LF; `out` holds twice the input. Returns the output length.
std::uint64_t LineEndsToCrLf(const char* text, std::uint64_t size, char* out) {
    if (size == 0)
        return 0;
    const char* in = text;
    const char* end = text + size;
    char* start = out;
    for (;;) {
        const char* stop = mfastfile::FindLineEnd(in, end);
        std::memcpy(out, in, std::size_t(stop - in));
        out += stop - in;
        if (stop == end)
            return std::uint64_t(out - start);
        in = stop + 1;
        if (*stop == '\r' && in < end && *in == '\n')
            ++in;
        *out++ = '\r';
        *out++ = '\n';
    }
}

} // namespace

std::int64_t MFastFile_ReadAtOnce(const char* name, void* buffer, std::uint64_t size) {
    os::Handle handle = mfastfile::openfile(name);
    if (handle == os::kInvalidHandle) {
        MERRTRACE("MFastFile_ReadAtOnce(): openfile(\"%s\") failed.", name);
        return -1;
    }
    std::uint64_t got = 0;
    bool ok = mfastfile::read64(handle, buffer, size, got);
    if (!ok)
        MERRTRACE("MFastFile_ReadAtOnce(): ReadFile(..,%zu,..) failed for \"%s\"",
                  static_cast<std::size_t>(size), name);
    if (!os::Close(handle)) {
        MERRTRACE("MFastFile_ReadAtOnce(): CloseHandle() failed for \"%s\": %d", name,
                  os::LastError());
        ok = false;
    }
    return ok ? static_cast<std::int64_t>(got) : -1;
}

std::int64_t MFastFile_ReadAtOnce(const char* name, std::string& data) {
    std::int64_t size = file_size(name);
    if (size < 0) {
        MERRTRACE("MFastFile_ReadAtOnce(): file_size(\"%s\") returned %lld", name,
                  static_cast<long long>(size));
        data.clear();
        return -1;
    }
    data.resize(static_cast<std::size_t>(size));
    std::int64_t got = MFastFile_ReadAtOnce(name, data.data(), static_cast<std::uint64_t>(size));
    if (got < 0) {
        MERRTRACE("MFastFile_ReadAtOnce(): MFastFile_ReadAtOnce(\"%s\",..,%lld) failed", name,
                  static_cast<long long>(size));
        data.clear();
        return -1;
    }
    data.resize(static_cast<std::size_t>(got)); // the file may have shrunk meanwhile
    return got;
}

std::int64_t MFastFile_ReadLinesAtOnce(const char* name, char* buffer, std::uint64_t size) {
    std::int64_t got = MFastFile_ReadAtOnce(name, buffer, size);
    if (got < 0) {
        MERRTRACE("MFastFile_ReadLinesAtOnce(): MFastFile_ReadAtOnce(\"%s\",..,%zu) failed", name,
                  static_cast<std::size_t>(size));
        return -1;
    }
    return static_cast<std::int64_t>(LineEndsToLf(buffer, static_cast<std::uint64_t>(got)));
}

std::int64_t MFastFile_ReadLinesAtOnce(const char* name, std::string& text) {
    std::int64_t size = file_size(name);
    if (size < 0) {
        MERRTRACE("MFastFile_ReadLinesAtOnce(): file_size(\"%s\") returned %lld", name,
                  static_cast<long long>(size));
        text.clear();
        return -1;
    }
    text.resize(static_cast<std::size_t>(size));
    std::int64_t got = MFastFile_ReadAtOnce(name, text.data(), static_cast<std::uint64_t>(size));
    if (got < 0) {
        MERRTRACE("MFastFile_ReadLinesAtOnce(): MFastFile_ReadAtOnce(\"%s\",..,%lld) failed", name,
                  static_cast<long long>(size));
        text.clear();
        return -1;
    }
    std::uint64_t length = LineEndsToLf(text.data(), static_cast<std::uint64_t>(got));
    text.resize(static_cast<std::size_t>(length));
    return static_cast<std::int64_t>(length);
}

std::int64_t MFastFile_WriteAtOnce(const char* name, const void* data, std::uint64_t size,
                                   int mode) {
    bool flush = (mode & MFASTFILE_MODE_FLUSH) != 0;
    mode &= ~MFASTFILE_MODE_FLUSH;
    bool safe = false;
    std::string dir;
    std::string tempName;
    os::Handle handle;
    if (mode == (MFASTFILE_MODE_OVERWRITE | MFASTFILE_MODE_SAFE)) {
        mode = MFASTFILE_MODE_OVERWRITE;
        flush = true;
        safe = true;
        if (!file_dirname(name, dir))
            dir.assign(1, '.'); // the current directory
        handle = os::CreateTemp(dir, kTempPrefix, name, tempName);
        if (handle == os::kInvalidHandle) {
            MERRTRACE("MFastFile_WriteAtOnce(): GetTempFileName() failed:%d", os::LastError());
            return -1;
        }
    } else {
        handle = mfastfile::openwritefile(name, mode);
        if (handle == os::kInvalidHandle) {
            MERRTRACE("%s(): openwritefile(%s, %d) failed", "MFastFile_WriteAtOnce", name, mode);
            return -1;
        }
    }

    // Every step is attempted, so the handle is always closed and every failure is reported.
    bool ok = true;
    std::uint64_t written = 0;
    if (!mfastfile::write64(handle, data, size, written) || written != size) {
        MERRTRACE("%s(): write64() failed", "MFastFile_WriteAtOnce");
        ok = false;
    }
    if (flush && !os::Sync(handle)) {
        MERRTRACE("%s(): FlushFileBuffers() failed: %d", "MFastFile_WriteAtOnce", os::LastError());
        ok = false;
    }
    if (!os::Close(handle)) {
        MERRTRACE("%s(): CloseHandle() failed: %d", "MFastFile_WriteAtOnce", os::LastError());
        ok = false;
    }
    if (safe) {
        if (!ok) {
            // An incomplete temporary file must never replace the target.
            os::Remove(tempName.c_str());
            return -1;
        }
        if (!file_rename(tempName.c_str(), name)) {
            int error = os::LastError();
            MERRTRACE("MFastFile_WriteAtOnce(): file_rename(%s,%s) failed: %s", tempName.c_str(),
                      name, os::ErrorText(error).c_str());
            os::Remove(tempName.c_str());
            return -1;
        }
        // The rename itself must survive a crash, not only the file's content.
        if (!os::SyncDirectory(dir)) {
            MERRTRACE("MFastFile_WriteAtOnce(): sync of directory \"%s\" failed: %d", dir.c_str(),
                      os::LastError());
            return -1;
        }
    }
    return ok ? static_cast<std::int64_t>(size) : -1;
}

int MFastFile_RemoveStaleTemporaries(const std::string& dir) {
    os::DirSearch search;
    if (!search.Open(dir))
        return 0;
    int removed = 0;
    std::string name;
    bool isDirectory = false;
    while (search.Next(name, isDirectory))
        if (!isDirectory && IsTemporaryName(name) &&
            os::RemoveUnlessOpen(file_join(dir, name).c_str()))
            ++removed;
    return removed;
}

std::int64_t MFastFile_WriteLinesAtOnce(const char* name, const char* text, std::uint64_t size,
                                        int mode) {
    std::uint64_t room = size * 2;
    std::unique_ptr<char[]> work;
    if (size <= SIZE_MAX / 2)
        work.reset(new (std::nothrow) char[room > 0 ? room : 1]);
    if (!work) {
        MERRTRACE("MFastFile_WriteLinesAtOnce(): malloc(%zu) failed: %.50s",
                  static_cast<std::size_t>(room), std::strerror(ENOMEM));
        return -1;
    }
    std::uint64_t length = LineEndsToCrLf(text, size, work.get());
    std::int64_t written = MFastFile_WriteAtOnce(name, work.get(), length, mode);
    if (written < 0) {
        MERRTRACE("MFastFile_WriteLinesAtOnce(): MFastFile_WriteAtOnce(\"%s\",..,%zu,%d) failed",
                  name, static_cast<std::size_t>(length), mode);
        return -1;
    }
    return written;
}

bool MFastFile_CopyFile(const char* source, const char* target, int mode) {
    std::int64_t size = file_size(source);
    if (size < 0) {
        MERRTRACE("MFastFile_CopyFile(): file_size(\"%s\") failed", source);
        return false;
    }
    std::unique_ptr<char[]> data(new (std::nothrow) char[size > 0 ? size : 1]);
    std::int64_t got = -1;
    if (data)
        got = MFastFile_ReadAtOnce(source, data.get(), static_cast<std::uint64_t>(size));
    if (got < 0) {
        MERRTRACE("MFastFile_CopyFile(): MFastFile_ReadAtOnce(\"%s\",..,%lld) failed", source,
                  static_cast<long long>(size));
        return false;
    }
    if (MFastFile_WriteAtOnce(target, data.get(), static_cast<std::uint64_t>(got), mode) < 0) {
        MERRTRACE("MFastFile_CopyFile(): MFastFile_WriteAtOnce(\"%s\",..,%lld,%d) failed", target,
                  static_cast<long long>(got), mode);
        return false;
    }
    return true;
}
