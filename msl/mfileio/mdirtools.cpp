#include "msl/mfileio/mdirtools.h"

#include "msl/mfileio/mfastfile.h"
#include "msl/mfileio/mfileio_os.h"
#include "msl/mfileio/mfileops.h"
#include "platform/trace/merrtrace.h"

#include <algorithm>

namespace os = mfileio_os;

namespace {

std::string TrimTrailingSeparators(std::string path) {
    while (path.size() > 1 && os::IsSeparator(path.back()))
        path.pop_back();
    return path;
}

const std::vector<std::string>* CopyContext(void* context) {
    return static_cast<const std::vector<std::string>*>(context);
}

bool HasOption(const std::vector<std::string>& context, std::size_t index, const char* option) {
    return context.size() > index && context[index] == option;
}

// The path below the source root, moved below the target root.
bool MapToTarget(const std::vector<std::string>& context, const std::string& path,
                 std::string& target) {
    std::string source = TrimTrailingSeparators(context[0]);
    if (path.size() <= source.size() || path.compare(0, source.size(), source) != 0)
        return false;
    std::string rest = path.substr(source.size());
    if (!os::IsSeparator(rest[0]) && !os::IsSeparator(source.back()))
        return false; // "src2/x" is not below "src"
    target = TrimTrailingSeparators(context[1]);
    if (!os::IsSeparator(rest[0]) && !os::IsSeparator(target.back()))
        target += os::Separator();
    target += rest;
    return true;
}

bool MapWithContext(void* context, const std::string& path, std::string& target,
                    const char* operation) {
    const std::vector<std::string>* roots = CopyContext(context);
    if (roots == nullptr || roots->size() < 2) {
        MERRTRACE("%s(): no source and target root given for %s", operation, path.c_str());
        return false;
    }
    if (!MapToTarget(*roots, path, target)) {
        MERRTRACE("%s(): %s does not lie in %s", operation, path.c_str(), (*roots)[0].c_str());
        return false;
    }
    return true;
}

// Directory callback of recursive copies: the matching target directory.
bool create_directory(void* context, const std::string& path) {
    std::string target;
    if (!MapWithContext(context, path, target, "create_directory"))
        return false;
    if (!dir_mk(target.c_str())) {
        MERRTRACE("create_directory(): dir_mk(%s) failed", target.c_str());
        return false;
    }
    return true;
}

// As create_directory, accepting a directory that is already there.
bool create_directory_overwrite(void* context, const std::string& path) {
    std::string target;
    if (!MapWithContext(context, path, target, "create_directory"))
        return false;
    if (dir_exists(target.c_str()))
        return true;
    if (!dir_mk(target.c_str())) {
        MERRTRACE("create_directory(): dir_mk(%s) failed", target.c_str());
        return false;
    }
    return true;
}

bool IsDriveComponent(const std::string& component) {
    return component.size() == 2 && component[1] == ':' && file_is_absolute(component);
}

} // namespace

bool varn::createDirectoryRecursive(const std::string& path) {
    if (dir_exists(path.c_str()))
        return true;

    std::string full;
    if (file_is_absolute(path)) {
        full = path;
    } else {
        if (!dir_getwd(full)) {
            MERRTRACE("%s(): dir_getwd() failed", "varn::createDirectoryRecursive");
            return false;
        }
        full += os::Separator();
        full += path;
    }

    std::vector<std::string> components;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= full.size(); ++i) {
        if (i == full.size() || os::IsSeparator(full[i])) {
            if (i > start)
                components.push_back(full.substr(start, i - start));
            start = i + 1;
        }
    }

    // From the last component to the first, so that each ".." cancels the ordinary
    // component before it.
    std::vector<std::string> kept;
    int pendingUp = 0;
    for (auto it = components.rbegin(); it != components.rend(); ++it) {
        if (*it == ".")
            continue;
        if (*it == "..") {
            ++pendingUp;
            continue;
        }
        if (pendingUp > 0) {
            --pendingUp;
            continue;
        }
        kept.push_back(*it);
    }
    if (pendingUp > 0) {
        MERRTRACE("%s(): Malformed path \"%s\"", "varn::createDirectoryRecursive", path.c_str());
        return false;
    }
    std::reverse(kept.begin(), kept.end());

    // A path from the root keeps its root.
    bool rooted = os::IsSeparator(full[0]);
    std::string built;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0 || rooted)
            built += os::Separator();
        built += kept[i];
        if (i == 0 && !rooted && IsDriveComponent(kept[i]))
            continue; // a drive, not a directory
        if (dir_exists(built.c_str()))
            continue;
        if (!dir_mk(built.c_str())) {
            int error = os::LastError();
            if (dir_exists(built.c_str()))
                continue; // someone else created it meanwhile
            MERRTRACE("createDirectoryRecursive(): dir_mk(%s) failed", built.c_str());
            MERRTRACE("createDirectoryRecursive(): want to create \"%s\"", path.c_str());
            MERRTRACE("createDirectoryRecursive(): system error: [%d] \"%s\"", error,
                      os::ErrorText(error).c_str());
            return false;
        }
    }
    return true;
}

