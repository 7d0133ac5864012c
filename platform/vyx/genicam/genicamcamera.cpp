#include "platform/vyx/genicam/genicamcamera.h"

#include "platform/vyx/camerainfoxml.h"
#include "platform/vyx/genicam/genicamaravis.h"
#include "platform/vyx/genicam/genicamfeatures.h"

#include <arv.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace Vyx::genicam {

namespace {

thread_local std::string t_lastError;

bool Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool Fail(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    t_lastError = text;
    return false;
}

// True when Aravis reported no error; otherwise its message goes to why.
bool Ok(GError*& error, std::string& why) {
    if (error == nullptr)
        return true;
    why = error->message != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return false;
}

bool InRange(double value, double minimum, double maximum) {
    return value >= minimum && value <= maximum; // false for NaN
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Points TriggerMode at the trigger that starts each frame; false when there is no trigger.
bool SelectFrameTrigger(const CGenicamFeatures& features) {
    std::string why;
    if (!features.Has("TriggerMode"))
        return false;
    if (features.Has("TriggerSelector"))
        features.SetString("TriggerSelector", "FrameStart", why);
    return true;
}

// The temperature goes with the frames; the camera is asked for it this often.
constexpr int64_t kTemperatureIntervalNs = 1000000000;

} // namespace

CGenicamCamera& CGenicamCamera::Instance() {
    // Never destroyed: at exit, Aravis's threads and GLib may be gone before static objects.
    static CGenicamCamera* camera = new CGenicamCamera;
    return *camera;
}

CGenicamCamera::~CGenicamCamera() = default;

bool CGenicamCamera::Ready(const char* operation) const {
    if (!m_initialised)
        return Fail("%s(): camera not initialised", operation);
    return true;
}

bool CGenicamCamera::Answers(const char* operation) const {
    if (!Ready(operation))
        return false;
    // Every call to a camera that is gone waits for the network's time-out first.
    if (m_controlLost.load())
        return Fail("%s(): camera %s stopped answering (control lost): is it off, unplugged or "
                    "taken over by another program?",
                    operation, m_config.device.c_str());
    return true;
}

void CGenicamCamera::OnControlLost(void*, void* self) {
    static_cast<CGenicamCamera*>(self)->m_controlLost.store(true);
}

void CGenicamCamera::StopCamera() {
    if (m_controlLost.load())
        return;
    GError* error = nullptr;
    arv_camera_stop_acquisition(m_camera, &error);
    g_clear_error(&error);
}

int CGenicamCamera::Initialize(const char*, int) {
    Fail("Initialize(): the GenICam camera opens through CImgSensors::GetInstance and a "
         "[GenICam] section");
    return -1;
}

int CGenicamCamera::Open(const GenicamConfig& config) {
    if (CGenicamReceivers::InCallback()) {
        Fail("Initialize(): called from an image callback");
        return -1;
    }
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_initialised)
            return 0;
    }
    std::string why;
    ArvCamera* camera = OpenAravisCamera(config.device, config.WantsFakeCamera(), why);
    if (camera == nullptr) {
        Fail("Initialize(): no GenICam camera \"%s\" (%s, configured in %s); vyxcam list shows "
             "the cameras this machine sees",
             config.device.c_str(), why.c_str(), config.file.c_str());
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_camera = camera;
    m_controlLost.store(false);
    if (!Prepare(config)) {
        g_object_unref(m_camera);
        m_camera = nullptr;
        return -1;
    }
    // A GigE Vision camera that stops answering its heartbeat is gone until it is opened again.
    g_signal_connect(arv_camera_get_device(m_camera), "control-lost", G_CALLBACK(OnControlLost),
                     this);
    m_initialised = true;
    return 1;
}

