#include "msl/mfileio/mfileops.h"

#include "msl/mfileio/mfileio_os.h"
#include "platform/trace/merrtrace.h"

namespace os = mfileio_os;

int file_type(const char* name) {
    os::FileInfo info;
    if (!os::Stat(name, info)) {
        int error = os::LastError();
        MERRTRACE("%s(): _findfirst(\"%s\") failed: %s", "file_type", name,
                  os::ErrorText(error).c_str());
        os::SetLastError(error);
        return -1;
    }
    if (info.isDirectory)
        return 'd';
    return info.isHidden ? ' ' : '-';
}

std::int64_t file_size(const char* name) {
    os::FileInfo info;
    if (!os::Stat(name, info))
        return -1;
    if (info.isDirectory)
        return 0;
    if (!os::IsReadable(name))
        return -1;
    return static_cast<std::int64_t>(info.size);
}

bool file_exists(const char* name) {
    os::FileInfo info;
    return os::Stat(name, info);
}

bool file_remove(const char* name) {
    return os::Remove(name);
}

bool file_rename(const char* from, const char* to) {
    if (os::Rename(from, to))
        return true;
    int error = os::LastError();
    MERRTRACE("file_rename(): MoveFileEx(%s,%s) failed: %d", from, to, error);
    os::SetLastError(error); // for the caller's message
    return false;
}

bool file_dirname(std::string_view path, std::string& dir) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (os::IsSeparator(path[i - 1])) {
            dir.assign(path.data(), i - 1);
            dir += os::Separator();
            return true;
        }
    }
    return false;
}

std::string file_join(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\')
        path += os::Separator();
    path += name;
    return path;
}

bool file_is_absolute(std::string_view path) {
    if (path.empty())
        return false;
    if (os::IsSeparator(path[0]))
        return true;
    char c = path[0];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && path.size() >= 2 && path[1] == ':';
}

namespace {

// Absolute form of an existing path, without a trailing separator.
bool FullPathNoTrailingSeparator(const char* path, std::string& out) {
    if (!os::FullPath(path, out))
        return false;
    while (!out.empty() && os::IsSeparator(out.back()))
        out.pop_back();
    return true;
}

} // namespace

bool file_is_subdirectory(const char* inner, const char* outer) {
    std::string in;
    std::string out;
    if (!FullPathNoTrailingSeparator(inner, in) || !FullPathNoTrailingSeparator(outer, out))
        return false;
    return in.size() > out.size() && in.compare(0, out.size(), out) == 0 &&
           os::IsSeparator(in[out.size()]);
}

bool dir_exists(const char* path) {
    // The same answer as file_type() == 'd', without reporting a missing name as a failure.
    os::FileInfo info;
    return os::Stat(path, info) && info.isDirectory;
}

bool dir_mk(const char* path) {
    return os::MakeDir(path);
}

bool dir_rm(const char* path) {
    return os::RemoveDir(path);
}

bool dir_getwd(std::string& dir) {
    return os::CurrentDir(dir);
}
