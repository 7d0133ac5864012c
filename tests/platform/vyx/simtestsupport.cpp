#include "tests/platform/vyx/simtestsupport.h"

#include <cstdlib>
#include <cstring>

namespace vyx::test {

void SimCameraTest::SetUp() {
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", nullptr);
    Vyx::SimControl::SetConnected(true);
    for (int call = 0; call < static_cast<int>(Vyx::SimCall::Count); ++call)
        Vyx::SimControl::SetCallFailure(static_cast<Vyx::SimCall>(call), false);
}

void SimCameraTest::TearDown() {
    Vyx::SimControl::SetConnected(true);
    for (int call = 0; call < static_cast<int>(Vyx::SimCall::Count); ++call)
        Vyx::SimControl::SetCallFailure(static_cast<Vyx::SimCall>(call), false);
    if (Vyx::CImgSensors* cam = Vyx::CImgSensors::GetInstance())
        cam->Uninitialize(0);
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", nullptr);
}

std::string SimCameraTest::WriteIni(const std::string& name, const std::string& section) {
    std::string path = dir.File(name);
    EXPECT_TRUE(WriteFileBytes(path, "[SimCamera]\n" + section));
    return path;
}

Vyx::CImgSensors* SimCameraTest::Open(const std::string& section) {
    std::string path = WriteIni("vyxcamera.ini", section);
    camera = Vyx::CImgSensors::GetInstance();
    if (camera == nullptr)
        return nullptr;
    int result = camera->Initialize(path.c_str(), 0);
    EXPECT_GT(result, 0) << camera->GetLastErrorText(0);
    return result > 0 ? camera : nullptr;
}

void FrameSink::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
    auto* sink = static_cast<FrameSink*>(context);
    SeenFrame seen;
    seen.counter = image->frameCounter;
    seen.pixels = image->pixels != nullptr;
    seen.timeStamp = image->timeStamp;
    seen.timeStampKind = image->timeStampKind;
    seen.flags = flags;
    seen.rowPitch = image->rowPitch;
    seen.rows = image->rows;
    seen.offsetX = image->offsetX;
    seen.offsetY = image->offsetY;
    seen.clipWidth = image->clipWidth;
    seen.clipHeight = image->clipHeight;
    seen.bytesPerPixel = image->bytesPerPixel;
    auto temperature = image->attributes.find(Vyx::ImgAttr_Temperature);
    seen.hasTemperature = temperature != image->attributes.end();
    if (seen.hasTemperature)
        seen.temperature = temperature->second.second;
    seen.arrival = std::chrono::steady_clock::now();
    if (sink->m_copy && image->pixels != nullptr) {
        // The copy a measurement makes: the clip rectangle, rows packed.
        uint64_t width = image->clipWidth ? image->clipWidth : image->rowPitch;
        uint64_t height = image->clipHeight ? image->clipHeight : image->rows;
        uint64_t row = width * image->bytesPerPixel;
        seen.clip.resize(row * height);
        const uint8_t* source =
            image->pixels +
            image->bytesPerPixel * (image->offsetX + image->rowPitch * image->offsetY);
        for (uint64_t y = 0; y < height; ++y)
            std::memcpy(seen.clip.data() + y * row,
                        source + y * image->rowPitch * image->bytesPerPixel, row);
    }
    std::lock_guard<std::mutex> lock(sink->m_mutex);
    sink->m_frames.push_back(std::move(seen));
    sink->m_arrived.notify_all();
}

bool FrameSink::WaitFor(size_t count, std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

std::vector<SeenFrame> FrameSink::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

size_t FrameSink::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

} // namespace vyx::test