bool CGenicamCamera::Prepare(const GenicamConfig& config) {
    CGenicamFeatures features(m_camera);
    std::string why;
    GError* error = nullptr;
    m_config = config;
    m_celsiusReadNs.store(0);

    // A camera left streaming by a process that died would keep the stream busy.
    arv_camera_stop_acquisition(m_camera, &error);
    g_clear_error(&error);

    const char* device = config.device.c_str();
    m_deviceId = device;
    if (const char* id = arv_camera_get_device_id(m_camera, &error))
        m_deviceId = id;
    g_clear_error(&error);
    auto text = [&](auto getter, std::string& target) {
        const char* value = getter(m_camera, &error);
        target = value != nullptr && error == nullptr ? value : "";
        g_clear_error(&error);
    };
    text(arv_camera_get_vendor_name, m_manufacturer);
    text(arv_camera_get_model_name, m_model);
    text(arv_camera_get_device_serial_number, m_serialNumber);
    m_version.clear();
    m_firmware.clear();
    if (features.Has("DeviceVersion"))
        features.GetString("DeviceVersion", m_version, why);
    if (features.Has("DeviceFirmwareVersion"))
        features.GetString("DeviceFirmwareVersion", m_firmware, why);
    m_protocol = arv_camera_is_gv_device(m_camera)   ? "GigE Vision"
                 : arv_camera_is_uv_device(m_camera) ? "USB3 Vision"
                                                     : "Aravis fake camera";

    if (!ChoosePixelFormat(config.pixelFormat) || !PrepareNetwork(config))
        return false;
    // The module sets exposure and gain itself; the camera must not change them under it.
    if (features.Has("ExposureAuto"))
        features.SetString("ExposureAuto", "Off", why);
    if (features.Has("GainAuto"))
        features.SetString("GainAuto", "Off", why);
    if (features.Has("AcquisitionMode") &&
        !features.SetString("AcquisitionMode", "Continuous", why))
        return Fail("Initialize(): camera %s cannot acquire continuously: %s", device, why.c_str());
    if (!ReadGeometry())
        return false;

    if (config.pixelWidthMm > 0) {
        m_pixelWidthMm = config.pixelWidthMm;
        m_pixelHeightMm = config.pixelHeightMm;
    } else {
        double width = 0, height = 0;
        if (!features.Has("SensorPixelWidth") || !features.Has("SensorPixelHeight") ||
            !features.GetFloat("SensorPixelWidth", width, why) ||
            !features.GetFloat("SensorPixelHeight", height, why) || !(width > 0) || !(height > 0))
            return Fail("Initialize(): camera %s does not tell its pixel size (no "
                        "SensorPixelWidth and SensorPixelHeight); give pixel_width_mm and "
                        "pixel_height_mm in [GenICam] of %s",
                        device, config.file.c_str());
        // SensorPixelWidth and SensorPixelHeight are in micrometres.
        m_pixelWidthMm = width / 1000.0;
        m_pixelHeightMm = height / 1000.0;
    }

    if (!config.lightFeature.empty()) {
        const char* light = config.lightFeature.c_str();
        if (!features.Has(light) || (!features.IsFloat(light) && !features.IsInteger(light)))
            return Fail("Initialize(): camera %s has no number feature %s for the light (light "
                        "in [GenICam] of %s)",
                        device, light, config.file.c_str());
    }
    m_hasTemperature = features.Has("DeviceTemperature");
    return true;
}

bool CGenicamCamera::PrepareNetwork(const GenicamConfig& config) {
    m_statistics.reset();
    m_network = NetworkOptions();
    m_gige = GigEAddresses(m_camera, m_interfaceAddress, m_cameraAddress);
    if (!m_gige)
        return true;
    const char* device = config.device.c_str();
    GError* error = nullptr;
    std::string why;
    m_network.socketBufferBytes = config.socketBufferBytes;
    m_network.packetResend = config.packetResend;
    arv_camera_gv_set_stream_options(m_camera, config.packetSocket
                                                   ? ARV_GV_STREAM_OPTION_NONE
                                                   : ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED);
    const char* sizeChosen = "negotiated";
    if (config.packetSize == 0) {
        // The largest packets the path carries: fewer packets per frame to lose and to handle.
        arv_camera_gv_auto_packet_size(m_camera, &error);
        if (!Ok(error, why))
            sizeChosen = "the camera's, not negotiated";
    } else {
        int64_t minimum = 0, maximum = 0, increment = 1;
        if (CGenicamFeatures(m_camera).IntegerLimits("GevSCPSPacketSize", minimum, maximum,
                                                     increment, why) &&
            (config.packetSize < minimum || config.packetSize > maximum))
            return Fail("Initialize(): camera %s sends packets of %lld..%lld bytes, not "
                        "packet_size %u of [GenICam] in %s",
                        device, static_cast<long long>(minimum), static_cast<long long>(maximum),
                        config.packetSize, config.file.c_str());
        arv_camera_gv_set_packet_size(m_camera, int(config.packetSize), &error);
        if (!Ok(error, why))
            return Fail("Initialize(): camera %s refuses packet_size %u of [GenICam] in %s: %s",
                        device, config.packetSize, config.file.c_str(), why.c_str());
        // The size is the user's choice: Aravis must not change it when its test fails.
        arv_camera_gv_set_packet_size_adjustment(m_camera, ARV_GV_PACKET_SIZE_ADJUSTMENT_NEVER);
        sizeChosen = "configured";
    }
    const guint size = arv_camera_gv_get_packet_size(m_camera, &error);
    g_clear_error(&error);
    char text[160];
    snprintf(text, sizeof text, "packets of %u bytes (%s), packet socket %s", size, sizeChosen,
             config.packetSocket ? "where allowed" : "off");
    m_network.description = text;
    return true;
}

