#include "host/lintelhost/errlogtail.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

ErrlogTail::ErrlogTail() {
    const char* file = std::getenv("VYX_ERRLOG_FILE");
    if (file == nullptr || *file == '\0' || std::string(file) == "-")
        return;
    path = file;
    std::error_code error;
    start = std::filesystem::file_size(path, error);
    if (error)
        start = 0;
}

void ErrlogTail::EchoNewLines(std::FILE* stream) const {
    if (path.empty())
        return;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    in.seekg(std::streamoff(start));
    std::string line;
    while (std::getline(in, line))
        std::fprintf(stream, "%s\n", line.c_str());
}
