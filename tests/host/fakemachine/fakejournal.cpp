#include "tests/host/fakemachine/fakejournal.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex journalLock;
std::string journalPath;

// Unloading the module runs this destructor: the last line of every run.
struct UnloadMarker {
    ~UnloadMarker() { FakeJournal_Write("module unloaded"); }
} unloadMarker;

} // namespace

void FakeJournal_SetDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> guard(journalLock);
    journalPath = directory + "/fakemachine.log";
}

void FakeJournal_Write(const char* format, ...) {
    std::lock_guard<std::mutex> guard(journalLock);
    if (journalPath.empty())
        return;
    std::FILE* file = std::fopen(journalPath.c_str(), "a");
    if (file == nullptr)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fputc('\n', file);
    std::fclose(file);
}