bool CGenicamCamera::ChoosePixelFormat(const std::string& wanted) {
    GError* error = nullptr;
    std::string why;
    const char* device = m_config.device.c_str();
    auto take = [&](const char* name) {
        arv_camera_set_pixel_format_from_string(m_camera, name, &error);
        return Ok(error, why);
    };
    if (!wanted.empty()) {
        if (!take(wanted.c_str()))
            return Fail("Initialize(): camera %s does not take pixel format %s: %s", device,
                        wanted.c_str(), why.c_str());
    } else {
        const ArvPixelFormat current = arv_camera_get_pixel_format(m_camera, &error);
        if (!Ok(error, why))
            return Fail("Initialize(): camera %s has no readable PixelFormat: %s", device,
                        why.c_str());
        if (FindPixelFormat(current) == nullptr && !take("Mono8") && !take("Mono16"))
            return Fail("Initialize(): camera %s offers none of the pixel formats taken (%s); "
                        "colour, Bayer and packed formats are not",
                        device, TakenPixelFormats().c_str());
    }
    const ArvPixelFormat chosen = arv_camera_get_pixel_format(m_camera, &error);
    if (!Ok(error, why) || (m_format = FindPixelFormat(chosen)) == nullptr)
        return Fail("Initialize(): camera %s reports pixel format 0x%08x, not one of %s", device,
                    static_cast<unsigned>(chosen), TakenPixelFormats().c_str());
    return true;
}

bool CGenicamCamera::ReadGeometry() {
    CGenicamFeatures features(m_camera);
    std::string why;
    const char* device = m_config.device.c_str();
    int64_t minimum = 0, maximum = 0, increment = 1, value = 0;
    int64_t size[2] = {0, 0};
    const char* sizeFeatures[2][2] = {{"SensorWidth", "WidthMax"}, {"SensorHeight", "HeightMax"}};
    const char* extent[2] = {"Width", "Height"};
    for (int i = 0; i < 2; ++i) {
        for (const char* feature : sizeFeatures[i])
            if (size[i] == 0 && features.Has(feature) && features.GetInteger(feature, value, why))
                size[i] = value;
        if (!features.IntegerLimits(extent[i], minimum, maximum, increment, why))
            return Fail("Initialize(): camera %s has no %s limits: %s", device, extent[i],
                        why.c_str());
        if (size[i] == 0)
            size[i] = maximum;
        if (size[i] <= 0 || size[i] > 1000000 || minimum < 1 || minimum > size[i])
            return Fail("Initialize(): camera %s reports a sensor of %lld pixels and a %s of at "
                        "least %lld",
                        device, static_cast<long long>(size[i]), extent[i],
                        static_cast<long long>(minimum));
        // Sizes go from the minimum in steps; the largest is the last step on the sensor.
        Limits& limits = m_limits[i == 0 ? ClipAxis_Width : ClipAxis_Height];
        limits.minimum = static_cast<int32_t>(minimum);
        limits.increment = static_cast<int32_t>(increment);
        limits.maximum =
            static_cast<int32_t>(minimum + (size[i] - minimum) / increment * increment);
    }
    m_sensorWidth = static_cast<uint32_t>(size[0]);
    m_sensorHeight = static_cast<uint32_t>(size[1]);

    GError* error = nullptr;
    m_offsetsAvailable = arv_camera_is_region_offset_available(m_camera, &error);
    g_clear_error(&error);
    const char* offsets[2] = {"OffsetX", "OffsetY"};
    for (int i = 0; i < 2; ++i) {
        Limits& limits = m_limits[i == 0 ? ClipAxis_OffsetX : ClipAxis_OffsetY];
        const Limits& extentLimits = m_limits[i == 0 ? ClipAxis_Width : ClipAxis_Height];
        increment = 1;
        if (m_offsetsAvailable &&
            !features.IntegerLimits(offsets[i], minimum, maximum, increment, why))
            return Fail("Initialize(): camera %s has no %s limits: %s", device, offsets[i],
                        why.c_str());
        // Offsets are multiples of the step that keep the smallest image on the sensor.
        const int64_t room = (i == 0 ? size[0] : size[1]) - extentLimits.minimum;
        limits.minimum = 0;
        limits.increment = static_cast<int32_t>(increment);
        limits.maximum =
            m_offsetsAvailable ? static_cast<int32_t>(room / increment * increment) : 0;
    }
    if (!ReadRegion(m_region, why))
        return Fail("Initialize(): camera %s does not tell its image region: %s", device,
                    why.c_str());
    return true;
}

bool CGenicamCamera::ReadRegion(Region& region, std::string& why) {
    GError* error = nullptr;
    gint x = 0, y = 0, width = 0, height = 0;
    arv_camera_get_region(m_camera, &x, &y, &width, &height, &error);
    if (!Ok(error, why))
        return false;
    region.x = x;
    region.y = y;
    region.width = static_cast<uint32_t>(width);
    region.height = static_cast<uint32_t>(height);
    return true;
}

