#include "mt_proxy/camera/misc/csensorvyxcamera.h"

#include "csensor/sensors/csensorerrors.h"
#include "csensor/sensors/csensorinireader.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfileops.h"
#include "mt_proxy/camera/misc/csensorcamera.h"
#include "mt_proxy/camera/misc/csensorfiber.h"
#include "mt_proxy/camera/misc/cwidetext.h"
#include "mt_proxy/camera/misc/mcameraglobals.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cmath>
#include <cstring>
#include <set>

namespace {

const char kCameraTemplate[] = "[General]\n"
                               "Channels=imagewidth,imageheight,imageoffsetx,imageoffsety,gain,"
                               "shutter,framerate,light_intensity,light_trigger_mode\n"
                               "[Default]\n"
                               "Type=NUMBER\n"
                               "Access=D\n"
                               "Accuracy=1.\n"
                               "Step=1.\n"
                               "A_Max=0.\n"
                               "V_Max=0.\n"
                               "Max=1.\n"
                               "Min=1.\n"
                               "Default=0.0\n"
                               "Keypad=0\n"
                               "[imageoffsetx]\nAccess=R\nMin=0\n"
                               "[imageoffsety]\nAccess=RW\nMin=0\n"
                               "[imagewidth]\nAccess=R\n"
                               "[imageheight]\nAccess=RW\nMin=10\n"
                               "[light_intensity]\nMin=0\nMax=100\n"
                               "[light_trigger_mode]\nMin=0\nMax=7\n"
                               "[Camera]\n"
                               "flip_x=0 ; flip image around x axis (0/1)\n"
                               "flip_y=0 ; flip image around y axis (0/1)\n"
                               "width_mm=7.834\n"
                               "height_mm=6.267\n"
                               "gain=\n"
                               "shutter=\n";

// Longest self-description the XML reader is given, in wide characters.
constexpr size_t kMaxCameraInfo = 65535;

const char kHardwareSection[] = "Camera";

bool is_partial_scan_camera(const std::string& deviceName) {
    // These cameras read out partial frames only with a movable y offset.
    return deviceName == "TR3390c" || deviceName == "TR52817c";
}

// Runs one library call framed by the level-5 traces that name it.
template <class Call> bool traced_call(const char* caller, const char* call, Call&& run) {
    MTRACE(5, "%s(): %s() starting", caller, call);
    bool ok = run();
    MTRACE(5, "%s(): %s() finished", caller, call);
    return ok;
}

// Towards zero, and within reach of any frame, so that the arithmetic below cannot overflow.
int64_t truncate_pixels(double value) {
    const double limit = 1e9;
    return static_cast<int64_t>(value < -limit ? -limit : (value > limit ? limit : value));
}

} // namespace

uint32_t CSensorVyxCamera_GetBitsPerPixel(uint32_t pixelFormat) {
    switch (pixelFormat) {
    case 2:
        return 8;
    case 4:
        return 10;
    case 6:
    case 200:
        return 12;
    case 16: // a GenICam camera's Mono16
        return 16;
    case 21:
    case 22:
    case 34:
    case 38:
        return 24;
    default:
        MERRLOG("GetBitsPerPixel(): unknown format %d", static_cast<int>(pixelFormat));
        return 8;
    }
}

const char* CSensorVyxCamera::ChannelTemplate() {
    return kCameraTemplate;
}

// ---- Creation ----

