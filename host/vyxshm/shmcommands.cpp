#include "host/vyxshm/shmcommands.h"

#include "host/vyxshm/segmentkind.h"
#include "host/vyxshm/shmmappers.h"
#include "host/vyxshm/shmsegment.h"
#include "msl/mipc/mmemblockringbuffer.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFailed = 1;

int Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
int Fail(const char* format, ...) {
    std::fputs("vyxshm: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return kFailed;
}

// The blocks in use and the reader's operations, through the variant's functions.
uint64_t NumUsed(const ShmSegment& segment, const RingInfo& ring) {
    return ring.variant == 64 ? MMemBlockRingBuffer_GetNumUsed(segment.base)
                              : MMemBlockRingBuffer32_GetNumUsed(segment.base);
}

const uint8_t* ReadBlock(const ShmSegment& segment, const RingInfo& ring, uint64_t number) {
    void* block = ring.variant == 64
                      ? MMemBlockRingBuffer_GetReadPointer(segment.base, number)
                      : MMemBlockRingBuffer32_GetReadPointer(segment.base, uint32_t(number));
    return static_cast<const uint8_t*>(block);
}

bool ReleaseBlock(const ShmSegment& segment, const RingInfo& ring, uint64_t number) {
    return (ring.variant == 64
                ? MMemBlockRingBuffer_Release(segment.base, number)
                : MMemBlockRingBuffer32_Release(segment.base, uint32_t(number))) == 1;
}

bool CheckName(const std::string& name, int* status) {
    if (ShmSegment_IsValidName(name))
        return true;
    *status = Fail("\"%s\" is not a segment name", name.c_str());
    return false;
}

int OpenFailed(const std::string& name, int error) {
    return error == ENOENT ? Fail("no shared memory segment \"%s\"", name.c_str())
                           : Fail("cannot open \"%s\": %s", name.c_str(), std::strerror(error));
}

// Opens NAME and checks it holds a ring buffer; prints the error and returns false if not.
bool OpenRing(const std::string& name, bool writable, ShmSegment* segment, RingInfo* ring,
              int* status) {
    if (!CheckName(name, status))
        return false;
    if (int error = segment->Open(name, writable)) {
        *status = OpenFailed(name, error);
        return false;
    }
    std::string why;
    if (!SegmentKind_InspectRing(segment->base, segment->size, ring, &why)) {
        *status = Fail("\"%s\" holds no usable ring buffer: %s", name.c_str(), why.c_str());
        return false;
    }
    return true;
}

// Checks that block `number` exists and holds data; prints the error if not.
bool CheckBlock(const std::string& name, const RingInfo& ring, const ShmSegment& segment,
                uint64_t number, int* status) {
    if (number < 1 || number > ring.blocks) {
        *status = Fail("block %" PRIu64 " of \"%s\" is out of range (1 to %" PRIu64 ")", number,
                       name.c_str(), ring.blocks);
        return false;
    }
    if (ReadBlock(segment, ring, number) == nullptr) {
        *status = Fail("block %" PRIu64 " of \"%s\" is free", number, name.c_str());
        return false;
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

// Writes the bytes to a temporary file beside `path` and renames it into place, so a failed
// write never leaves a half-written file. 0 or errno.
int SaveFile(const std::string& path, const uint8_t* bytes, size_t count) {
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0)
        return errno;
    int error = 0;
    if (!WriteAll(fd, bytes, count) || fsync(fd) != 0)
        error = errno != 0 ? errno : EIO;
    if (close(fd) != 0 && error == 0)
        error = errno;
    // mkstemp makes the file private; give it the mode a plain new file would have.
    mode_t mask = umask(0);
    umask(mask);
    if (error == 0 && chmod(temporary.c_str(), 0666 & ~mask) != 0)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}

// The kind's own details for a `list` line, after "kind=...".
std::string Details(const ShmSegment& segment, const SegmentDetails& details) {
    char text[200] = "";
    switch (details.kind) {
    case SegmentKind::Ring64:
    case SegmentKind::Ring32:
        std::snprintf(text, sizeof text, " blocks=%" PRIu64 " block_size=%" PRIu64 " used=%" PRIu64,
                      details.ring.blocks, details.ring.blockSize, NumUsed(segment, details.ring));
        break;
    case SegmentKind::Event:
        std::snprintf(text, sizeof text, " signalled=%u", details.eventState);
        break;
    case SegmentKind::LineFifo:
        std::snprintf(text, sizeof text, " line_length=%" PRIu64 " lines=%" PRIu64,
                      details.lineLength, details.lines);
        break;
    case SegmentKind::Unknown:
        break;
    }
    return text;
}

// stat of /dev/shm/NAME: 0 or errno.
int StatSegment(const std::string& name, struct stat* info) {
    return stat(("/dev/shm/" + name).c_str(), info) == 0 ? 0 : errno;
}

} // namespace

int ShmCommand_List() {
    std::vector<std::string> names;
    if (!ShmSegment_ListNames(names))
        return Fail("cannot read /dev/shm: %s", std::strerror(errno));
    ShmMappers mappers;
    mappers.Scan();
    for (const std::string& name : names) {
        struct stat info {};
        if (StatSegment(name, &info) != 0)
            continue; // removed meanwhile
        ShmSegment segment;
        SegmentDetails details;
        // A segment this user may not read is listed all the same, as of unknown kind.
        if (segment.Open(name, false) == 0)
            details = SegmentKind_Classify(segment.base, segment.size);
        std::printf("%s size=%lld kind=%s%s processes=%s\n", name.c_str(),
                    static_cast<long long>(info.st_size), SegmentKind_Name(details.kind),
                    Details(segment, details).c_str(),
                    ShmMappers_Text(mappers.Of(info.st_dev, info.st_ino)).c_str());
    }
    if (mappers.Unreadable() > 0)
        std::fprintf(stderr,
                     "vyxshm: note: %d process(es) whose maps could not be read are not shown\n",
                     mappers.Unreadable());
    return 0;
}

int ShmCommand_Info(const std::string& name) {
    ShmSegment segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, false, &segment, &ring, &status))
        return status;
    uint64_t used = NumUsed(segment, ring);
    std::printf("name: %s\nsize: %zu\nvariant: %d\nactive: %u\nblock_size: %" PRIu64
                "\nblocks: %" PRIu64 "\nwrite_index: %" PRIu64 "\nused: %" PRIu64 "\nfree: %" PRIu64
                "\n",
                name.c_str(), segment.size, ring.variant, ring.active, ring.blockSize, ring.blocks,
                ring.writeIndex, used, ring.blocks - used);
    return 0;
}

