#include "host/vyxview/previewsource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vyxview {

namespace {

constexpr std::uint32_t kEventMagic = 0x54564556;
constexpr std::size_t kEventSize = 64;

// Maps the whole object `name` (in /dev/shm); null with `error` set when it cannot.
void* MapObject(const std::string& name, bool writable, std::size_t& size, std::uint64_t* inode,
                std::string& error) {
    const int fd = shm_open(("/" + name).c_str(), writable ? O_RDWR : O_RDONLY, 0);
    if (fd < 0) {
        error = errno == ENOENT ? "no shared-memory object \"" + name + "\" (/dev/shm/" + name +
                                      "): is the preview memory running?"
                                : "cannot open \"" + name + "\": " + std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    void* view = MAP_FAILED;
    if (fstat(fd, &status) == 0 && status.st_size > 0) {
        size = std::size_t(status.st_size);
        view =
            mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    }
    const int failure = errno;
    close(fd);
    if (view == MAP_FAILED) {
        error = "cannot map \"" + name + "\": " +
                (status.st_size == 0 ? std::string("it is empty") : std::strerror(failure));
        return nullptr;
    }
    if (inode != nullptr)
        *inode = status.st_ino;
    return view;
}

std::atomic_ref<std::uint32_t> StateWord(std::uint8_t* event) {
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(event + 4));
}

} // namespace

PreviewSource::~PreviewSource() {
    if (picture != nullptr)
        munmap(const_cast<std::uint8_t*>(picture), pictureSize);
    if (event != nullptr)
        munmap(event, kEventSize);
}

bool PreviewSource::Open(const std::string& name, std::string& error) {
    eventName = name + ".event";
    std::size_t size = 0;
    void* view = MapObject(eventName, true, size, &eventInode, error);
    if (view == nullptr)
        return false;
    std::uint32_t magic = 0;
    if (size >= kEventSize)
        std::memcpy(&magic, view, sizeof magic);
    if (magic != kEventMagic) {
        munmap(view, size);
        error = "\"" + eventName + "\" is no preview memory's event";
        return false;
    }
    event = static_cast<std::uint8_t*>(view);
    view = MapObject(name, false, pictureSize, nullptr, error);
    picture = static_cast<const std::uint8_t*>(view);
    return picture != nullptr;
}

bool PreviewSource::Signalled() const {
    // Acquire: the picture the module wrote before it stored 1 is seen whole.
    return StateWord(event).load(std::memory_order_acquire) == 1;
}

void PreviewSource::Reset() {
    // Release: the copy of the picture is done before the module may write the next.
    StateWord(event).store(0, std::memory_order_release);
}

bool PreviewSource::StillOffered() const {
    struct stat status {};
    const int fd = shm_open(("/" + eventName).c_str(), O_RDONLY, 0);
    if (fd < 0)
        return false;
    const bool same = fstat(fd, &status) == 0 && std::uint64_t(status.st_ino) == eventInode;
    close(fd);
    return same;
}

} // namespace vyxview
