#include "host/vyxshm/shmcommands.h"

#include "host/vyxshm/segmentkind.h"
#include "host/vyxshm/shmmappers.h"
#include "host/vyxshm/shmsegment.h"
#include "host/vyxshm/vyxshmos.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mutil/stlstring.h"
#include "platform/trace/printfformat.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kFailed = 1;

int Fail(const char* format, ...) VYX_PRINTF_FORMAT(1, 2);
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
uint64_t NumUsed(const vyxshm_os::Mapping& segment, const RingInfo& ring) {
    return ring.variant == 64 ? MMemBlockRingBuffer_GetNumUsed(segment.base)
                              : MMemBlockRingBuffer32_GetNumUsed(segment.base);
}

const uint8_t* ReadBlock(const vyxshm_os::Mapping& segment, const RingInfo& ring, uint64_t number) {
    void* block = ring.variant == 64
                      ? MMemBlockRingBuffer_GetReadPointer(segment.base, number)
                      : MMemBlockRingBuffer32_GetReadPointer(segment.base, uint32_t(number));
    return static_cast<const uint8_t*>(block);
}

bool ReleaseBlock(const vyxshm_os::Mapping& segment, const RingInfo& ring, uint64_t number) {
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
    return vyxshm_os::NotFound(error)
               ? Fail("no shared memory segment \"%s\"", name.c_str())
               : Fail("cannot open \"%s\": %s", name.c_str(), vyxshm_os::ErrorText(error).c_str());
}

// Opens NAME and checks it holds a ring buffer; prints the error and returns false if not.
bool OpenRing(const std::string& name, bool writable, vyxshm_os::Mapping* segment, RingInfo* ring,
              int* status, bool populate = false) {
    if (!CheckName(name, status))
        return false;
    if (int error = segment->Open(name, writable, populate)) {
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
bool CheckBlock(const std::string& name, const RingInfo& ring, const vyxshm_os::Mapping& segment,
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

// The kind's own details for a `list` line, after "kind=...".
std::string Details(const vyxshm_os::Mapping& segment, const SegmentDetails& details) {
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

// A name as `list` shows it: one word on its line, whatever another program called its segment.
std::string ListedName(const std::string& name) {
    std::string listed = stl_escape_name(name);
    stl_string_replace_all(listed, " ", "\\x20");
    return listed;
}

} // namespace

int ShmCommand_List() {
    std::vector<std::string> names;
    std::string error;
    if (!vyxshm_os::ListNames(names, error))
        return Fail("%s", error.c_str());
    std::sort(names.begin(), names.end());
    ShmMappers mappers;
    mappers.Scan();
    for (const std::string& name : names) {
        uint64_t size = 0;
        vyxshm_os::SegmentId id;
        if (vyxshm_os::Stat(name, &size, &id) != 0)
            continue; // removed meanwhile
        vyxshm_os::Mapping segment;
        SegmentDetails details;
        // A segment this user may not read is listed all the same, as of unknown kind.
        if (segment.Open(name, false) == 0)
            details = SegmentKind_Classify(segment.base, segment.size);
        std::printf("%s size=%" PRIu64 " kind=%s%s processes=%s\n", ListedName(name).c_str(), size,
                    SegmentKind_Name(details.kind), Details(segment, details).c_str(),
                    mappers.Text(id).c_str());
    }
    if (!mappers.Known())
        std::fprintf(stderr, "vyxshm: note: %s\n", mappers.Note().c_str());
    else if (mappers.Unreadable() > 0)
        std::fprintf(stderr,
                     "vyxshm: note: %d process(es) whose maps could not be read are not shown\n",
                     mappers.Unreadable());
    return 0;
}

int ShmCommand_Info(const std::string& name) {
    vyxshm_os::Mapping segment;
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
    vyxshm_os::Mapping segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, release, &segment, &ring, &status, true) ||
        !CheckBlock(name, ring, segment, number, &status))
        return status;
    const uint8_t* block = ReadBlock(segment, ring, number);
    if (!output.empty()) {
        if (int error = vyxshm_os::SaveFile(output, block, ring.blockSize))
            return Fail("cannot write \"%s\": %s", output.c_str(),
                        vyxshm_os::ErrorText(error).c_str());
    } else if (std::fwrite(block, 1, ring.blockSize, stdout) != ring.blockSize ||
               std::fflush(stdout) != 0) {
        return Fail("cannot write to standard output");
    }
    // Released only once its bytes are safely out.
    if (release && !ReleaseBlock(segment, ring, number))
        return Fail("block %" PRIu64 " of \"%s\" was released meanwhile", number, name.c_str());
    return 0;
}

int ShmCommand_Release(const std::string& name, uint64_t number) {
    vyxshm_os::Mapping segment;
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
    uint64_t size = 0;
    vyxshm_os::SegmentId id;
    if (int error = vyxshm_os::Stat(name, &size, &id))
        return OpenFailed(name, error);
    std::string why;
    if (!vyxshm_os::CanRemoveNames(why))
        return Fail("cannot remove \"%s\": %s", name.c_str(), why.c_str());
    ShmMappers mappers;
    mappers.Scan();
    if (!mappers.Of(id).empty() && !force)
        return Fail("\"%s\" is mapped by %s; not removed (--force removes the name anyway)",
                    name.c_str(), mappers.Text(id).c_str());
    if (int error = vyxshm_os::RemoveName(name))
        return Fail("cannot remove \"%s\": %s", name.c_str(), vyxshm_os::ErrorText(error).c_str());
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