std::unique_ptr<CSensor> CSensorVyxCamera::GetInstance() {
    Vyx::CImgSensors* camera = Vyx::CImgSensors::GetInstance();
    if (camera == nullptr) {
        MERRTRACE("GetInstance(): CImgSensors::GetInstance() failed");
        return nullptr;
    }
    std::string file;
    const std::string directory = MCameraGlobals_GetConfigDir();
    if (!directory.empty()) {
        file = file_join(directory, "vyxcamera.ini");
        MTRACE(4, "%s(): using configuration file %s", "CSensorVyxCamera::GetInstance",
               file.c_str());
    }
    MTRACE(5, "GetInstance(): calling Initialize()");
    const int result = camera->Initialize(file.empty() ? nullptr : file.c_str(), 0);
    if (result < 0) {
        // The camera library's reason comes first in the chain: a wrong configuration file or a
        // camera that lacks a feature is what the user has to mend.
        const char* reason = camera->GetLastErrorText(0);
        if (reason != nullptr && *reason != '\0')
            MERRTRACE("%s", reason);
        MERRTRACE("GetInstance(): failed to initialise camera device");
        camera->Uninitialize(0);
        return nullptr;
    }
    if (result == 0) {
        // Someone else has the camera open: it is not ours to close.
        MERRTRACE("GetInstance(): camera already initialised");
        return nullptr;
    }
    MTRACE(5, "GetInstance(): Initialize() done");

    if (!camera->RegisterImgStreamInput(nullptr, CImageReceivers_Deliver, 0)) {
        MERRTRACE("GetInstance(): RegisterImgStreamInput() failed");
        camera->Uninitialize(0);
        return nullptr;
    }
    CVyxCameraIdentity identity;
    if (!get_camera_info(*camera, identity)) {
        MERRTRACE("GetInstance(): get_camera_info() failed");
        camera->Uninitialize(0);
        return nullptr;
    }
    std::unique_ptr<CSensorVyxCamera> sensor;
    if (identity.manufacturer == "ABS" && identity.deviceName == "KR7700")
        sensor = std::make_unique<CSensorFiber>(camera);
    else
        sensor = std::make_unique<CSensorCamera>(camera);
    if (!sensor->IsCameraAvailable()) {
        MERRTRACE("GetInstance(): failed to construct sensor");
        sensor.reset();
        camera->Uninitialize(0);
        return nullptr;
    }
    return sensor;
}

bool CSensorVyxCamera::get_camera_info(Vyx::CImgSensors& camera, CVyxCameraIdentity& identity) {
    std::string xml;
    if (!camera.GetCameraInfo(&xml, 0)) {
        MERRLOG("get_camera_info(): camera does not identify itself");
        return false;
    }
    const std::wstring text = CWideText_FromUtf8(xml, kMaxCameraInfo);
    Vyx::CXmlNode root;
    const int code = root.LoadFromString(text.c_str());
    if (code != 0) {
        MERRTRACE("get_camera_info(): LoadFromString() failed: %ls",
                  Vyx::CXmlNode::RetTextEn(code));
        return false;
    }

    CVyxCameraIdentity found;
    const std::pair<const wchar_t*, std::string*> items[] = {
        {L"manufacturer", &found.manufacturer},
        {L"devicename", &found.deviceName},
        {L"productversion", &found.productVersion},
        {L"serialnumber", &found.serialNumber},
        {L"dllversion", &found.dllVersion},
        {L"driverversion", &found.driverVersion},
        {L"cpldversion", &found.cpldVersion},
        {L"bootloaderversion", &found.bootloaderVersion},
        {L"fpgaversion", &found.fpgaVersion},
    };
    for (const auto& [key, target] : items) {
        const std::wstring xpath = std::wstring(L"/Info/Item[@key='") + key + L"']";
        Vyx::CXmlNode node;
        std::wstring value;
        if (root.GetNode(xpath.c_str(), node) == 0 && node.GetValue(L"value", value) == 0 &&
            !value.empty())
            *target = CWideText_ToUtf8(value);
    }
    identity = found;

    MTRACE(2, "get_camera_info(): Found camera: %s (%s)", identity.manufacturer.c_str(),
           identity.deviceName.c_str());
    MTRACE(2, "\tproduct version: %s", identity.productVersion.c_str());
    MTRACE(2, "\tserial number: %s", identity.serialNumber.c_str());
    MTRACE(2, "\tDLL version: %s", identity.dllVersion.c_str());
    MTRACE(2, "\tdriver version: %s", identity.driverVersion.c_str());
    MTRACE(2, "\tCPLD version: %s", identity.cpldVersion.c_str());
    MTRACE(2, "\tboot loader version: %s", identity.bootloaderVersion.c_str());
    MTRACE(2, "\tFPGA version: %s", identity.fpgaVersion.c_str());
    return true;
}

// ---- Construction ----