bool CGenicamCamera::Uninitialize(int) {
    if (CGenicamReceivers::InCallback())
        return Fail("Uninitialize(): called from an image callback");
    std::lock_guard<std::mutex> lifecycle(m_lifecycle);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready("Uninitialize"))
            return false;
    }
    {
        std::lock_guard<std::mutex> acquisition(m_acquisition);
        StopAcquisition();
    }
    m_receivers.Clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initialised = false;
    g_signal_handlers_disconnect_by_data(arv_camera_get_device(m_camera), this);
    // Dropping the camera object gives the device free for other programs.
    g_object_unref(m_camera);
    m_camera = nullptr;
    m_pools.clear();
    for (CImgBuffer& record : m_records)
        record = CImgBuffer();
    return true;
}

bool CGenicamCamera::RegisterImgStreamInput(void* context, ImgStreamCallback callback, int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready("RegisterImgStreamInput"))
            return false;
    }
    if (callback == nullptr)
        return Fail("RegisterImgStreamInput(): no callback");
    m_receivers.Add(context, callback);
    return true;
}

bool CGenicamCamera::UnregisterImgStreamInput(void* context, ImgStreamCallback callback, int) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready("UnregisterImgStreamInput"))
            return false;
    }
    if (!m_receivers.Remove(context, callback))
        return Fail("UnregisterImgStreamInput(): callback not registered");
    return true;
}

CGenicamCamera::Pool& CGenicamCamera::PoolFor(size_t bytes) {
    for (Pool& pool : m_pools)
        if (pool.bytes >= bytes && pool.blocks.size() == m_config.buffers)
            return pool;
    Pool pool;
    pool.bytes = bytes;
    for (uint32_t i = 0; i < m_config.buffers; ++i)
        pool.blocks.push_back(std::make_unique<uint8_t[]>(bytes));
    m_pools.push_back(std::move(pool));
    return m_pools.back();
}

bool CGenicamCamera::Grab(int) {
    if (CGenicamReceivers::InCallback())
        return Fail("Grab(): called from an image callback");
    std::lock_guard<std::mutex> acquisition(m_acquisition);
    std::unique_ptr<CGenicamSession> stopped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Answers("Grab"))
            return false;
        if (m_session != nullptr)
            return true;
        stopped = std::move(m_stopped);
    }
    // Its thread may still run a callback that calls us: end it without holding m_mutex.
    stopped.reset();

    std::lock_guard<std::mutex> lock(m_mutex);
    const char* device = m_config.device.c_str();
    GError* error = nullptr;
    std::string why;
    const guint payload = arv_camera_get_payload(m_camera, &error);
    if (!Ok(error, why) || payload == 0)
        return Fail("Grab(): camera %s does not tell its frame size: %s", device,
                    payload == 0 ? "0 bytes" : why.c_str());
    Pool& pool = PoolFor(payload);
    SessionSetup setup;
    setup.camera = m_camera;
    for (const std::unique_ptr<uint8_t[]>& block : pool.blocks)
        setup.memory.push_back(block.get());
    setup.bufferBytes = pool.bytes;
    setup.width = m_region.width;
    setup.height = m_region.height;
    setup.format = m_format;
    setup.incompleteAsLost = m_config.incompleteAsLost;
    setup.receivers = &m_receivers;
    setup.records = &m_records;
    if (m_hasTemperature)
        setup.temperature = [this](double& celsius) { return Temperature(celsius); };
    setup.network = m_network;
    setup.network.frameBytes = payload;
    std::unique_ptr<CGenicamSession> session = CGenicamSession::Create(setup, why);
    if (session == nullptr)
        return Fail("Grab(): camera %s gives no stream: %s", device, why.c_str());
    arv_camera_start_acquisition(m_camera, &error);
    if (!Ok(error, why)) {
        // No frame comes before the start, so no callback can be waiting for m_mutex.
        session->Halt();
        session.reset();
        return Fail("Grab(): camera %s does not start: %s", device, why.c_str());
    }
    m_session = std::move(session);
    return true;
}

void CGenicamCamera::StopAcquisition() {
    std::unique_ptr<CGenicamSession> session, stopped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = std::move(m_session);
        stopped = std::move(m_stopped);
    }
    if (session != nullptr) {
        // First no more frames to the callbacks (a callback in progress may need m_mutex),
        // then the camera stops, then the stream's thread ends.
        session->Halt();
        std::lock_guard<std::mutex> lock(m_mutex);
        StopCamera();
        KeepStatistics(*session);
    }
    session.reset();
    stopped.reset();
}

