#include "host/lintelhost/errlogtap.h"

#include "host/lintelhost/hostplatform.h"

#include <cstdlib>
#include <cstring>

namespace {

// The scratch log gives its memory back once this much of it has been read.
constexpr uint64_t kTrimEvery = 1u << 20;

bool SeekTo(std::FILE* file, uint64_t offset) {
#if defined(_WIN32)
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

uint64_t EndOf(std::FILE* file) {
#if defined(_WIN32)
    return _fseeki64(file, 0, SEEK_END) == 0 ? static_cast<uint64_t>(_ftelli64(file)) : 0;
#else
    return fseeko(file, 0, SEEK_END) == 0 ? static_cast<uint64_t>(ftello(file)) : 0;
#endif
}

} // namespace

ErrlogTap::~ErrlogTap() {
    if (file != nullptr)
        std::fclose(file);
}

void ErrlogTap::Start(const std::string& hostDirectory) {
    const char* named = std::getenv("VYX_ERRLOG_FILE");
    std::string path;
    if (named != nullptr && *named != '\0' && std::strcmp(named, "-") != 0) {
        path = named;
        // The module opens it for appending: make sure there is something to read.
        if (std::FILE* touch = std::fopen(named, "ab"))
            std::fclose(touch);
    } else {
        path = HostPlatform_ScratchLog(hostDirectory);
        std::FILE* fresh = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
        if (fresh == nullptr)
            return; // the log stays on standard error, without reasons
        std::fclose(fresh);
        HostPlatform_SetEnvironment("VYX_ERRLOG_FILE", path);
        echo = true;
    }
    file = std::fopen(path.c_str(), "rb");
    if (file != nullptr && !echo)
        start = EndOf(file); // what an earlier run wrote is not ours
}

std::vector<ErrlogLine> ErrlogTap::Take() {
    std::vector<ErrlogLine> lines;
    if (file == nullptr)
        return lines;
    char chunk[4096];
    size_t got = 0;
    // A seek drops what the stream buffered and its end-of-file state, so that what the
    // module wrote since is read (Windows' run-time would otherwise answer the old end).
    if (!SeekTo(file, start + consumed))
        return lines;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        consumed += got;
        partial.append(chunk, got);
    }
    size_t start = 0;
    for (size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
        // The module's run-time may write text-mode line ends (Windows): the CR goes too.
        const size_t stop = end > start && partial[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(Parse(partial.substr(start, stop - start)));
        if (echo)
            std::fprintf(stderr, "%s\n", lines.back().raw.c_str());
    }
    partial.erase(0, start);
    if (echo && !lines.empty())
        std::fflush(stderr);
    if (echo && consumed - trimmed >= kTrimEvery) {
        trimmed = consumed - partial.size();
        HostPlatform_TrimScratchLog(trimmed);
    }
    return lines;
}

ErrlogLine ErrlogTap::Parse(const std::string& raw) {
    ErrlogLine line;
    line.raw = raw;
    line.text = raw;
    const size_t open = raw.find(" [");
    const size_t close = open == std::string::npos ? open : raw.find("] ", open);
    if (close == std::string::npos)
        return line;
    char* end = nullptr;
    const long thread = std::strtol(raw.c_str() + open + 2, &end, 10);
    if (end != raw.c_str() + close)
        return line;
    const size_t kind = close + 2;
    const size_t text = raw.find(' ', kind);
    if (text == std::string::npos)
        return line;
    line.thread = thread;
    line.text = raw.substr(text + 1);
    // The place the line was written from closes it.
    const size_t place = line.text.rfind(" (");
    if (place != std::string::npos && line.text.back() == ')')
        line.text.erase(place);
    return line;
}