CSensorVyxCamera::CSensorVyxCamera(Vyx::CImgSensors* camera) : m_camera(camera) {
    const char* const self = "CSensorVyxCamera::CSensorVyxCamera";
    // The tactile channels of the base are no camera's, and camera channels have no values.
    ClearPropertyTable();
    DropPropertyValues();
    if (m_camera == nullptr)
        return;

    Vyx::CImageInfo info;
    if (!m_camera->GetImageInfo(&info, 0)) {
        MERRTRACE("CSensorVyxCamera(): GetImageInfo() failed");
        DropCamera();
        return;
    }
    store_geometry(info);
    if (!get_camera_info(*m_camera, m_identity)) {
        MERRTRACE("%s(): get_camera_info() failed", self);
        DropCamera();
        return;
    }
    if (!save_hardware_info())
        MERRLOG("CSensorVyxCamera(): failed to save hardware information");

    std::set<int32_t> caps;
    if (!m_camera->GetImageMemoryCaps(&caps, 0))
        MERRLOG("%s(): GetImageMemoryCaps() failed", self);

    MIniData channels;
    if (!channels.SetContentString(ChannelTemplate())) {
        MERRTRACE("%s(): SetContentString() failed", self);
        return;
    }
    if (caps.count(Vyx::ImgCap_TemperatureSensor) != 0) {
        MTRACE(3, "%s(): camera %s has temperature sensor", self, m_identity.deviceName.c_str());
        std::string list;
        channels.GetStringEntry("General", "Channels", list);
        channels.SetStringEntry("General", "Channels", list + ",temp_camera");
        channels.SetStringEntry("temp_camera", "Accuracy", "0.01");
        channels.SetStringEntry("temp_camera", "Min", "0");
        channels.SetStringEntry("temp_camera", "Max", "50");
        channels.SetStringEntry("temp_camera", "Access", "R");
    }
    SetPropertyData(channels.GetContentString());
}

CSensorVyxCamera::~CSensorVyxCamera() {
    if (m_camera == nullptr)
        return;
    m_camera->UnregisterImgStreamInput(nullptr, CImageReceivers_Deliver, 0);
    m_camera->Uninitialize(0);
}

void CSensorVyxCamera::store_geometry(const Vyx::CImageInfo& info) {
    m_geometry.memoryWidth = info.memoryWidth;
    m_geometry.memoryHeight = info.memoryHeight;
    m_geometry.reportedWidth = info.imageWidth;
    m_geometry.reportedHeight = info.imageHeight;
    m_geometry.clipX = info.clipX;
    m_geometry.clipY = info.clipY;
    m_geometry.imageWidth = info.clipWidth != 0 ? info.clipWidth : info.memoryWidth;
    m_geometry.imageHeight = info.clipHeight != 0 ? info.clipHeight : info.memoryHeight;
    m_geometry.memoryBytesPerPixel = info.memoryBytesPerPixel;
    m_geometry.arrangement = info.arrangement;
    m_geometry.pixelFormat = info.pixelFormat;
    m_geometry.bitsPerPixel = CSensorVyxCamera_GetBitsPerPixel(info.pixelFormat);
}

// ---- Channels ----

bool CSensorVyxCamera::SetPropertyData(int flag, const void* data) {
    if (flag != 0 && flag != 1) {
        MERRTRACE("SetPropertyData(): unknown flag %u", static_cast<unsigned>(flag));
        return false;
    }
    const auto* receiver = static_cast<const CImageReceiver*>(data);
    if (receiver == nullptr || receiver->callback == nullptr) {
        MERRTRACE("SetPropertyData(): no image receiver given");
        PushErrorCode(CSENSOR_ERR_INVALID_ARGUMENT);
        return false;
    }
    if (flag == 0)
        return CImageReceivers_Add(*receiver);
    if (!CImageReceivers_Remove(*receiver)) {
        MERRTRACE("SetPropertyData(): image receiver not registered");
        return false;
    }
    return true;
}

bool CSensorVyxCamera::SetPropertyData(std::string_view text) {
    const char* const self = "CSensorVyxCamera::SetPropertyData";
    std::string data(text);
    if (is_partial_scan_camera(m_identity.deviceName)) {
        MIniData doc;
        if (!doc.SetContentString(text)) {
            MERRTRACE("%s(): SetContentString() failed", self);
            return false;
        }
        if (!doc.HasEntry("imageoffsety", "Accuracy")) {
            MTRACE(4, "%s(): Making \"imageoffsety\" read-write", self);
            doc.SetStringEntry("imageoffsety", "Access", " RW");
            data = doc.GetContentString();
        }
    }
    // The channel table only: the camera channels have no value array, and a failed update
    // is the table's error 32 alone.
    if (!CSensor::SetPropertyData(data))
        return false;
    take_image_channel_limits();

    MTRACE(5, "SetPropertyData(): starting");
    if (m_camera == nullptr)
        return true;
    double value = 0.0;
    if (PropertyData().GetDoubleEntry(kHardwareSection, "gain", value)) {
        if (!m_camera->SetGain(value, 0)) {
            MERRTRACE("SetPropertyData(): SetGain() failed");
            return false;
        }
        MTRACE(4, "SetPropertyData(): camera gain set to %g", value);
    }
    if (PropertyData().GetDoubleEntry(kHardwareSection, "shutter", value)) {
        if (!m_camera->SetExposure(value, 0)) {
            MERRTRACE("SetPropertyData(): SetExposure() failed");
            return false;
        }
        MTRACE(4, "SetPropertyData(): camera shutter set to %g", value);
    }
    MTRACE(5, "SetPropertyData(): done");
    return true;
}