bool CGenicamCamera::Freeze(int) {
    if (CGenicamReceivers::InCallback()) {
        // On the stream's thread, which cannot wait for itself: the stream ends at the next
        // Grab or Uninitialize.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready("Freeze"))
            return false;
        if (m_session != nullptr) {
            m_session->Halt();
            StopCamera();
            KeepStatistics(*m_session);
            m_stopped = std::move(m_session);
        }
        return true;
    }
    std::lock_guard<std::mutex> acquisition(m_acquisition);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!Ready("Freeze"))
            return false;
    }
    StopAcquisition();
    return true;
}

void CGenicamCamera::KeepStatistics(const CGenicamSession& session) {
    CStreamStatistics statistics;
    if (session.Statistics(statistics))
        m_statistics = statistics;
}

bool CGenicamCamera::Statistics(CStreamStatistics& statistics, std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_initialised) {
        why = "camera not initialised";
        return false;
    }
    if (!m_gige) {
        why = "camera " + m_config.device + " is no GigE Vision camera: its stream has no packets";
        return false;
    }
    if (m_session != nullptr) {
        m_session->Statistics(statistics);
    } else if (m_statistics) {
        statistics = *m_statistics;
    } else {
        why = "camera " + m_config.device + " has not acquired since it opened";
        return false;
    }
    statistics.interfaceAddress = m_interfaceAddress;
    statistics.cameraAddress = m_cameraAddress;
    return true;
}

bool CGenicamCamera::Temperature(double& celsius) {
    const int64_t now = NowNs();
    const int64_t read = m_celsiusReadNs.load();
    if (read == 0 || now - read >= kTemperatureIntervalNs) {
        // The stream's thread must not wait for a user's call: skip a turn instead.
        std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock() && m_initialised && !m_controlLost.load()) {
            double value = 0;
            std::string why;
            if (CGenicamFeatures(m_camera).GetFloat("DeviceTemperature", value, why)) {
                m_celsius.store(value);
                m_celsiusReadNs.store(now);
            }
        }
    }
    if (m_celsiusReadNs.load() == 0)
        return false;
    celsius = m_celsius.load();
    return true;
}

bool CGenicamCamera::GetImageInfo(CImageInfo* info, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetImageInfo"))
        return false;
    if (info == nullptr)
        return Fail("GetImageInfo(): no result record");
    info->imageWidth = m_sensorWidth;
    info->imageHeight = m_sensorHeight;
    info->memoryWidth = m_sensorWidth;
    info->memoryHeight = m_sensorHeight;
    info->clipX = m_region.x;
    info->clipY = m_region.y;
    info->clipWidth = m_region.width;
    info->clipHeight = m_region.height;
    info->memoryBytesPerPixel = m_format->bytesPerPixel;
    info->arrangement = 0;
    info->pixelFormat = m_format->code;
    return true;
}

bool CGenicamCamera::GetImageMemoryCaps(std::set<int32_t>* caps, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetImageMemoryCaps"))
        return false;
    if (caps == nullptr)
        return Fail("GetImageMemoryCaps(): no result set");
    caps->clear();
    if (m_hasTemperature)
        caps->insert(ImgCap_TemperatureSensor);
    if (m_offsetsAvailable)
        caps->insert(ImgCap_PartialScan);
    if (!m_config.lightFeature.empty())
        caps->insert(ImgCap_LightControl);
    return true;
}

int CGenicamCamera::GetPixelSize(double* widthMm, double* heightMm, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetPixelSize"))
        return 0;
    if (widthMm == nullptr || heightMm == nullptr)
        return Fail("GetPixelSize(): no result variable");
    *widthMm = m_pixelWidthMm;
    *heightMm = m_pixelHeightMm;
    return 1;
}

int CGenicamCamera::GetClippingLimits(int32_t axis, int32_t* minimum, int32_t* maximum,
                                      int32_t* increment, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetClippingLimits"))
        return 0;
    if (minimum == nullptr || maximum == nullptr || increment == nullptr)
        return Fail("GetClippingLimits(): no result variable");
    if (axis < ClipAxis_OffsetX || axis > ClipAxis_Height)
        return Fail("GetClippingLimits(): unknown axis %d", axis);
    *minimum = m_limits[axis].minimum;
    *maximum = m_limits[axis].maximum;
    *increment = m_limits[axis].increment;
    return 1;
}

bool CGenicamCamera::SetExposure(double milliseconds, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetExposure"))
        return false;
    GError* error = nullptr;
    std::string why;
    double minimum = 0, maximum = 0;
    arv_camera_get_exposure_time_bounds(m_camera, &minimum, &maximum, &error);
    if (!Ok(error, why))
        return Fail("SetExposure(): camera %s has no exposure time: %s", m_config.device.c_str(),
                    why.c_str());
    // GenICam counts exposure in microseconds.
    if (!InRange(milliseconds * 1000.0, minimum, maximum))
        return Fail("SetExposure(): %g ms outside %g..%g ms", milliseconds, minimum / 1000.0,
                    maximum / 1000.0);
    arv_camera_set_exposure_time(m_camera, milliseconds * 1000.0, &error);
    if (!Ok(error, why))
        return Fail("SetExposure(): %g ms: %s", milliseconds, why.c_str());
    return true;
}

