// File operations of the simulated camera on POSIX systems.

#include "platform/vyx/simfile.h"
#include "platform/vyx/simflash.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace Vyx::sim {

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot create a temporary file beside " + path + ": " + strerror(errno);
        return false;
    }
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = "cannot write " + temporary + ": " + strerror(errno);
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    bool synced = fsync(fd) == 0;
    int syncError = errno;
    if (close(fd) != 0 || !synced) {
        error = "cannot save " + temporary + ": " + strerror(synced ? errno : syncError);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + path + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself survives a power cut only once the folder is synced.
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool TakeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

} // namespace Vyx::sim