bool iterateDirectory(const std::string& dir, int mode, MDirCallback fileCallback,
                      void* fileContext, MDirCallback dirCallback, void* dirContext) {
    struct Entry {
        std::string name;
        bool isDirectory;
    };
    std::vector<Entry> entries;
    int endError = 0;
    {
        // Listed in full and closed before any callback runs: callbacks may change the
        // directory, and a deep walk keeps only one listing open at a time.
        os::DirSearch search;
        if (!search.Open(dir)) {
            std::string pattern = dir + os::Separator() + "*";
            MERRTRACE("iterateDirectory(): FindFirstFile(%s) == INVALID_HANDLE_VALUE",
                      pattern.c_str());
            return false;
        }
        Entry entry;
        while (search.Next(entry.name, entry.isDirectory))
            entries.push_back(entry);
        endError = search.EndError();
    }
    // Name order makes walks, and everything that picks the first match, the same on
    // every file system.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    std::string prefix = dir;
    if (!prefix.empty() && !os::IsSeparator(prefix.back()))
        prefix += os::Separator();

    bool ok = true;
    auto callDir = [&](const std::string& path) {
        if (dirCallback != nullptr && !dirCallback(dirContext, path)) {
            MERRTRACE("iterateDirectory(): directory callback failed for %s", path.c_str());
            ok = false;
        }
    };
    auto walk = [&](const std::string& path) {
        if (!iterateDirectory(path, mode, fileCallback, fileContext, dirCallback, dirContext))
            ok = false;
    };
    for (const Entry& entry : entries) {
        std::string path = prefix + entry.name;
        if (!entry.isDirectory) {
            if (fileCallback != nullptr && !fileCallback(fileContext, path)) {
                MERRTRACE("iterateDirectory(): file callback failed for %s", path.c_str());
                ok = false;
            }
        } else if (mode == MDIR_CONTENTS_FIRST) {
            walk(path);
            callDir(path);
        } else if (mode == MDIR_DIRECTORY_FIRST) {
            callDir(path);
            walk(path);
        } else {
            callDir(path);
        }
    }
    if (endError != 0) {
        MERRTRACE("iterateDirectory(): GetLastError() != ERROR_NO_MORE_FILES");
        ok = false;
    }
    return ok;
}

bool varn::copyFile(void* copyContext, const std::string& path) {
    std::string target;
    if (!MapWithContext(copyContext, path, target, "copyFile"))
        return false;
    const std::vector<std::string>& context = *CopyContext(copyContext);
    int mode = HasOption(context, 3, "overwrite") ? MFASTFILE_MODE_OVERWRITE : MFASTFILE_MODE_NEW;
    if (!MFastFile_CopyFile(path.c_str(), target.c_str(), mode)) {
        MERRTRACE("copyFile(): MFastFile_CopyFile(%s, %s) failed", path.c_str(), target.c_str());
        return false;
    }
    if (HasOption(context, 2, "keep")) {
        os::FileInfo info;
        if (!os::Stat(path.c_str(), info)) {
            MERRTRACE("%s(): stat(%s) failed: %s", "varn::copyFile", path.c_str(),
                      os::ErrorText(os::LastError()).c_str());
            return false;
        }
        if (!os::SetPermissions(target.c_str(), info.permissions)) {
            MERRTRACE("%s(): chmod(%s) failed: %s", "varn::copyFile", target.c_str(),
                      os::ErrorText(os::LastError()).c_str());
            return false;
        }
    }
    return true;
}

bool copy_directory(const std::string& source, const std::string& target, bool recursive,
                    bool keepPermissions, bool overwrite) {
    if (recursive && file_is_subdirectory(target.c_str(), source.c_str())) {
        MERRTRACE("copy_directory(): cannot recursively copy directories because 'target' is a "
                  "subdirectory of 'source' (%s,%s).",
                  target.c_str(), source.c_str());
        return false;
    }
    std::vector<std::string> context{source, target, keepPermissions ? "keep" : "discard"};
    if (overwrite)
        context.push_back("overwrite");
    MDirCallback dirCallback = nullptr;
    if (recursive)
        dirCallback = overwrite ? create_directory_overwrite : create_directory;
    return iterateDirectory(source, recursive ? MDIR_DIRECTORY_FIRST : MDIR_NO_RECURSION,
                            varn::copyFile, &context, dirCallback, &context);
}

bool copyDirectory(const std::string& source, const std::string& target) {
    if (dir_exists(target.c_str())) {
        MERRTRACE("copyDirectory(): directory \"%s\" already exist", target.c_str());
        return false;
    }
    if (!dir_mk(target.c_str())) {
        MERRTRACE("copyDirectory(): dir_mk(%s) failed", target.c_str());
        return false;
    }
    return copy_directory(source, target, false, true, false);
}

bool deleteFile(void* extensions, const std::string& path) {
    if (const auto* list = static_cast<const std::vector<std::string>*>(extensions)) {
        std::size_t dot = path.rfind('.');
        std::size_t base = path.size();
        while (base > 0 && !os::IsSeparator(path[base - 1]))
            --base;
        if (dot == std::string::npos || dot < base)
            return true; // no extension: not one of the list
        std::string extension = path.substr(dot);
        if (std::find(list->begin(), list->end(), extension) == list->end())
            return true;
    }
    if (!file_remove(path.c_str())) {
        MERRTRACE("deleteFile(): file_remove(%s) failed ", path.c_str());
        return false;
    }
    return true;
}