bool CGenicamCamera::GetExposure(double* milliseconds, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("GetExposure"))
        return false;
    if (milliseconds == nullptr)
        return Fail("GetExposure(): no result variable");
    GError* error = nullptr;
    std::string why;
    const double microseconds = arv_camera_get_exposure_time(m_camera, &error);
    if (!Ok(error, why))
        return Fail("GetExposure(): %s", why.c_str());
    *milliseconds = microseconds / 1000.0;
    return true;
}

bool CGenicamCamera::SetFrameRate(double framesPerSecond, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetFrameRate"))
        return false;
    GError* error = nullptr;
    std::string why;
    double minimum = 0, maximum = 0;
    arv_camera_get_frame_rate_bounds(m_camera, &minimum, &maximum, &error);
    if (!Ok(error, why))
        return Fail("SetFrameRate(): camera %s has no frame rate: %s", m_config.device.c_str(),
                    why.c_str());
    if (!InRange(framesPerSecond, minimum, maximum))
        return Fail("SetFrameRate(): %g fps outside %g..%g fps", framesPerSecond, minimum, maximum);
    // Aravis sets a frame rate by switching the frame trigger off; the trigger is not the
    // frame rate's to change.
    CGenicamFeatures features(m_camera);
    std::string trigger;
    const bool triggered = SelectFrameTrigger(features) &&
                           features.GetString("TriggerMode", trigger, why) && trigger == "On";
    arv_camera_set_frame_rate(m_camera, framesPerSecond, &error);
    if (!Ok(error, why))
        return Fail("SetFrameRate(): %g fps: %s", framesPerSecond, why.c_str());
    if (triggered &&
        (!SelectFrameTrigger(features) || !features.SetString("TriggerMode", "On", why)))
        return Fail("SetFrameRate(): %g fps set, but the frame trigger stays off: %s",
                    framesPerSecond, why.c_str());
    return true;
}

bool CGenicamCamera::GetFrameRate(double* framesPerSecond, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("GetFrameRate"))
        return false;
    if (framesPerSecond == nullptr)
        return Fail("GetFrameRate(): no result variable");
    GError* error = nullptr;
    std::string why;
    const double rate = arv_camera_get_frame_rate(m_camera, &error);
    if (!Ok(error, why))
        return Fail("GetFrameRate(): %s", why.c_str());
    *framesPerSecond = rate;
    return true;
}

bool CGenicamCamera::SetGain(double gain, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetGain"))
        return false;
    GError* error = nullptr;
    std::string why;
    double minimum = 0, maximum = 0;
    arv_camera_get_gain_bounds(m_camera, &minimum, &maximum, &error);
    if (!Ok(error, why))
        return Fail("SetGain(): camera %s has no gain: %s", m_config.device.c_str(), why.c_str());
    if (!InRange(gain, minimum, maximum))
        return Fail("SetGain(): %g outside %g..%g", gain, minimum, maximum);
    arv_camera_set_gain(m_camera, gain, &error);
    if (!Ok(error, why))
        return Fail("SetGain(): %g: %s", gain, why.c_str());
    return true;
}

bool CGenicamCamera::GetGain(double* gain, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("GetGain"))
        return false;
    if (gain == nullptr)
        return Fail("GetGain(): no result variable");
    GError* error = nullptr;
    std::string why;
    const double value = arv_camera_get_gain(m_camera, &error);
    if (!Ok(error, why))
        return Fail("GetGain(): %s", why.c_str());
    *gain = value;
    return true;
}

