#include "tests/host/fakemachine/fakescan.h"

#include "lintel/server/machine/mclientnotifier.h"
#include "msl/mipc/mmemblockringbuffer.h"

#include <chrono>
#include <cmath>

FakeScan::FakeScan(FakeScanSetup s) : setup(std::move(s)) {
    for (size_t i = 0; i < setup.reported.size(); ++i)
        if (setup.reported[i] == "imageindex")
            imageIndexColumn = i;
    producer = std::thread(&FakeScan::Produce, this);
}

FakeScan::~FakeScan() {
    StopAndDrain();
}

void FakeScan::Produce() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(1.0 / setup.frameRate);
    auto lastWake = start;
    for (uint64_t n = 0; n < setup.frames; ++n) {
        {
            std::unique_lock<std::mutex> guard(lock);
            const auto due =
                start + std::chrono::duration_cast<Clock::duration>(period * double(n));
            if (wake.wait_until(guard, due, [this] { return stopping; }))
                return;
        }
        uint64_t block = 0;
        if (imageIndexColumn != SIZE_MAX && (setup.ring64 != nullptr || setup.ring32 != nullptr)) {
            auto* pixels = static_cast<uint8_t*>(
                setup.ring64 != nullptr ? MMemBlockRingBuffer_GetWritePointer(setup.ring64)
                                        : MMemBlockRingBuffer32_GetWritePointer(setup.ring32));
            if (pixels == nullptr) {
                Fail("ringbuffer overflow");
                return;
            }
            for (uint64_t k = 0; k < setup.frameBytes; ++k)
                pixels[k] = PatternByte(n + 1, k);
            block = setup.ring64 != nullptr ? MMemBlockRingBuffer_GetIndex(setup.ring64, pixels)
                                            : MMemBlockRingBuffer32_GetIndex(setup.ring32, pixels);
        }
        std::vector<double> line;
        for (const std::string& axis : setup.reported) {
            if (axis == "time")
                line.push_back(setup.startTime + double(n) / setup.frameRate);
            else if (axis == "trigger_count")
                line.push_back(double(n + 1));
            else if (axis == "imageindex")
                line.push_back(double(block));
            else
                line.push_back(0.0);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            if (lines.size() >= kMaxLines) {
                error = "measurandfifo overflow";
                finished = true;
                break;
            }
            lines.push_back(std::move(line));
        }
        const auto now = Clock::now();
        if (now - lastWake >= std::chrono::milliseconds(50)) {
            setup.notifier->WakeUp();
            lastWake = now;
        }
    }
    finished = true;
    setup.notifier->WakeUp();
}

void FakeScan::Fail(const char* text) {
    {
        std::lock_guard<std::mutex> guard(lock);
        error = text;
    }
    finished = true;
    setup.notifier->WakeUp();
}

bool FakeScan::ReadLine(std::vector<double>& values) {
    std::lock_guard<std::mutex> guard(lock);
    if (lines.empty())
        return false;
    values = std::move(lines.front());
    lines.pop_front();
    return true;
}

bool FakeScan::HasLines() {
    std::lock_guard<std::mutex> guard(lock);
    return !lines.empty();
}

std::string FakeScan::Error() {
    std::lock_guard<std::mutex> guard(lock);
    return error;
}

void FakeScan::Release(double block) {
    if (block < 1)
        return;
    if (setup.ring64 != nullptr)
        MMemBlockRingBuffer_Release(setup.ring64, size_t(block));
    else if (setup.ring32 != nullptr)
        MMemBlockRingBuffer32_Release(setup.ring32, uint32_t(block));
}

size_t FakeScan::StopAndDrain() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (producer.joinable())
        producer.join();
    size_t released = 0;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& line : lines) {
        if (imageIndexColumn != SIZE_MAX && line[imageIndexColumn] >= 1) {
            Release(line[imageIndexColumn]);
            ++released;
        }
    }
    lines.clear();
    return released;
}
