#pragma once
// Small file and directory operations on byte-string path names.
//
// Only file_type and file_rename report failures to the error trace; the others are queries
// or leave the system error (errno) for their caller's message.

#include <cstdint>
#include <string>
#include <string_view>

// 'd' for a directory, ' ' for a hidden or system entry (a dot file, a device, pipe or
// socket), '-' for any other file, -1 when the name does not exist.
int file_type(const char* name);
// -1 when absent or not readable, 0 for a directory, else the size in bytes.
std::int64_t file_size(const char* name);
// The name exists, as a file or a directory.
bool file_exists(const char* name);
// Deletes a file.
bool file_remove(const char* name);
// Renames, replacing an existing target file.
bool file_rename(const char* from, const char* to);

// The path up to and including its last separator; false when it has none.
bool file_dirname(std::string_view path, std::string& dir);
// `name` inside `dir`: dir, the platform's separator ('/' on Linux, '\\' on Windows), name;
// without a second separator when `dir` ends in '/' or '\\' (directories taken from Windows
// configurations do), and `name` alone when `dir` is empty. Every path the system builds from
// a folder and a name goes through here.
std::string file_join(std::string_view dir, std::string_view name);

// Starts with a separator, or with a drive letter and a colon.
bool file_is_absolute(std::string_view path);
// Both paths exist, and `inner` lies below `outer` (symbolic links resolved).
bool file_is_subdirectory(const char* inner, const char* outer);

bool dir_exists(const char* path);
// Creates one directory.
bool dir_mk(const char* path);
// Removes an empty directory.
bool dir_rm(const char* path);
// The current directory.
bool dir_getwd(std::string& dir);
