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
    SimCameraTest::SetUp(); // connected again, so that the camera is there to close
    CameraIniTest::TearDown();
}

void CameraIniTest::TearDown() {
    if (Vyx::CImgSensors* open = Vyx::CImgSensors::GetInstance())
        open->Uninitialize(0);
}

int CameraIniTest::Initialize(const std::string& ini) {
    path = dir.File("vyxcamera.ini");
    EXPECT_TRUE(WriteFileBytes(path, ini));
    camera = Vyx::CImgSensors::GetInstance();
    return camera ? camera->Initialize(path.c_str(), 0) : 0;
}

Vyx::CImgSensors* CameraIniTest::OpenIni(const std::string& ini) {
    const int result = Initialize(ini);
    EXPECT_EQ(result, 1) << Error();
    return result == 1 ? camera : nullptr;
}

bool CameraIniTest::GrabInto(FrameSink& sink) {
    return camera->RegisterImgStreamInput(&sink, FrameSink::Callback, 0) && camera->Grab(0);
}

void CameraIniTest::ExpectSetting(Setter set, Getter get, double good,
                                  std::initializer_list<double> refused, const char* refusal) {
    ASSERT_TRUE((camera->*set)(good, 0)) << Error();
    for (double value : refused) {
        EXPECT_FALSE((camera->*set)(value, 0)) << value;
        if (refusal != nullptr) {
            EXPECT_EQ(Error(), refusal);
        }
    }
    double value = 0;
    ASSERT_TRUE((camera->*get)(&value, 0));
    EXPECT_EQ(value, good) << "a refused value leaves the setting";
}

std::vector<std::array<int32_t, 3>> ClippingLimits(Vyx::CImgSensors* camera) {
    std::vector<std::array<int32_t, 3>> limits;
    std::array<int32_t, 3> axis{};
    for (int32_t a = 0; a < 4; ++a) {
        EXPECT_EQ(camera->GetClippingLimits(a, &axis[0], &axis[1], &axis[2], 0), 1) << a;
        limits.push_back(axis);
    }
    EXPECT_EQ(camera->GetClippingLimits(4, &axis[0], &axis[1], &axis[2], 0), 0);
    return limits;
}

std::string InfoItem(const std::string& xml, const wchar_t* key) {
    std::wstring wide(xml.begin(), xml.end()); // the tests' identities are ASCII
    Vyx::CXmlNode root, item;
    if (root.LoadFromString(wide.c_str()) != 0)
        return "<unparsable>";
    std::wstring value;
    const std::wstring xpath = std::wstring(L"/Info/Item[@key='") + key + L"']";
    if (root.GetNode(xpath.c_str(), item) != 0 || item.GetValue(L"value", value) != 0)
        return "<missing>";
    return std::string(value.begin(), value.end());
}

void FrameSink::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
    auto* sink = static_cast<FrameSink*>(context);
    SeenFrame seen;
    static_cast<Vyx::CImgBuffer&>(seen) = *image;
    seen.flags = flags;
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

void FreezingSink::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
    auto* self = static_cast<FreezingSink*>(context);
    if (++self->calls == self->at)
        self->frozen = self->camera->Freeze(0);
    FrameSink::Callback(static_cast<FrameSink*>(self), image, flags);
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
