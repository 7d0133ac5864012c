// The reader library: the support library's ring-buffer and named-event code behind a C
// interface, with mappings of its own that are faulted in when opened.
#include "clients/c/vyxfifo.h"

#include "clients/c/vyxfifomap.h"
#include "msl/mipc/mipcos.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemblockringbufferlayout.h"
#include "msl/mipc/mnamedevent.h"
#include "platform/trace/merrtrace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace layout = msl::ringbuffer;

struct vyxfifo {
    void* base = nullptr;
    size_t size = 0;
    bool wide = true;
};

struct vyxfifo_preview {
    void* base = nullptr;
    size_t size = 0;
    MNamedEvent* event = nullptr;
};

namespace {

void Say(char* error, size_t errorSize, const char* format, ...) {
    if (error == nullptr || errorSize == 0)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error, errorSize, format, args);
    va_end(args);
}

// The support library reports into the error trace; a scope of our own turns what it
// reported into the caller's error text and leaves nothing behind.
class TraceScope {
public:
    TraceScope() { MErrTrace_BeginContext(); }
    ~TraceScope() {
        MErrTrace_ClearContext();
        MErrTrace_EndContext();
    }
    std::string Text() const {
        std::string text;
        for (const std::string& line : MErrTrace_GetContextLines())
            text.append(text.empty() ? "" : "; ").append(line);
        return text;
    }
};

bool Map(const char* name, void** base, size_t* size, char* error, size_t errorSize) {
    if (name == nullptr || *name == '\0') {
        Say(error, errorSize, "no segment name");
        return false;
    }
    if (const char* problem = msl::ipcos::NameProblem(name)) {
        Say(error, errorSize, "segment name \"%.200s\" is %s", name, problem);
        return false;
    }
    const char* what = "";
    if (int code = vyxfifo_os::MapSegment(name, base, size, &what)) {
        Say(error, errorSize, "%s segment \"%s\": %s", what, name,
            vyxfifo_os::ErrorText(code).c_str());
        return false;
    }
    return true;
}

template <class Header> bool Fits(const Header& header, size_t size) {
    const uint64_t blocks = header.num_entries, blockSize = header.block_size;
    const uint64_t locks = header.locked_array_offset;
    const uint64_t room = size - sizeof(Header);
    const uint64_t word = sizeof(header.block_size);
    return (blockSize == 0 || blocks <= room / blockSize) &&
           sizeof(Header) + blocks * blockSize <= locks && locks <= size &&
           blocks <= (size - locks) / word;
}

// Why the segment holds no ring buffer this reader can use, or null.
const char* RingProblem(const vyxfifo& fifo) {
    const auto* bytes = static_cast<const uint8_t*>(fifo.base);
    if (fifo.size < layout::kHeaderSize32)
        return "is too small for a ring buffer";
    if (bytes[0] == layout::kSizeofSizeT64)
        return fifo.size >= layout::kHeaderSize64 &&
                       Fits(*static_cast<const layout::Header64*>(fifo.base), fifo.size)
                   ? nullptr
                   : "has a ring buffer header that does not fit the segment";
    if (bytes[0] == layout::kSizeofSizeT32)
        return Fits(*static_cast<const layout::Header32*>(fifo.base), fifo.size)
                   ? nullptr
                   : "has a ring buffer header that does not fit the segment";
    return "holds no ring buffer";
}

} // namespace

