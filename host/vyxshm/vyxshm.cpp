// vyxshm: lists, inspects, reads and releases the blocks of the block ring buffers that the
// camera module keeps in shared memory (its image FIFOs). It finds its way through a segment
// by the byte layout alone and checks that layout against the segment's size before it
// touches a block, so a damaged or foreign segment is reported, never read out of bounds.

#include "host/vyxshm/vyxshmos.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemblockringbufferlayout.h"
#include "platform/trace/printfformat.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace rb = msl::ringbuffer;

const char kUsage[] =
    "usage: vyxshm list\n"
    "       vyxshm info NAME\n"
    "       vyxshm read NAME N [-o FILE] [--release]\n"
    "       vyxshm release NAME N\n"
    "\n"
    "  list     one line per shared-memory segment that holds a block ring buffer\n"
    "  info     the ring buffer's header and counts as 'key: value' lines\n"
    "  read     block N (1-based) to FILE or standard output; --release frees it afterwards\n"
    "  release  frees block N\n"
    "\n"
    "Exit status: 0 success, 1 failure (nothing is changed), 2 usage error.\n";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int Usage(const char* problem) {
    std::fprintf(stderr, "vyxshm: %s\n%s", problem, kUsage);
    return kUsageError;
}

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

using Segment = vyxshm_os::Mapping;

// What the header of a usable ring buffer says.
struct RingInfo {
    int variant = 0; // 64 or 32
    unsigned active = 0;
    uint64_t blockSize = 0;
    uint64_t blocks = 0;
    uint64_t writeIndex = 0;
    uint64_t lockOffset = 0;
};

// Reads and checks the header against the segment; on failure `why` says what is wrong.
bool Inspect(const Segment& segment, RingInfo* ring, std::string* why) {
    const uint8_t* base = segment.base;
    size_t size = segment.size;
    char text[160];
    if (base == nullptr || size < rb::kHeaderSize32) {
        *why = "the segment is smaller than a ring buffer header";
        return false;
    }
    size_t header, word;
    if (base[0] == rb::kSizeofSizeT64 && size < rb::kHeaderSize64) {
        *why = "the segment is smaller than a ring buffer header";
        return false;
    }
    if (base[0] == rb::kSizeofSizeT64) {
        rb::Header64 h;
        std::memcpy(&h, base, sizeof h);
        *ring = {64, h.active, h.block_size, h.num_entries, h.write_index, h.locked_array_offset};
        header = rb::kHeaderSize64;
        word = rb::kLockWord64;
    } else if (base[0] == rb::kSizeofSizeT32) {
        rb::Header32 h;
        std::memcpy(&h, base, sizeof h);
        *ring = {32, h.active, h.block_size, h.num_entries, h.write_index, h.locked_array_offset};
        header = rb::kHeaderSize32;
        word = rb::kLockWord32;
    } else {
        std::snprintf(text, sizeof text, "its first byte is %u, not 8 or 4", unsigned(base[0]));
        *why = text;
        return false;
    }
    if (ring->active > 1) {
        std::snprintf(text, sizeof text, "its active byte is %u", ring->active);
        *why = text;
        return false;
    }
    if (ring->blockSize == 0 || ring->blocks == 0) {
        *why = "it has no blocks";
        return false;
    }
    if (ring->blocks > (size - header) / ring->blockSize) {
        std::snprintf(text, sizeof text,
                      "%" PRIu64 " blocks of %" PRIu64 " bytes do not fit %zu bytes", ring->blocks,
                      ring->blockSize, size);
        *why = text;
        return false;
    }
    uint64_t blocksEnd = header + ring->blocks * ring->blockSize;
    if (ring->lockOffset < blocksEnd || ring->lockOffset - blocksEnd >= word ||
        ring->lockOffset % word != 0) {
        std::snprintf(text, sizeof text,
                      "its lock array offset %" PRIu64 " does not follow the blocks (end %" PRIu64
                      ")",
                      ring->lockOffset, blocksEnd);
        *why = text;
        return false;
    }
    if (ring->blocks > (size - ring->lockOffset) / word) {
        std::snprintf(text, sizeof text, "its lock array reaches beyond the segment's %zu bytes",
                      size);
        *why = text;
        return false;
    }
    return true;
}

// The blocks in use and the reader's operations, through the variant's functions.
uint64_t NumUsed(const Segment& segment, const RingInfo& ring) {
    return ring.variant == 64 ? MMemBlockRingBuffer_GetNumUsed(segment.base)
                              : MMemBlockRingBuffer32_GetNumUsed(segment.base);
}

const uint8_t* ReadBlock(const Segment& segment, const RingInfo& ring, uint64_t number) {
    void* block = ring.variant == 64
                      ? MMemBlockRingBuffer_GetReadPointer(segment.base, number)
                      : MMemBlockRingBuffer32_GetReadPointer(segment.base, uint32_t(number));
    return static_cast<const uint8_t*>(block);
}

bool ReleaseBlock(const Segment& segment, const RingInfo& ring, uint64_t number) {
    return (ring.variant == 64
                ? MMemBlockRingBuffer_Release(segment.base, number)
                : MMemBlockRingBuffer32_Release(segment.base, uint32_t(number))) == 1;
}

// Segment names are given without the leading '/' of the POSIX object, but one is accepted.
std::string SegmentName(const char* argument) {
    return argument[0] == '/' ? argument + 1 : argument;
}

