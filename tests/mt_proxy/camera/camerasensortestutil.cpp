#include "tests/mt_proxy/camera/camerasensortestutil.h"

#include "mt_proxy/camera/misc/mcameraglobals.h"

namespace cameratest {

void ResetSimulatedCamera() {
    vyx::test::SetEnvironment("VYX_SIMCAMERA_INI", nullptr);
    Vyx::SimControl::SetConnected(true);
    for (int call = 0; call < static_cast<int>(Vyx::SimCall::Count); ++call)
        Vyx::SimControl::SetCallFailure(static_cast<Vyx::SimCall>(call), false);
}

void CameraSensorTest::SetUp() {
    ResetSimulatedCamera();
    MCameraGlobals_SetConfigDir(dir.Path());
}

void CameraSensorTest::TearDown() {
    sensor.reset();
    ResetSimulatedCamera();
    // A test that failed half-way may have left the camera open.
    if (Vyx::CImgSensors* open = Vyx::CImgSensors::GetInstance())
        open->Uninitialize(0);
    EXPECT_EQ(CImageReceivers_Count(), 0u) << "a test left an image receiver behind";
    MCameraGlobals_SetConfigDir("");
}

CSensorVyxCamera* CameraSensorTest::CreateFromIni(const std::string& ini) {
    sensor.reset(); // lets go of the camera first
    EXPECT_TRUE(vyx::test::WriteFileBytes(dir.File("vyxcamera.ini"), ini));
    sensor = CSensorVyxCamera::GetInstance();
    camera = dynamic_cast<CSensorVyxCamera*>(sensor.get());
    return camera;
}

void CameraSensorTest::ExpectHardware(const std::string& list) {
    std::string text;
    camera->GetHardwareData(text);
    ExpectEntries(text, "Camera", list);
}

double CameraSensorTest::Value(const char* name) {
    double value = -12345.0;
    EXPECT_TRUE(camera->GetPropertyValue(name, &value)) << name;
    return value;
}

bool CameraSensorTest::EnableSettings() {
    return camera->SetPropertyData(
        "[General]\nChannels=gain,shutter,framerate,light_intensity,light_trigger_mode\n"
        "[Default]\nAccess=RW\nMin=0\nMax=1000\n");
}

void FrameRecorder::Callback(void* context, const Vyx::CImgBuffer* image, uint32_t flags) {
    auto* recorder = static_cast<FrameRecorder*>(context);
    std::lock_guard<std::mutex> lock(recorder->m_mutex);
    recorder->m_frames.push_back({image->frameCounter, flags, image->pixels != nullptr,
                                  image->clipWidth ? image->clipWidth : image->rowPitch,
                                  image->clipHeight ? image->clipHeight : image->rows});
    recorder->m_arrived.notify_all();
}

bool FrameRecorder::WaitFor(size_t count, std::chrono::seconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

std::vector<RecordedFrame> FrameRecorder::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

} // namespace cameratest
