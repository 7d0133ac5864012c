#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "csensor/sensors/csensor.h"
#include "lintel/server/commands/moutputchannel.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mdirtools.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mipc/mmemblockringbuffer.h"
#include "msl/mipc/mmemlinefifo.h"
#include "msl/mipc/msharedmem.h"
#include "msl/mutil/minidata.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "mt_proxy/camera/misc/mcamerasensors.h"
#include "mt_proxy/camera/mmachabstract/mcameraconfigdir.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cfloat>
#include <cstring>
#include <new>

namespace {

// Our high-resolution counter is the monotonic clock in nanoseconds.
constexpr double kCounterFrequency = 1e9;
constexpr double kTwoTo64 = 18446744073709551616.0;
constexpr size_t kMeasurandLines = 10000;

// The command classes this machine offers, in the order they are enabled.
const char* const kEnabledCommands[] = {
    "MMachGetCommand",
    "MMachImagefifoCreateCommand",
    "MMachImagefifoDeleteCommand",
    "MMachImagefifoInfoCommand",
    "MMachImagefifoResetCommand",
    "MMachImagefifoSelectCommand",
    "MMachProbeDefineCommand",
    "MMachProbeDeleteCommand",
    "MMachProbeChangeCommand",
    "MMachProbeLoadCommand",
    "MMachProbeUnloadCommand",
    "MMachProbesystemDefineCommand",
    "MMachProbesystemDeleteCommand",
    "MMachProbesystemLoadCommand",
    "MMachProbesystemTypeCommand",
    "MMachProbesystemUnloadCommand",
    "MMachReceiveCommand",
    "MMachScanCommand",
    "MMachScandataCommand",
    "MMachScanpointCommand",
    "MMachSendCommand",
    "MMachSetCommand",
};

} // namespace

MCameraMachAbstract::MCameraMachAbstract(const std::string& name, const std::string& directory,
                                         MOutputChannel* channel, MClientNotifier* notifier)
    : MMachAbstract(channel, notifier, name, file_join(directory, "camera")),
      hostCameraDir(this->directory), axesCallback(axes, notifier), autoinfo(notifier),
      measurement(callbackClock, notifier) {
    componentCursor = components.end();
    MCameraGlobals_SetConfigDir(this->directory);
    MCameraGlobals_SetCounterFrequency(kCounterFrequency);
    // Also when the machine is built without the module around it (tests, tools).
    MCameraSensors_Register();
}

MCameraMachAbstract::~MCameraMachAbstract() {
    // The camera thread must be done with the machine before its members go.
    remove_image_receivers();
    measurandFifo.reset();
    axes.FreeValues();
    release_image_fifos();
}

// ---- Open ----

bool MCameraMachAbstract::Open() {
    MErrTraceContext context(__FILE__);
    probeManager.InitSensors(0.001);
    // From the host's folder again on every Open: a reopened machine must not look for the
    // camera's folder inside the camera's folder.
    directory = init_config_dir(hostCameraDir);
    // A missing camera or a folder that could not be made is no reason to stop, but the
    // operator should learn why the machine works without them.
    if (!MErrTrace_GetContextLines().empty())
        context.DumpToMErrLog(__LINE__, "MCameraMachAbstract::Open(): continuing in %s",
                              directory.c_str());

    {
        MIniData settings;
        int32_t value = 0;
        always64 = settings.Open(file_join(directory, "vyxcamera.ini")) &&
                   settings.GetLongEntry("General", "Always64Bit", value) && value != 0;
        if (always64)
            MTRACE(3, "%s(): we always create 64 bit ringbuffers", "MCameraMachAbstract::Open");
    }

    if (!probeManager.Open(directory, "camprobedb.ini", 0.001)) {
        if (channel != nullptr)
            channel->Error(std::string("failed to open probe manager"));
        MERRTRACE("Open(): failed to open probe manager");
        context.DumpToMErrLog(__LINE__, "MCameraMachAbstract::Open() failed");
        return true;
    }

    cameraProbesystemDB = std::make_unique<MTessorProbesystemDB>(directory, "probesystemdb.ini",
                                                                 "volatile_probesystemdb.ini");
    probesystemDB = cameraProbesystemDB.get();
    if (!cameraProbesystemDB->Open()) {
        if (channel != nullptr)
            channel->Error(std::string("failed to open probesystem database"));
        MERRTRACE("Open(): failed to open probesystem database");
        context.DumpToMErrLog(__LINE__, "MCameraMachAbstract::Open() failed");
        return true;
    }
    cameraProbeDB = std::make_unique<MCameraProbeDB>();
    probeDB = cameraProbeDB.get();

    register_axes_and_components();
    std::string types;
    probeManager.GetProbesystemList(types);
    cameraProbesystemDB->SetProbesystemTypes(types);
    init_probe_channels();

    std::string active = cameraProbesystemDB->GetActiveProbesystem();
    uint32_t id = 0;
    if (active.empty())
        active = "unloaded";
    else
        id = cameraProbesystemDB->GetActiveProbesystemId();
    if (!set_active_probesystem(active, id, nullptr)) {
        if (channel != nullptr)
            channel->Error(16);
        MERRTRACE("Open(): set_active_probesystem(%s, %u, NULL) failed", active.c_str(), id);
        context.DumpToMErrLog(__LINE__, "MCameraMachAbstract::Open(): probesystem %s %u lost",
                              active.c_str(), id);
        set_active_probesystem("unloaded", 0, nullptr);
    }

    axes.SetValue("init", 1.0);
    axes.SetValue("scanstep", 1.0);
    const std::string configDir = "[Configdir]\ndir=" + directory + "\n";
    for (CSensor* sensor : probeManager.GetSensors())
        if (std::strcmp(sensor->GetSensorClass(), "ZF290") == 0)
            sensor->SetUserData(configDir);
    update_probe_axes();

    if (!init_measurand_fifo()) {
        context.DumpToMErrLog(__LINE__, "MCameraMachAbstract::Open() failed");
        return false;
    }
    enable_commands();
    opened = true;
    install_update_axes_callback();
    return true;
}