extern "C" {

vyxfifo* vyxfifo_open(const char* name, char* error, size_t error_size) {
    vyxfifo fifo;
    if (!Map(name, &fifo.base, &fifo.size, error, error_size))
        return nullptr;
    if (const char* problem = RingProblem(fifo)) {
        Say(error, error_size, "segment \"%s\" %s", name, problem);
        vyxfifo_os::UnmapSegment(fifo.base, fifo.size);
        return nullptr;
    }
    fifo.wide = static_cast<const uint8_t*>(fifo.base)[0] == layout::kSizeofSizeT64;
    TraceScope trace;
    if (!(fifo.wide ? MMemBlockRingBuffer_Link(fifo.base)
                    : MMemBlockRingBuffer32_Link(fifo.base))) {
        Say(error, error_size, "segment \"%s\": %s", name, trace.Text().c_str());
        vyxfifo_os::UnmapSegment(fifo.base, fifo.size);
        return nullptr;
    }
    return new vyxfifo(fifo);
}

void vyxfifo_close(vyxfifo* fifo) {
    if (fifo == nullptr)
        return;
    vyxfifo_os::UnmapSegment(fifo->base, fifo->size);
    delete fifo;
}

int vyxfifo_variant(const vyxfifo* fifo) {
    return fifo->wide ? 64 : 32;
}

int vyxfifo_active(const vyxfifo* fifo) {
    // The writer clears the byte while readers look; one byte needs no more than a volatile load.
    return static_cast<const volatile uint8_t*>(fifo->base)[1] != 0;
}

uint64_t vyxfifo_block_size(const vyxfifo* fifo) {
    return fifo->wide ? MMemBlockRingBuffer_GetBlockSize(fifo->base)
                      : MMemBlockRingBuffer32_GetBlockSize(fifo->base);
}

uint64_t vyxfifo_num_blocks(const vyxfifo* fifo) {
    return fifo->wide ? MMemBlockRingBuffer_GetNumEntries(fifo->base)
                      : MMemBlockRingBuffer32_GetNumEntries(fifo->base);
}

uint64_t vyxfifo_num_used(const vyxfifo* fifo) {
    return fifo->wide ? MMemBlockRingBuffer_GetNumUsed(fifo->base)
                      : MMemBlockRingBuffer32_GetNumUsed(fifo->base);
}

const void* vyxfifo_block(const vyxfifo* fifo, uint64_t number) {
    if (fifo->wide)
        return MMemBlockRingBuffer_GetReadPointer(fifo->base, number);
    return number > UINT32_MAX
               ? nullptr
               : MMemBlockRingBuffer32_GetReadPointer(fifo->base, static_cast<uint32_t>(number));
}

int vyxfifo_release(vyxfifo* fifo, uint64_t number) {
    if (fifo->wide)
        return MMemBlockRingBuffer_Release(fifo->base, number);
    return number > UINT32_MAX
               ? 0
               : MMemBlockRingBuffer32_Release(fifo->base, static_cast<uint32_t>(number));
}

vyxfifo_preview* vyxfifo_preview_open(const char* name, char* error, size_t error_size) {
    vyxfifo_preview preview;
    if (!Map(name, &preview.base, &preview.size, error, error_size))
        return nullptr;
    const std::string eventName = std::string(name) + ".event";
    TraceScope trace;
    preview.event = MNamedEvent_Open(eventName.c_str());
    if (preview.event == nullptr) {
        Say(error, error_size, "preview memory \"%s\" has no event: %s", name,
            trace.Text().c_str());
        vyxfifo_os::UnmapSegment(preview.base, preview.size);
        return nullptr;
    }
    return new vyxfifo_preview(preview);
}

void vyxfifo_preview_close(vyxfifo_preview* preview) {
    if (preview == nullptr)
        return;
    TraceScope trace;
    MNamedEvent_Close(preview->event);
    vyxfifo_os::UnmapSegment(preview->base, preview->size);
    delete preview;
}

const void* vyxfifo_preview_data(const vyxfifo_preview* preview) {
    return preview->base;
}

size_t vyxfifo_preview_size(const vyxfifo_preview* preview) {
    return preview->size;
}

int vyxfifo_preview_wait(vyxfifo_preview* preview, uint32_t timeout_ms) {
    TraceScope trace;
    return MNamedEvent_Wait(preview->event, timeout_ms);
}

int vyxfifo_preview_done(vyxfifo_preview* preview) {
    TraceScope trace;
    return MNamedEvent_Reset(preview->event);
}

} // extern "C"