bool CSensorVyxCamera::take_image_channel_limits() {
    if (m_camera == nullptr)
        return false;
    Vyx::CImageInfo info;
    if (!m_camera->GetImageInfo(&info, 0)) {
        MERRLOG("GetInstance(): GetImageInfo() failed");
        return false;
    }
    store_geometry(info);
    const struct {
        const char* name;
        int32_t axis;
        uint32_t reported;
    } sizes[] = {{"imagewidth", Vyx::ClipAxis_Width, info.imageWidth},
                 {"imageheight", Vyx::ClipAxis_Height, info.imageHeight}};
    for (const auto& size : sizes) {
        CSensorChannelDesc* desc = FindChannel(size.name);
        if (desc == nullptr)
            continue;
        int32_t minimum = 0, maximum = 0, increment = 0;
        if (m_camera->GetClippingLimits(size.axis, &minimum, &maximum, &increment, 0) == 1) {
            desc->min = minimum;
            desc->max = maximum;
            desc->step = increment;
        } else {
            desc->max = size.reported;
        }
    }
    const struct {
        const char* name;
        int32_t axis;
        uint32_t memory;
        uint32_t size;
    } offsets[] = {
        {"imageoffsetx", Vyx::ClipAxis_OffsetX, m_geometry.memoryWidth, m_geometry.imageWidth},
        {"imageoffsety", Vyx::ClipAxis_OffsetY, m_geometry.memoryHeight, m_geometry.imageHeight}};
    for (const auto& offset : offsets) {
        CSensorChannelDesc* desc = FindChannel(offset.name);
        if (desc == nullptr)
            continue;
        int32_t minimum = 0, maximum = 0, increment = 0;
        if (m_camera->GetClippingLimits(offset.axis, &minimum, &maximum, &increment, 0) == 1)
            desc->step = increment;
        set_offset_limits(offset.name, offset.memory, offset.size, false);
    }
    return true;
}

void CSensorVyxCamera::set_offset_limits(const char* name, uint32_t memory, uint32_t size,
                                         bool changed) {
    CSensorChannelDesc* desc = FindChannel(name);
    if (desc == nullptr)
        return;
    // The region can move half the spare room either way from the centre.
    const uint32_t spare = memory > size ? memory - size : 0;
    desc->max = static_cast<double>(spare / 2);
    desc->min = -desc->max;
    if (changed)
        m_changed[name] = *desc;
}

bool CSensorVyxCamera::TakeChangedProperties(CSensorChannelTable& changed) {
    changed.clear();
    changed.swap(m_changed);
    return true;
}

int32_t CSensorVyxCamera::centred_offset_x() const {
    const int32_t centred = static_cast<int32_t>(m_geometry.memoryWidth / 2) -
                            static_cast<int32_t>(m_geometry.imageWidth / 2);
    return m_geometry.clipX - centred;
}

int32_t CSensorVyxCamera::centred_offset_y() const {
    const int32_t centred = static_cast<int32_t>(m_geometry.memoryHeight / 2) -
                            static_cast<int32_t>(m_geometry.imageHeight / 2);
    return m_geometry.clipY - centred;
}