// Opens NAME and checks it holds a ring buffer; prints the error and returns false if not.
bool OpenRing(const std::string& name, bool writable, Segment* segment, RingInfo* ring,
              int* status) {
    if (name.empty() || name.find('/') != std::string::npos) {
        *status = Fail("\"%s\" is not a segment name", name.c_str());
        return false;
    }
    if (int error = segment->Open(name, writable)) {
        *status = vyxshm_os::NotFound(error) ? Fail("no shared memory segment \"%s\"", name.c_str())
                                             : Fail("cannot open \"%s\": %s", name.c_str(),
                                                    vyxshm_os::ErrorText(error).c_str());
        return false;
    }
    std::string why;
    if (!Inspect(*segment, ring, &why)) {
        *status = Fail("\"%s\" holds no usable ring buffer: %s", name.c_str(), why.c_str());
        return false;
    }
    return true;
}

// A block number as typed: false for anything but decimal digits.
bool ParseNumber(const char* text, uint64_t* number) {
    if (*text == '\0' || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    errno = 0;
    *number = std::strtoull(text, nullptr, 10);
    if (errno == ERANGE)
        *number = UINT64_MAX; // out of every range, reported as such
    return true;
}

// Checks that block `number` exists and holds data; prints the error if not.
bool CheckBlock(const std::string& name, const RingInfo& ring, const Segment& segment,
                uint64_t number, const char* typed, int* status) {
    if (number < 1 || number > ring.blocks) {
        *status = Fail("block %s of \"%s\" is out of range (1 to %" PRIu64 ")", typed, name.c_str(),
                       ring.blocks);
        return false;
    }
    if (ReadBlock(segment, ring, number) == nullptr) {
        *status = Fail("block %" PRIu64 " of \"%s\" is free", number, name.c_str());
        return false;
    }
    return true;
}

bool WriteStandardOutput(const uint8_t* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, stdout) == count && std::fflush(stdout) == 0;
}

int List() {
    std::vector<std::string> names;
    std::string error;
    if (!vyxshm_os::ListNames(names, error))
        return Fail("%s", error.c_str());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        Segment segment;
        RingInfo ring;
        std::string why;
        if (segment.Open(name, false) != 0 || !Inspect(segment, &ring, &why))
            continue; // not readable, or not a ring buffer: not ours to list
        std::printf("%s variant=%d blocks=%" PRIu64 " block_size=%" PRIu64 " used=%" PRIu64 "\n",
                    name.c_str(), ring.variant, ring.blocks, ring.blockSize,
                    NumUsed(segment, ring));
    }
    return 0;
}

int Info(const std::string& name) {
    Segment segment;
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

int Read(const std::string& name, const char* typed, const char* output, bool release) {
    uint64_t number = 0;
    if (!ParseNumber(typed, &number))
        return Usage("the block number must be a positive decimal number");
    Segment segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, release, &segment, &ring, &status) ||
        !CheckBlock(name, ring, segment, number, typed, &status))
        return status;
    const uint8_t* block = ReadBlock(segment, ring, number);
    if (output != nullptr) {
        if (int error = vyxshm_os::SaveFile(output, block, ring.blockSize))
            return Fail("cannot write \"%s\": %s", output, vyxshm_os::ErrorText(error).c_str());
    } else if (!WriteStandardOutput(block, ring.blockSize)) {
        return Fail("cannot write to standard output: %s", std::strerror(errno));
    }
    // Released only once its bytes are safely out.
    if (release && !ReleaseBlock(segment, ring, number))
        return Fail("block %" PRIu64 " of \"%s\" was released meanwhile", number, name.c_str());
    return 0;
}

int Release(const std::string& name, const char* typed) {
    uint64_t number = 0;
    if (!ParseNumber(typed, &number))
        return Usage("the block number must be a positive decimal number");
    Segment segment;
    RingInfo ring;
    int status = 0;
    if (!OpenRing(name, true, &segment, &ring, &status) ||
        !CheckBlock(name, ring, segment, number, typed, &status))
        return status;
    if (!ReleaseBlock(segment, ring, number))
        return Fail("block %" PRIu64 " of \"%s\" is free", number, name.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    vyxshm_os::SetBinaryStandardStreams();
    std::vector<const char*> args;
    const char* output = nullptr;
    bool release = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--release") == 0) {
            release = true;
        } else if (std::strcmp(argv[i], "-o") == 0) {
            if (++i >= argc)
                return Usage("-o needs a file name");
            output = argv[i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage((std::string("unknown option ") + argv[i]).c_str());
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty())
        return Usage("no command given");
    std::string command = args[0];
    size_t operands = args.size() - 1;
    bool readOptions = output != nullptr || release;
    if (command == "list" && operands == 0 && !readOptions)
        return List();
    if (command == "info" && operands == 1 && !readOptions)
        return Info(SegmentName(args[1]));
    if (command == "read" && operands == 2)
        return Read(SegmentName(args[1]), args[2], output, release);
    if (command == "release" && operands == 2 && !readOptions)
        return Release(SegmentName(args[1]), args[2]);
    if (command != "list" && command != "info" && command != "read" && command != "release")
        return Usage(("unknown command \"" + command + "\"").c_str());
    return Usage(("wrong arguments for " + command).c_str());
}
