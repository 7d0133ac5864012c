#include "host/vyxdemo/imageacquisition.h"

#include "host/vyxdemo/demoreport.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemblockringbufferlayout.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "mt_proxy/camera/misc/csensorvyxcamera.h"
#include "platform/trace/merrtrace.h"
#include "platform/vyx/simcontrol.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

// ---- ImageFifo ----

ImageFifo::~ImageFifo() {
    if (base == nullptr)
        return;
    // The writer withdraws first, so that a reader never takes a block from a dying buffer.
    MMemBlockRingBuffer_Deactivate(base);
    if (!keep)
        MSharedMem_Unlink(base);
}

bool ImageFifo::Create(const std::string& name, size_t blocks, size_t blockSize) {
    {
        // Linking tells whether the name exists; its failure is the expected answer.
        MErrTraceContext probe(__FILE__);
        if (void* existing = MSharedMem_Link(name.c_str())) {
            MSharedMem_Unlink(existing);
            return DemoFailed("the shared-memory segment \"%s\" exists already (left by "
                              "\"vyxdemo --keep\"?) and is not overwritten: remove it with "
                              "\"rm /dev/shm/%s\" or choose another name with --segment",
                              name.c_str(), name.c_str());
        }
        MErrTrace_ClearContext();
    }
    segmentSize =
        msl::ringbuffer::kOverhead64 + blocks * (blockSize + msl::ringbuffer::kLockWord64);
    base = MSharedMem_LinkOrCreate(name.c_str(), segmentSize);
    if (base == nullptr)
        return DemoFailed("cannot create the shared-memory segment \"%s\" of %zu bytes",
                          name.c_str(), segmentSize);
    if (MMemBlockRingBuffer_CalcMaxEntries(MSharedMem_GetSize(base), blockSize) < blocks ||
        !MMemBlockRingBuffer_Create(base, blocks, blockSize))
        return DemoFailed("cannot lay out %zu blocks of %zu bytes in \"%s\"", blocks, blockSize,
                          name.c_str());
    return true;
}

namespace {

// The camera-thread side: what the camera machine's measurement callback does, reduced to
// three columns. It is the only writer of both FIFOs.
class FrameWriter {
public:
    FrameWriter(void* ring, void* lines, size_t imageBytes, uint32_t frames)
        : ring(ring), lines(lines), imageBytes(imageBytes), remaining(frames) {}

    CImageReceiver Receiver() { return {&FrameWriter::OnFrame, this}; }

    // Counters the client reads while frames arrive; relaxed, since each is a plain tally and
    // the lines themselves travel through the line FIFO's own barriers.
    std::atomic<uint32_t> noFreeBlock{0};
    std::atomic<uint32_t> withoutImage{0};
    std::atomic<bool> lineFifoFull{false};

private:
    static void OnFrame(void* context, const Vyx::CImgBuffer* image, uint32_t /*flags*/) {
        static_cast<FrameWriter*>(context)->Write(*image);
    }

    void Write(const Vyx::CImgBuffer& image) {
        if (remaining == 0)
            return;
        auto* slot = static_cast<MeasurandLine*>(MMemLineFifo_GetWritePointer(lines));
        if (slot == nullptr) {
            lineFifoFull.store(true, std::memory_order_relaxed);
            remaining = 0;
            return;
        }
        size_t block = 0;
        if (image.pixels != nullptr && image.frameCounter != 0)
            block = CopyImage(image);
        else
            withoutImage.fetch_add(1, std::memory_order_relaxed);
        *slot = {double(image.frameCounter), Seconds(image), double(block)};
        if (!MMemLineFifo_IncWritePointer(lines)) {
            // Nobody learns of the block: give it back.
            if (block != 0)
                MMemBlockRingBuffer_Release(ring, block);
            lineFifoFull.store(true, std::memory_order_relaxed);
            remaining = 0;
            return;
        }
        --remaining;
    }