bool CSensorVyxCamera::GetPropertyValue(const char* name, double* value) {
    if (name == nullptr || value == nullptr) {
        PushErrorCode(CSENSOR_ERR_INVALID_INDEX);
        return false;
    }
    const char* const self = "CSensorVyxCamera::GetPropertyValue";
    auto need_camera = [&]() {
        if (m_camera != nullptr)
            return true;
        MERRTRACE("GetPropertyValue(): no camera for %s", name);
        return false;
    };
    if (std::strcmp(name, "imagewidth") == 0) {
        *value = m_geometry.imageWidth;
    } else if (std::strcmp(name, "imageheight") == 0) {
        *value = m_geometry.imageHeight;
    } else if (std::strcmp(name, "imageoffsetx") == 0) {
        *value = centred_offset_x();
    } else if (std::strcmp(name, "imageoffsety") == 0) {
        *value = centred_offset_y();
    } else if (std::strcmp(name, "temp_camera") == 0) {
        // The temperature travels with every frame; the channel itself reads 0.
        *value = 0.0;
    } else if (std::strcmp(name, "gain") == 0) {
        if (!need_camera() || !traced_call("GetPropertyValue", "GetGain",
                                           [&] { return m_camera->GetGain(value, 0); })) {
            MERRTRACE("GetPropertyValue(): GetGain() failed");
            return false;
        }
    } else if (std::strcmp(name, "shutter") == 0) {
        if (!need_camera() || !traced_call("GetPropertyValue", "GetExposure",
                                           [&] { return m_camera->GetExposure(value, 0); })) {
            MERRTRACE("GetPropertyValue(): GetExposure() failed");
            return false;
        }
    } else if (std::strcmp(name, "framerate") == 0) {
        if (!need_camera() || !traced_call("GetPropertyValue", "GetFrameRate",
                                           [&] { return m_camera->GetFrameRate(value, 0); })) {
            MERRTRACE("GetPropertyValue(): GetFrameRate() failed");
            return false;
        }
    } else if (std::strcmp(name, "light_intensity") == 0) {
        if (!need_camera() || !traced_call("GetPropertyValue", "GetLightIntensity", [&] {
                return m_camera->GetLightIntensity(0, value, 0);
            })) {
            MERRTRACE("%s(): GetLightIntensity() failed", self);
            return false;
        }
    } else if (std::strcmp(name, "light_trigger_mode") == 0) {
        int32_t mode = 0;
        if (!need_camera() || !traced_call("GetPropertyValue", "GetTriggerMode",
                                           [&] { return m_camera->GetTriggerMode(0, &mode, 0); })) {
            MERRTRACE("%s(): GetTriggerMode() failed", self);
            return false;
        }
        *value = mode;
    } else {
        MERRTRACE("GetPropertyValue(): unknown property %s", name);
        return false;
    }
    return true;
}

int64_t CSensorVyxCamera::align(int64_t v, int64_t min, int64_t max, int64_t step) {
    if (step == 0)
        step = 1;
    // The camera takes sizes and positions at "max minus a multiple of the step".
    const int64_t aligned = (max % step) - (v % step) + v;
    if (aligned < min)
        return min;
    return aligned < max ? aligned : max;
}

