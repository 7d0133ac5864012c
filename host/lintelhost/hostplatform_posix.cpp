#include "host/lintelhost/hostplatform.h"

#include <csignal>
#include <filesystem>
#include <pthread.h>
#include <system_error>

void HostPlatform_IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::string HostPlatform_ProgramFolder() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

void HostPlatform_NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}
