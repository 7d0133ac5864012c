#pragma once
// Helpers shared by the test executables.

#include <string>

namespace vyx::test {

// What the module puts between a folder and a name (file_join).
#if defined(_WIN32)
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// A fresh empty folder under the system's temporary folder, removed with its contents
// when the object goes. It is alone in a folder of its own: the camera machine seeds a new
// camera's folder from the installations beside its host's folder, which must not be other
// tests'.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path(), kSeparator, name
    std::string File(const std::string& name) const;

private:
    std::string outer; // holds only `path`
    std::string path;
};

// This process's id, as the system tells it.
long CurrentProcessId();

// A name no other test process uses at the same time: prefix, process id and a counter.
// Good for shared-memory segments, which are visible system-wide.
std::string UniqueName(const std::string& prefix);

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Writes bytes to a file (created or truncated); false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// True when the path exists (file or folder).
bool PathExists(const std::string& path);

// The path with every '/' written as kSeparator: how the module writes a path it builds.
std::string Native(std::string path);

// The path of the running test executable.
std::string SelfPath();

// Sets an environment variable of this process, or removes it when `value` is null.
void SetEnvironment(const char* name, const char* value);

} // namespace vyx::test