bool CSensorVyxCamera::SetPropertyValue(const CSensorValueMap& values) {
    const char* const self = "CSensorVyxCamera::SetPropertyValue";
    bool ok = true;
    bool geometry = false;
    int64_t width = m_geometry.imageWidth, height = m_geometry.imageHeight;
    int64_t offsetX = 0, offsetY = 0;

    for (const auto& [name, value] : values) {
        const CSensorChannelDesc* desc = FindChannel(name.c_str());
        if (desc == nullptr) {
            MTRACE(5, "SetPropertyValue(): %s is no channel of %s, skipped", name.c_str(),
                   GetName());
            continue;
        }
        const bool whole_pixels = name == "imagewidth" || name == "imageheight" ||
                                  name == "imageoffsetx" || name == "imageoffsety";
        if (whole_pixels && !std::isfinite(value)) {
            MERRTRACE("SetPropertyValue(): %s=%g is no number of pixels", name.c_str(), value);
            ok = false;
            continue;
        }
        if (name == "imagewidth" || name == "imageheight") {
            const int64_t v = truncate_pixels(value);
            const int64_t aligned =
                align(v, static_cast<int64_t>(desc->min), static_cast<int64_t>(desc->max),
                      static_cast<int64_t>(desc->step));
            (name == "imagewidth" ? width : height) = aligned;
            geometry = true;
            continue;
        }
        if (name == "imageoffsetx" || name == "imageoffsety") {
            (name == "imageoffsetx" ? offsetX : offsetY) = truncate_pixels(value);
            geometry = true;
            continue;
        }
        const bool camera_setting = name == "gain" || name == "shutter" || name == "framerate" ||
                                    name == "light_intensity" || name == "light_trigger_mode";
        if (!camera_setting)
            continue;
        if (desc->access == CSENSOR_ACCESS_D)
            continue;
        if (m_camera == nullptr) {
            MERRTRACE("SetPropertyValue(): no camera for %s", name.c_str());
            ok = false;
            continue;
        }
        if (name == "gain") {
            if (!m_camera->SetGain(value, 0)) {
                MERRTRACE("SetPropertyValue(): SetGain(%g) failed", value);
                ok = false;
            }
        } else if (name == "shutter") {
            if (!m_camera->SetExposure(value, 0)) {
                MERRTRACE("SetPropertyValue(): SetExposure(%g) failed", value);
                ok = false;
            }
        } else if (name == "framerate") {
            if (!m_camera->SetFrameRate(value, 0)) {
                MERRTRACE("SetPropertyValue(): SetFrameRate(%g) failed", value);
                ok = false;
            }
        } else if (name == "light_intensity") {
            if (!m_camera->SetLightIntensity(0, value, 0)) {
                MERRTRACE("%s(): SetLightIntensity(%g) failed", self, value);
                ok = false;
            }
        } else {
            const auto mode = static_cast<int32_t>(value);
            if (!m_camera->SetTriggerMode(0, mode, 0)) {
                MERRTRACE("%s(): SetTriggerMode(%d) failed", self, mode);
                ok = false;
            }
        }
    }

    if (!geometry) {
        if (m_camera != nullptr && !save_hardware_info())
            ok = false;
        return ok;
    }
    if (m_camera == nullptr) {
        MERRTRACE("SetPropertyValue(): no camera for the image geometry");
        return false;
    }
    // Centred, moved by the offset; a region that would leave the frame on the far side
    // sticks to that side, one that would leave it on the near side is aligned up to 0.
    const int64_t memoryWidth = m_geometry.memoryWidth, memoryHeight = m_geometry.memoryHeight;
    int64_t x = offsetX + width / 2 < memoryWidth / 2 ? memoryWidth / 2 - width / 2 + offsetX
                                                      : memoryWidth - width;
    int64_t y = offsetY + height / 2 < memoryHeight / 2 ? memoryHeight / 2 - height / 2 + offsetY
                                                        : memoryHeight - height;
    int32_t minimum = 0, maximum = 0, increment = 0;
    if (m_camera->GetClippingLimits(Vyx::ClipAxis_OffsetX, &minimum, &maximum, &increment, 0) == 1)
        x = align(x, minimum, maximum, increment);
    if (m_camera->GetClippingLimits(Vyx::ClipAxis_OffsetY, &minimum, &maximum, &increment, 0) == 1)
        y = align(y, minimum, maximum, increment);
    if (!change_image_geometry(static_cast<int32_t>(x), static_cast<int32_t>(y),
                               static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
        MERRTRACE("SetPropertyValue(): change_image_geometry() failed");
        ok = false;
    }
    MTRACE(5, "SetPropertyValue(): done");
    return ok;
}

bool CSensorVyxCamera::change_image_geometry(int32_t x, int32_t y, uint32_t width,
                                             uint32_t height) {
    MTRACE(5, "change_image_geometry(): setting image geometry to %dx%d%+d%+d",
           static_cast<int>(width), static_cast<int>(height), x, y);
    if (!m_camera->SetClippingRegion(x, y, width, height, 0)) {
        MERRTRACE("change_image_geometry(): SetClippingRegion() failed");
        return false;
    }
    int32_t mode = Vyx::ScanMode_FullFrame;
    if (width != m_geometry.memoryWidth || height != m_geometry.memoryHeight) {
        MTRACE(4, "change_image_geometry(): setting camera to PARTIAL mode");
        mode = Vyx::ScanMode_Partial;
    } else {
        MTRACE(4, "change_image_geometry(): setting camera to FULLFRAME mode");
    }
    if (!m_camera->SetScanningMode(mode, 0)) {
        MERRTRACE("change_image_geometry(): SetScanningMode() failed");
        return false;
    }
    m_geometry.clipX = x;
    m_geometry.clipY = y;
    m_geometry.imageWidth = width;
    m_geometry.imageHeight = height;
    set_offset_limits("imageoffsetx", m_geometry.memoryWidth, width, true);
    set_offset_limits("imageoffsety", m_geometry.memoryHeight, height, true);
    return save_hardware_info();
}

bool CSensorVyxCamera::SetPropertyValueFromLink(const char* name, double value) {
    if (name == nullptr)
        return false;
    return SetPropertyValue(CSensorValueMap{{name, value}});
}

bool CSensorVyxCamera::GetPropertyValue(int, double*) {
    return false;
}
bool CSensorVyxCamera::SetPropertyValue(const char*, double) {
    return false;
}
bool CSensorVyxCamera::SetPropertyValue(int, double) {
    return false;
}
bool CSensorVyxCamera::GetPropertyOffset(const char*, double*) {
    return false;
}
bool CSensorVyxCamera::GetPropertyOffset(int, double*) {
    return false;
}
bool CSensorVyxCamera::SetPropertyOffset(const char*, double) {
    return false;
}
bool CSensorVyxCamera::SetPropertyOffset(int, double) {
    return false;
}
bool CSensorVyxCamera::SetPropertyFifoAddress(int, double*) {
    return false;
}

// ---- Documents ----

bool CSensorVyxCamera::SetConfigData(std::string_view text) {
    MTRACE(4, "SetConfigData(): starting");
    if (!CSensor::SetConfigData(text))
        return false;
    std::string type;
    if (!ConfigData().GetStringEntry("Geometry", "ProbeType", type)) {
        MERRLOG("SetConfigData(): entry %s [%s] not found", "ProbeType", "Geometry");
        return false;
    }
    MTRACE(4, "SetConfigData(): loading sensor %s", CSensor_TrimValue(type).c_str());
    double framesPerSecond = 0.0;
    if (m_camera != nullptr && m_camera->GetFrameRate(&framesPerSecond, 0))
        MTRACE(4, "SetConfigData(): camera sensor %s image dims: %dx%d+%d+%d @ %g fps", GetName(),
               static_cast<int>(m_geometry.imageWidth), static_cast<int>(m_geometry.imageHeight),
               m_geometry.clipX, m_geometry.clipY, framesPerSecond);
    else
        MERRLOG("SetConfigData(): failed to get image information");
    MTRACE(4, "SetConfigData(): done");
    return true;
}

bool CSensorVyxCamera::SetUserData(std::string_view text) {
    if (!ProcessUserData(text, true))
        return false;
    read_dc_data_flag();
    return true;
}

void CSensorVyxCamera::read_dc_data_flag() {
    int32_t dc = 0;
    m_dcData = UserData().GetLongEntry(kHardwareSection, "DC_DATA", dc) && dc != 0;
}

bool CSensorVyxCamera::GetHardwareData(std::string& text) {
    text = m_hardwareInfo.GetContentString();
    SetConfigDataSet(false);
    return true;
}

bool CSensorVyxCamera::save_hardware_info() {
    const char* const self = "CSensorVyxCamera::save_hardware_info";
    bool ok = true;
    MTRACE(5, "save_hardware_info(): starting Vyx calls");
    double exposure = 0.0, framesPerSecond = 0.0, gain = 0.0, pixelWidth = 0.0, pixelHeight = 0.0;
    // A value the camera does not give keeps what the document held.
    const bool haveExposure = m_camera->GetExposure(&exposure, 0);
    if (!haveExposure) {
        MERRTRACE("save_hardware_info(): failed to get exposure");
        ok = false;
    }
    const bool haveFrameRate = m_camera->GetFrameRate(&framesPerSecond, 0);
    if (!haveFrameRate) {
        MERRTRACE("save_hardware_info(): failed to get frame rate");
        ok = false;
    }
    const bool haveGain = m_camera->GetGain(&gain, 0);
    if (!haveGain) {
        MERRTRACE("save_hardware_info(): failed to get gain");
        ok = false;
    }
    const bool havePixelSize = m_camera->GetPixelSize(&pixelWidth, &pixelHeight, 0) == 1;
    if (!havePixelSize) {
        MERRTRACE("save_hardware_info(): GetPixelSize() failed");
        ok = false;
    }
    MTRACE(5, "save_hardware_info(): Vyx calls done");

    const CVyxImageGeometry& g = m_geometry;
    const struct {
        const char* key;
        const char* what;
        long long value;
    } integers[] = {
        {"img_height", "image height", g.reportedHeight},
        {"img_width", "image width", g.reportedWidth},
        {"mem_height", "memory height", g.memoryHeight},
        {"mem_width", "memory width", g.memoryWidth},
        {"mem_bpp", "memory bytes per pixel", g.memoryBytesPerPixel},
        {"arrange", "arrangement", g.arrangement},
        {"bits_per_pixel", "bits per pixel", g.bitsPerPixel},
        {"px_fmt", "pixel format", g.pixelFormat},
        {"clip_x", "clipping x", g.clipX},
        {"clip_y", "clipping y", g.clipY},
        {"clipsize_x", "clipping width", g.imageWidth},
        {"clipsize_y", "clipping height", g.imageHeight},
    };
    for (const auto& entry : integers) {
        MTRACE(5, "%s(): camera %s %lld", self, entry.what, entry.value);
        if (!m_hardwareInfo.SetLongLongEntry(kHardwareSection, entry.key, entry.value)) {
            MERRTRACE("save_hardware_info(): failed to save %s [%s]", entry.key, kHardwareSection);
            ok = false;
        }
    }
    const struct {
        const char* key;
        const char* what;
        double value;
        bool valid;
    } doubles[] = {
        {"shutter", "shutter", exposure, haveExposure},
        {"framerate", "frame rate", framesPerSecond, haveFrameRate},
        {"gain", "gain", gain, haveGain},
        {"px_width_mm", "pixel width", pixelWidth, havePixelSize},
        {"px_height_mm", "pixel height", pixelHeight, havePixelSize},
    };
    for (const auto& entry : doubles) {
        if (!entry.valid)
            continue;
        MTRACE(5, "%s(): camera %s %g", self, entry.what, entry.value);
        if (!m_hardwareInfo.SetDoubleEntry(kHardwareSection, entry.key, entry.value)) {
            MERRTRACE("save_hardware_info(): failed to save %s [%s]", entry.key, kHardwareSection);
            ok = false;
        }
    }
    const CVyxCameraIdentity& id = m_identity;
    const std::pair<const char*, const std::string*> texts[] = {
        {"manufacturer", &id.manufacturer},     {"devicename", &id.deviceName},
        {"productversion", &id.productVersion}, {"serialnumber", &id.serialNumber},
        {"dllversion", &id.dllVersion},         {"driverversion", &id.driverVersion},
        {"cpldversion", &id.cpldVersion},       {"bootloaderversion", &id.bootloaderVersion},
        {"fpgaversion", &id.fpgaVersion},
    };
    for (const auto& [key, value] : texts) {
        MTRACE(5, "%s(): camera %s %s", self, key, value->c_str());
        if (!m_hardwareInfo.SetStringEntry(kHardwareSection, key, *value)) {
            MERRTRACE("save_hardware_info(): SetStringEntry(%s, %s, %s) failed", kHardwareSection,
                      key, value->c_str());
            ok = false;
        }
    }
    return ok;
}

// ---- Acquisition ----

bool CSensorVyxCamera::save_properties(CSensorValueMap& values) {
    bool ok = true;
    values.clear();
    for (const auto& entry : GetPropertyTable()) {
        double value = 0.0;
        if (GetPropertyValue(entry.first.c_str(), &value))
            values[entry.first] = value;
        else
            ok = false;
    }
    return ok;
}

bool CSensorVyxCamera::SetMeasurement(bool on) {
    const char* const self = "CSensorVyxCamera::SetMeasurement";
    MErrTraceContext context(__FILE__);
    if (on) {
        MTRACE(4, "%s(): calling Grab()", self);
        if (m_camera == nullptr || !m_camera->Grab(0)) {
            MERRTRACE("%s(): failed to start image aquisition", self);
            return false;
        }
        MTRACE(4, "%s(): Grab() done", self);
        CSensorBase::SetMeasurement(true);
        // What the user set before the last stop holds again, whatever happened in between.
        if (!m_savedValues.empty() && !SetPropertyValue(m_savedValues))
            MERRTRACE("%s(): restore_properties() failed", self);
        return true;
    }
    if (!IsMeasuring())
        return true;
    if (!save_properties(m_savedValues))
        MERRTRACE("%s(): save_properties() failed", self);
    MTRACE(4, "%s(): calling Freeze()", self);
    if (!m_camera->Freeze(0)) {
        MERRTRACE("%s(): failed to stop image aquisition", self);
        return false;
    }
    MTRACE(4, "%s(): Freeze() done", self);
    CSensorBase::SetMeasurement(false);
    return true;
}
