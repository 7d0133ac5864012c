#pragma once
// Directory tools: recursive creation, walking a tree with callbacks, and the callbacks that
// copy and clean up directories.

#include <string>
#include <vector>

// Callback of a directory walk: gets its context and the full path of the entry. False marks
// a failure; the walk goes on and reports it in its result.
using MDirCallback = bool (*)(void* context, const std::string& path);

// Recursion modes of iterateDirectory.
enum : int {
    MDIR_NO_RECURSION = 0,    // subdirectories are reported, not entered
    MDIR_CONTENTS_FIRST = 1,  // a subdirectory's contents, then the subdirectory (deletes)
    MDIR_DIRECTORY_FIRST = 2, // a subdirectory, then its contents (copies)
};

namespace varn {

// All directories of the path exist afterwards. "." and ".." are resolved first; a relative
// path is taken from the current directory.
bool createDirectoryRecursive(const std::string& path);

// File callback of directory copies. The context is a std::vector<std::string>: source root,
// target root, "keep" (give the copy the source's permission bits) or "discard", and
// optionally "overwrite" (replace existing target files; without it they are an error).
// The file's path below the source root names the copy below the target root.
bool copyFile(void* copyContext, const std::string& path);

} // namespace varn

// Calls fileCallback for every file and dirCallback for every subdirectory of `dir`, in
// name order, "dir/name" as the path; null callbacks are skipped. Symbolic links count as
// files, so a walk never leaves the tree. False when the directory cannot be listed or any
// callback or sub-walk failed.
bool iterateDirectory(const std::string& dir, int mode, MDirCallback fileCallback,
                      void* fileContext, MDirCallback dirCallback, void* dirContext);

// Copies the files of `source` into the existing directory `target`; with `recursive` the
// subdirectories too (refused when the target lies inside the source).
bool copy_directory(const std::string& source, const std::string& target, bool recursive,
                    bool keepPermissions, bool overwrite);

// Creates `target`, which must not exist, and copies the files directly inside `source` into
// it with their permission bits; subdirectories are not copied.
bool copyDirectory(const std::string& source, const std::string& target);

// File callback of directory clean-ups. The context is null (delete every file) or a
// std::vector<std::string> of extensions with their leading dot (delete only files whose
// extension, from the last '.', is one of them; leave the others and succeed).
bool deleteFile(void* extensions, const std::string& path);