std::string MCameraMachAbstract::init_config_dir(const std::string& dir) {
    const CSensor* camera = find_camera_sensor();
    if (camera == nullptr)
        return dir; // no folder is made for a camera that is not there
    const std::string path = file_join(file_join(dir, camera->GetName()), camera->GetSerialNo());
    if (!create_config_dir(path)) {
        MERRTRACE("%s(): create_config_dir(%s) failed", "MCameraMachAbstract::init_config_dir",
                  path.c_str());
        return dir;
    }
    MTRACE(1, "%s(): configuration directory is %s", "MCameraMachAbstract::init_config_dir",
           path.c_str());
    return path;
}

void MCameraMachAbstract::register_axes_and_components() {
    axes.Register("temp_camera", MMachAxis::kUnavailable, 0, 50, 0.01, 1);
    axes.Register("imageindex", MMachAxis::kReadable, 0, kTwoTo64, 1, 1);
    axes.Register("clock", MMachAxis::kReadable, 0, kTwoTo64, 1, 1);
    axes.Register("lock", MMachAxis::kReadable, 0, 1, 1, 1);
    axes.Register("time", MMachAxis::kReadable, 0, DBL_MAX, 0, 1);
    axes.Register("trigger_count", MMachAxis::kReadable, 0, 4294967295.0, 1, 1);
    // Indexes stay for the life of the machine, so this is 6 on every Open.
    firstProbeAxisIndex = static_cast<size_t>(
        axes.Register("probe", MMachAxis::kReadable, 0, cameraProbeDB->GetMaxProbeNumber(), 1, 1)
            .index);
    axes.Register("tip", MMachAxis::kReadable, 0, cameraProbeDB->GetMaxTipNumber(), 1, 1);
    axes.Register("scanstep", MMachAxis::kReadable | MMachAxis::kWritable, 0, 100, 0, 0.000001);
    axes.Register("init", MMachAxis::kReadable, 0, 1, 1, 1);

    components["probe.hardware"] = MMachComponent{"1.00-0", 1};
    components["probe.config"] = MMachComponent{"1.00-0", 3};
    components["probe.tip"] = MMachComponent{"1.00-0", 3};
    components["probesystems.config"] = MMachComponent{"1.00-00", 3};
}

void MCameraMachAbstract::init_probe_channels() {
    for (const auto& [type, sensor] : probeManager.GetSensorMap()) {
        if (sensor == nullptr) {
            MERRTRACE("init_probe_channels(): GetConstPtrChaMap() failed for %s", type.c_str());
            continue;
        }
        for (const auto& [channelName, desc] : sensor->GetPropertyTable())
            if (axes.Find(channelName) == nullptr)
                axes.Register(channelName, MMachAxis::kUnavailable | MMachAxis::kReadable, 0, 0, 0,
                              0);
    }
    axes.AllocateValues();
}

bool MCameraMachAbstract::init_measurand_fifo() {
    const size_t lineLength = axes.Count() * sizeof(double);
    measurandFifoBytes = lineLength * (kMeasurandLines + 1) + msl::linefifo::kHeaderSize;
    measurandFifo.reset(new (std::nothrow) uint64_t[(measurandFifoBytes + 7) / 8]);
    if (measurandFifo == nullptr ||
        !MMemLineFifo_Create(measurandFifo.get(), kMeasurandLines, lineLength)) {
        MERRTRACE("init_measurand_fifo(): failed to create measurand fifo");
        return false;
    }
    if (!MMemLineFifo_Link(measurandFifo.get())) {
        MERRTRACE("init_measurand_fifo(): failed to link to measurand fifo");
        return false;
    }
    std::memset(MMemLineFifo_GetWritePointer(measurandFifo.get()), 0, lineLength);
    return true;
}