    // Copies the clip rectangle row after row into a free block; its number, 0 when none.
    size_t CopyImage(const Vyx::CImgBuffer& image) {
        const uint64_t width = image.clipWidth ? image.clipWidth : image.rowPitch;
        const uint64_t height = image.clipHeight ? image.clipHeight : image.rows;
        const uint64_t rowBytes = width * image.bytesPerPixel;
        if (rowBytes * height > imageBytes) {
            withoutImage.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        auto* target = static_cast<uint8_t*>(MMemBlockRingBuffer_GetWritePointer(ring));
        if (target == nullptr) {
            noFreeBlock.fetch_add(1, std::memory_order_relaxed);
            return 0;
        }
        const uint64_t pitchBytes = image.rowPitch * image.bytesPerPixel;
        const uint8_t* source =
            image.pixels + image.offsetY * pitchBytes + image.offsetX * image.bytesPerPixel;
        for (uint64_t row = 0; row < height; ++row)
            std::memcpy(target + row * rowBytes, source + row * pitchBytes, rowBytes);
        return MMemBlockRingBuffer_GetIndex(ring, target);
    }

    static double Seconds(const Vyx::CImgBuffer& image) {
        if (image.timeStampKind == Vyx::TimeStamp_Microseconds)
            return double(image.timeStamp) / 1e6;
        // Nanoseconds, or ticks of our performance counter, which counts nanoseconds too.
        return double(image.timeStamp) * 1e-9;
    }

    void* ring;
    void* lines;
    size_t imageBytes;
    uint32_t remaining; // camera thread only
};

// Line FIFO memory in this process, as the camera machine keeps its measurand FIFO.
class LineFifoMemory {
public:
    explicit LineFifoMemory(size_t lines)
        : words((msl::linefifo::kHeaderSize + (lines + 1) * sizeof(MeasurandLine) + 7) / 8),
          capacity(lines) {}
    void* Base() { return words.data(); }
    size_t Capacity() const { return capacity; }

private:
    std::vector<uint64_t> words; // 8-aligned, as the FIFO needs
    size_t capacity;
};

// The value the test pattern has at pixel (x, y) of the clip rectangle compared with the
// block's bytes (little-endian): a row in the middle and the four corners, which catches a
// wrong frame, offset or row length.
bool ImageMatches(const uint8_t* block, const CVyxImageGeometry& geometry, uint32_t counter) {
    const uint32_t width = geometry.imageWidth, height = geometry.imageHeight;
    const uint32_t bpp = geometry.memoryBytesPerPixel;
    auto matches = [&](uint32_t x, uint32_t y) {
        const uint8_t* pixel = block + (uint64_t(y) * width + x) * bpp;
        uint32_t value = 0;
        for (uint32_t byte = 0; byte < bpp && byte < 4; ++byte)
            value |= uint32_t(pixel[byte]) << (8 * byte);
        return value ==
               Vyx::SimControl::PatternPixel(counter, geometry.clipX + x, geometry.clipY + y);
    };
    for (uint32_t x = 0; x < width; ++x)
        if (!matches(x, height / 2))
            return false;
    return matches(0, 0) && matches(width - 1, 0) && matches(0, height - 1) &&
           matches(width - 1, height - 1);
}

} // namespace

bool AcquireFrames(CSensorVyxCamera& camera, ImageFifo& fifo, uint32_t frames, double frameRate,
                   size_t holdBlocks, AcquisitionResult& result) {
    const CVyxImageGeometry geometry = camera.GetImageGeometry();
    void* ring = fifo.Base();
    LineFifoMemory memory(frames);
    void* lines = memory.Base();
    if (!MMemLineFifo_Create(lines, memory.Capacity(), sizeof(MeasurandLine)) ||
        !MMemLineFifo_Link(lines))
        return DemoFailed("cannot set up the measurand line FIFO");

    FrameWriter writer(ring, lines, MMemBlockRingBuffer_GetBlockSize(ring), frames);
    const CImageReceiver receiver = writer.Receiver();
    if (!camera.SetPropertyData(0, &receiver))
        return DemoFailed("the camera sensor refused the image receiver");
    if (!camera.SetMeasurement(true)) {
        camera.SetPropertyData(1, &receiver);
        return DemoFailed("the camera did not start acquiring");
    }

    // Generous: four times the expected duration plus five seconds for a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(5000 + int64_t(4000.0 * frames / frameRate));
    std::deque<size_t> held;
    auto takeLine = [&]() {
        const void* line = MMemLineFifo_GetReadPointer(lines);
        if (line == nullptr)
            return false;
        MeasurandLine copy;
        std::memcpy(&copy, line, sizeof copy);
        MMemLineFifo_IncReadPointer(lines);
        result.lines.push_back(copy);
        const size_t block = size_t(copy.block);
        if (block == 0)
            return true;
        const auto* pixels =
            static_cast<const uint8_t*>(MMemBlockRingBuffer_GetReadPointer(ring, block));
        ++result.imagesChecked;
        if (pixels == nullptr || !ImageMatches(pixels, geometry, uint32_t(copy.counter)))
            ++result.imagesWrong;
        held.push_back(block);
        while (held.size() > holdBlocks) {
            MMemBlockRingBuffer_Release(ring, held.front());
            held.pop_front();
        }
        return true;
    };
    while (result.lines.size() < frames && !writer.lineFifoFull.load(std::memory_order_relaxed)) {
        if (takeLine())
            continue;
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const bool stopped = camera.SetMeasurement(false);
    // Once removed, the receiver is not running and is not called again.
    const bool removed = camera.SetPropertyData(1, &receiver);
    while (takeLine()) {
    }
    MMemLineFifo_Unlink(lines);
    MMemLineFifo_Close(lines);
    result.heldBlocks.assign(held.begin(), held.end());
    result.noFreeBlock = writer.noFreeBlock.load();
    result.withoutImage = writer.withoutImage.load();
    result.lineFifoFull = writer.lineFifoFull.load();
    if (!stopped)
        return DemoFailed("the camera did not stop acquiring");
    if (!removed)
        return DemoFailed("the camera sensor did not remove the image receiver");
    return true;
}