int ShmCommand_Read(const std::string& name, uint64_t number, const std::string& output,
                    bool release) {
    ShmSegment segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, release, &segment, &ring, &status) ||
        !CheckBlock(name, ring, segment, number, &status))
        return status;
    const uint8_t* block = ReadBlock(segment, ring, number);
    if (!output.empty()) {
        if (int error = SaveFile(output, block, ring.blockSize))
            return Fail("cannot write \"%s\": %s", output.c_str(), std::strerror(error));
    } else if (!WriteAll(STDOUT_FILENO, block, ring.blockSize)) {
        return Fail("cannot write to standard output: %s", std::strerror(errno));
    }
    // Released only once its bytes are safely out.
    if (release && !ReleaseBlock(segment, ring, number))
        return Fail("block %" PRIu64 " of \"%s\" was released meanwhile", number, name.c_str());
    return 0;
}

int ShmCommand_Release(const std::string& name, uint64_t number) {
    ShmSegment segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, true, &segment, &ring, &status) ||
        !CheckBlock(name, ring, segment, number, &status))
        return status;
    if (!ReleaseBlock(segment, ring, number))
        return Fail("block %" PRIu64 " of \"%s\" is free", number, name.c_str());
    return 0;
}

int ShmCommand_Remove(const std::string& name, bool force) {
    int status = 0;
    if (!CheckName(name, &status))
        return status;
    struct stat info {};
    if (int error = StatSegment(name, &info))
        return OpenFailed(name, error);
    ShmMappers mappers;
    mappers.Scan();
    const std::vector<ShmMapper> users = mappers.Of(info.st_dev, info.st_ino);
    if (!users.empty() && !force)
        return Fail("\"%s\" is mapped by %s; not removed (--force removes the name anyway)",
                    name.c_str(), ShmMappers_Text(users).c_str());
    if (shm_unlink(("/" + name).c_str()) != 0)
        return Fail("cannot remove \"%s\": %s", name.c_str(), std::strerror(errno));
    return 0;
}

bool ShmCommand_ParseBlockNumber(const std::string& text, uint64_t* number) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    *number = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        *number = UINT64_MAX;
    return true;
}