bool CGenicamCamera::SetClippingRegion(int32_t x, int32_t y, uint32_t width, uint32_t height, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetClippingRegion"))
        return false;
    Region wanted{x, y, width != 0 ? width : m_sensorWidth, height != 0 ? height : m_sensorHeight};
    if (wanted.x < 0 || wanted.y < 0 || uint64_t(wanted.x) + wanted.width > m_sensorWidth ||
        uint64_t(wanted.y) + wanted.height > m_sensorHeight)
        return Fail("SetClippingRegion(): region %ux%u%+d%+d lies outside the %ux%u sensor",
                    wanted.width, wanted.height, wanted.x, wanted.y, m_sensorWidth, m_sensorHeight);
    const Limits& w = m_limits[ClipAxis_Width];
    const Limits& h = m_limits[ClipAxis_Height];
    const Limits& ox = m_limits[ClipAxis_OffsetX];
    const Limits& oy = m_limits[ClipAxis_OffsetY];
    if (int64_t(wanted.width) < w.minimum || int64_t(wanted.height) < h.minimum ||
        (int64_t(wanted.width) - w.minimum) % w.increment != 0 ||
        (int64_t(wanted.height) - h.minimum) % h.increment != 0 || wanted.x > ox.maximum ||
        wanted.y > oy.maximum || wanted.x % ox.increment != 0 || wanted.y % oy.increment != 0)
        return Fail("SetClippingRegion(): region %ux%u%+d%+d is off the camera's steps (width "
                    "%d+%dn, height %d+%dn, x %dn up to %d, y %dn up to %d)",
                    wanted.width, wanted.height, wanted.x, wanted.y, w.minimum, w.increment,
                    h.minimum, h.increment, ox.increment, ox.maximum, oy.increment, oy.maximum);
    if (wanted == m_region)
        return true;
    const char* device = m_config.device.c_str();
    GError* error = nullptr;
    std::string why;
    if (m_session != nullptr) {
        // The stream's buffers have the size of the running image; only its place may move.
        if (wanted.width != m_region.width || wanted.height != m_region.height)
            return Fail("SetClippingRegion(): camera %s cannot change the image size from %ux%u "
                        "to %ux%u while it acquires",
                        device, m_region.width, m_region.height, wanted.width, wanted.height);
        CGenicamFeatures features(m_camera);
        if (!features.SetNumber("OffsetX", wanted.x, why) ||
            !features.SetNumber("OffsetY", wanted.y, why)) {
            std::string ignored;
            ReadRegion(m_region, ignored);
            return Fail("SetClippingRegion(): camera %s cannot move the image while it acquires: "
                        "%s",
                        device, why.c_str());
        }
    } else {
        arv_camera_set_region(m_camera, wanted.x, wanted.y, int(wanted.width), int(wanted.height),
                              &error);
        if (!Ok(error, why)) {
            std::string ignored;
            ReadRegion(m_region, ignored);
            return Fail("SetClippingRegion(): camera %s refuses region %ux%u%+d%+d: %s", device,
                        wanted.width, wanted.height, wanted.x, wanted.y, why.c_str());
        }
    }
    if (!ReadRegion(m_region, why))
        return Fail("SetClippingRegion(): camera %s does not tell its image region: %s", device,
                    why.c_str());
    if (!(m_region == wanted))
        return Fail("SetClippingRegion(): camera %s took region %ux%u%+d%+d for %ux%u%+d%+d",
                    device, m_region.width, m_region.height, m_region.x, m_region.y, wanted.width,
                    wanted.height, wanted.x, wanted.y);
    return true;
}

bool CGenicamCamera::SetSmartParam(const CSmartCamParamBase*, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("SetSmartParam"))
        return false;
    return Fail("SetSmartParam(): camera %s is a GenICam camera, which has no parameter block",
                m_config.device.c_str());
}

bool CGenicamCamera::GetSmartParam(CSmartCamParamBase*, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetSmartParam"))
        return false;
    return Fail("GetSmartParam(): camera %s is a GenICam camera, which has no parameter block",
                m_config.device.c_str());
}

bool CGenicamCamera::SetScanningMode(int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("SetScanningMode"))
        return false;
    // A GenICam camera reads out exactly its region: both modes are what it does anyway.
    if (mode != ScanMode_FullFrame && mode != ScanMode_Partial)
        return Fail("SetScanningMode(): unknown mode %d", mode);
    return true;
}

bool CGenicamCamera::SetDataTransferVolume(int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("SetDataTransferVolume"))
        return false;
    return Fail("SetDataTransferVolume(%d): camera %s is a GenICam camera, which has no "
                "transfer modes",
                mode, m_config.device.c_str());
}

bool CGenicamCamera::FlashSettings(int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("FlashSettings"))
        return false;
    CGenicamFeatures features(m_camera);
    const char* device = m_config.device.c_str();
    const std::string& set = m_config.userSet;
    std::string why;
    if (!features.Has("UserSetSelector") || !features.Has("UserSetSave"))
        return Fail("FlashSettings(): camera %s has no user set to save its settings in", device);
    if (!features.SetString("UserSetSelector", set, why) || !features.Execute("UserSetSave", why))
        return Fail("FlashSettings(): camera %s cannot save user set %s: %s", device, set.c_str(),
                    why.c_str());
    // The saved set is the one the camera starts with.
    for (const char* feature : {"UserSetDefault", "UserSetDefaultSelector"})
        if (features.Has(feature)) {
            if (!features.SetString(feature, set, why))
                return Fail("FlashSettings(): camera %s saved user set %s but does not start "
                            "with it: %s",
                            device, set.c_str(), why.c_str());
            break;
        }
    return true;
}