void MCameraMachAbstract::enable_commands() {
    for (const char* className : kEnabledCommands)
        EnableCommand(className);
}

// ---- Close ----

bool MCameraMachAbstract::Close() {
    remove_image_receivers();
    probeManager.Close();
    measurandFifo.reset();
    measurandFifoBytes = 0;
    axes.FreeValues();
    probeDB = nullptr;
    cameraProbeDB.reset();
    probesystemDB = nullptr;
    cameraProbesystemDB.reset();
    release_image_fifos();
    activeImageFifoName.clear();
    return true;
}

void MCameraMachAbstract::remove_image_receivers() {
    CSensor* camera = find_camera_sensor();
    measurement.Abandon(camera);
    axesCallback.Remove(camera);
    // Previews left running: no client is told any more, their records just go.
    if (previewReply != nullptr || previewWindow.IsThreadRunning()) {
        CSensor* sensor = camera != nullptr ? camera : probeManager.GetSensor();
        const CImageReceiver receiver{&MCameraMachAbstract::PreviewWindowCallback, &previewContext};
        MErrTrace_BeginContext();
        if (sensor != nullptr)
            sensor->SetPropertyData(1, &receiver);
        previewWindow.Close();
        MErrTrace_ClearContext();
        MErrTrace_EndContext();
        previewReply = nullptr;
        previewRegistered = false;
    }
    while (!previewMemories.empty())
        undo_preview_memory(previewMemories.begin()->first);
}

void MCameraMachAbstract::release_image_fifos() {
    for (auto& [fifoName, fifo] : imageFifos) {
        // Readers see the buffer withdrawn before its memory goes.
        if (fifo.ringBuffer64 != nullptr) {
            MMemBlockRingBuffer_Deactivate(fifo.ringBuffer64);
            MSharedMem_Destroy(fifo.ringBuffer64);
        }
        if (fifo.ringBuffer32 != nullptr) {
            MMemBlockRingBuffer32_Deactivate(fifo.ringBuffer32);
            MSharedMem_Destroy(fifo.ringBuffer32);
        }
    }
    imageFifos.clear();
    imageFifoCursor.reset();
}

// ---- Queries and tables ----

void MCameraMachAbstract::PollAsyncErrors() {
    send_resync_if_pending();
}

void MCameraMachAbstract::install_update_axes_callback() {
    axesCallback.Install(probeManager.GetSensor());
}

CSensor* MCameraMachAbstract::find_camera_sensor() const {
    for (CSensor* sensor : probeManager.GetSensors()) {
        const char* sensorClass = sensor->GetSensorClass();
        if (std::strcmp(sensorClass, "Camera") == 0 || std::strcmp(sensorClass, "ZF290") == 0)
            return sensor;
    }
    return nullptr;
}

std::string MCameraMachAbstract::GetSensorName() {
    const CSensor* camera = find_camera_sensor();
    return camera == nullptr ? std::string() : std::string(camera->GetName());
}

std::string MCameraMachAbstract::GetVersion() {
    return "1.00-0";
}

std::string MCameraMachAbstract::GetSensorSerialNo() {
    const CSensor* camera = find_camera_sensor();
    return camera == nullptr ? std::string() : std::string(camera->GetSerialNo());
}

const MMachComponentEntry* MCameraMachAbstract::FindComponent(const std::string& component) {
    auto it = components.find(component);
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

const MMachAxis* MCameraMachAbstract::FindAxis(const std::string& axis) {
    return axes.Find(axis);
}

const MMachAxis* MCameraMachAbstract::FirstAxis() {
    return axes.First();
}

const MMachAxis* MCameraMachAbstract::NextAxis() {
    return axes.Next();
}

double MCameraMachAbstract::GetAxisValue(const std::string& axis) {
    return axes.GetValue(axis);
}

void MCameraMachAbstract::GetAxisValues(const std::vector<std::string>& names,
                                        std::vector<double>& values) {
    std::vector<size_t> indexes;
    indexes.reserve(names.size());
    for (const std::string& axis : names)
        indexes.push_back(axes.IndexOf(axis));
    axes.GetValues(indexes, values);
}

bool MCameraMachAbstract::IsTimeOnly(const std::map<std::string, MMachScanTarget>& scanAxes) {
    for (const auto& entry : scanAxes)
        if (entry.first != "time")
            return false;
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
    auto it = imageFifos.begin();
    if (it == imageFifos.end())
        return nullptr;
    imageFifoCursor = it->first;
    return &it->second;
}

MMachImagefifo* MCameraMachAbstract::NextImageFifo() {
    // By name, so that a FIFO deleted between two calls does not break the iteration.
    if (!imageFifoCursor)
        return nullptr;
    auto it = imageFifos.upper_bound(*imageFifoCursor);
    if (it == imageFifos.end()) {
        imageFifoCursor.reset();
        return nullptr;
    }
    imageFifoCursor = it->first;
    return &it->second;
}

bool MCameraMachAbstract::NotProvided97() {
    return true;
}
