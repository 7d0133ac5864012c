#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "msl/mfileio/mfileops.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "platform/trace/mtrace.h"

#include <limits>

namespace {

// Our high-resolution counter is the monotonic clock in nanoseconds.
constexpr double kCounterFrequency = 1e9;

} // namespace

MCameraMachAbstract::MCameraMachAbstract(const std::string& name, const std::string& directory,
                                         MOutputChannel* channel, MClientNotifier* notifier)
    : MMachAbstract(channel, notifier, name, file_join(directory, "camera")) {
    imageFifoCursor = imageFifos.end();
    axisCursor = axes.end();
    componentCursor = components.end();
    MCameraGlobals_SetConfigDir(this->directory);
    MCameraGlobals_SetCounterFrequency(kCounterFrequency);
    // Also when the machine is built without the module around it (tests, tools).
    MCameraSensors_Register();
}

MCameraMachAbstract::~MCameraMachAbstract() = default;

bool MCameraMachAbstract::Open() {
    return false;
}

bool MCameraMachAbstract::Close() {
    activeImageFifoName.clear();
    return true;
}

void MCameraMachAbstract::PollAsyncErrors() {
    if (!cameraError.exchange(false))
        return;
    // Worth a line whatever the trace level: the client has to restart the camera.
    MTRACE_ALWAYS("%s(): Camera error. Sending \"resync needed\" event",
                  "MCameraMachAbstract::PollAsyncErrors");
    if (channel != nullptr)
        channel->Event(std::string("resync needed"));
}

std::string MCameraMachAbstract::GetSensorName() {
    return std::string();
}

std::string MCameraMachAbstract::GetVersion() {
    return "1.00-0";
}

std::string MCameraMachAbstract::GetSensorSerialNo() {
    return std::string();
}

const MMachComponentEntry* MCameraMachAbstract::FindComponent(const std::string& name) {
    auto it = components.find(name);
    return it == components.end() ? nullptr : &*it;
}

const MMachComponentEntry* MCameraMachAbstract::FirstComponent() {
    componentCursor = components.begin();
    return NextComponent();
}

const MMachComponentEntry* MCameraMachAbstract::NextComponent() {
    if (componentCursor == components.end())
        return nullptr;
    return &*componentCursor++;
}

const MMachAxis* MCameraMachAbstract::FindAxis(const std::string& name) {
    auto it = axes.find(name);
    return it == axes.end() ? nullptr : &it->second;
}

const MMachAxis* MCameraMachAbstract::FirstAxis() {
    axisCursor = axes.begin();
    return NextAxis();
}

const MMachAxis* MCameraMachAbstract::NextAxis() {
    if (axisCursor == axes.end())
        return nullptr;
    return &(axisCursor++)->second;
}

double MCameraMachAbstract::GetAxisValue(const std::string& name) {
    std::lock_guard<std::mutex> guard(axesLock);
    auto it = axes.find(name);
    if (it == axes.end() || it->second.index >= axisValues.size())
        return std::numeric_limits<double>::quiet_NaN();
    return axisValues[it->second.index];
}

bool MCameraMachAbstract::IsTimeOnly(const std::map<std::string, MMachScanTarget>& scanAxes) {
    for (const auto& entry : scanAxes)
        if (entry.first != "time")
            return false;
    return true;
}

bool MCameraMachAbstract::HasAutoinfo() {
    return true;
}

bool MCameraMachAbstract::HasPreview() {
    return opened;
}

bool MCameraMachAbstract::HasPreviewMemory() {
    return opened;
}

bool MCameraMachAbstract::HasImageFifos() {
    return opened;
}

MMachImagefifo* MCameraMachAbstract::GetActiveImageFifo() {
    return FindImageFifo(activeImageFifoName);
}

MMachImagefifo* MCameraMachAbstract::FindImageFifo(const std::string& fifoName) {
    auto it = imageFifos.find(fifoName);
    return it == imageFifos.end() ? nullptr : &it->second;
}

MMachImagefifo* MCameraMachAbstract::FirstImageFifo() {
    imageFifoCursor = imageFifos.begin();
    return NextImageFifo();
}

MMachImagefifo* MCameraMachAbstract::NextImageFifo() {
    if (imageFifoCursor == imageFifos.end())
        return nullptr;
    return &(imageFifoCursor++)->second;
}

bool MCameraMachAbstract::NotProvided97() {
    return true;
}