bool CGenicamCamera::SetLightIntensity(int32_t channel, double intensity, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetLightIntensity"))
        return false;
    const char* light = m_config.lightFeature.c_str();
    if (m_config.lightFeature.empty())
        return Fail("SetLightIntensity(): camera %s drives no light (name its feature as light "
                    "in [GenICam])",
                    m_config.device.c_str());
    if (channel != 0)
        return Fail("SetLightIntensity(): no light channel %d", channel);
    CGenicamFeatures features(m_camera);
    std::string why;
    double minimum = 0, maximum = 0;
    if (!features.NumberLimits(light, minimum, maximum, why))
        return Fail("SetLightIntensity(): %s: %s", light, why.c_str());
    if (!InRange(intensity, minimum, maximum))
        return Fail("SetLightIntensity(): %g outside %g..%g", intensity, minimum, maximum);
    if (!features.SetNumber(light, intensity, why))
        return Fail("SetLightIntensity(): %s = %g: %s", light, intensity, why.c_str());
    return true;
}

bool CGenicamCamera::GetLightIntensity(int32_t channel, double* intensity, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("GetLightIntensity"))
        return false;
    if (m_config.lightFeature.empty())
        return Fail("GetLightIntensity(): camera %s drives no light (name its feature as light "
                    "in [GenICam])",
                    m_config.device.c_str());
    if (channel != 0)
        return Fail("GetLightIntensity(): no light channel %d", channel);
    if (intensity == nullptr)
        return Fail("GetLightIntensity(): no result variable");
    std::string why;
    if (!CGenicamFeatures(m_camera).GetNumber(m_config.lightFeature.c_str(), *intensity, why))
        return Fail("GetLightIntensity(): %s: %s", m_config.lightFeature.c_str(), why.c_str());
    return true;
}

bool CGenicamCamera::SetTriggerMode(int32_t channel, int32_t mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("SetTriggerMode"))
        return false;
    if (channel != 0)
        return Fail("SetTriggerMode(): no light channel %d", channel);
    CGenicamFeatures features(m_camera);
    std::string why;
    if (!features.Has("TriggerMode"))
        return Fail("SetTriggerMode(): camera %s has no TriggerMode", m_config.device.c_str());
    if (mode != 0 && mode != 1)
        return Fail("SetTriggerMode(): mode %d: the camera's TriggerMode takes 0 (Off) and 1 "
                    "(On)",
                    mode);
    if (!SelectFrameTrigger(features) ||
        !features.SetString("TriggerMode", mode == 1 ? "On" : "Off", why))
        return Fail("SetTriggerMode(): %d: %s", mode, why.c_str());
    return true;
}

bool CGenicamCamera::GetTriggerMode(int32_t channel, int32_t* mode, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Answers("GetTriggerMode"))
        return false;
    if (channel != 0)
        return Fail("GetTriggerMode(): no light channel %d", channel);
    if (mode == nullptr)
        return Fail("GetTriggerMode(): no result variable");
    CGenicamFeatures features(m_camera);
    std::string why, value;
    if (!features.Has("TriggerMode"))
        return Fail("GetTriggerMode(): camera %s has no TriggerMode", m_config.device.c_str());
    if (!SelectFrameTrigger(features) || !features.GetString("TriggerMode", value, why))
        return Fail("GetTriggerMode(): %s", why.c_str());
    *mode = value == "On" ? 1 : 0;
    return true;
}

std::string CGenicamCamera::SelfDescription() const {
    std::vector<std::pair<std::string, std::string>> items;
    // Items the camera does not tell are left out; readers then use their defaults.
    auto add = [&](const char* key, const std::string& value) {
        if (!value.empty())
            items.emplace_back(key, value);
    };
    add("manufacturer", m_manufacturer);
    add("devicename", m_model);
    add("productversion", m_version);
    add("serialnumber", m_serialNumber);
    char aravis[64];
    snprintf(aravis, sizeof aravis, "Aravis %u.%u.%u", arv_get_major_version(),
             arv_get_minor_version(), arv_get_micro_version());
    add("dllversion", aravis);
    add("driverversion", m_protocol);
    add("fpgaversion", m_firmware);
    add("sensorwidth", std::to_string(m_sensorWidth));
    add("sensorheight", std::to_string(m_sensorHeight));
    add("pixelformat", std::to_string(m_format->code));
    add("genicampixelformat", m_format->name);
    add("deviceid", m_deviceId);
    return CameraInfoXml(items);
}

bool CGenicamCamera::GetCameraInfo(std::string* xml, int) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Ready("GetCameraInfo"))
        return false;
    if (xml == nullptr)
        return Fail("GetCameraInfo(): no result text");
    *xml = SelfDescription();
    return true;
}

const char* CGenicamCamera::GetLastErrorText(int) {
    return t_lastError.c_str();
}

} // namespace Vyx::genicam
