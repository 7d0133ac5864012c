#include "mt_proxy/camera/misc/csensorfiber.h"

#include "csensor/sensors/csensorerrors.h"
#include "csensor/sensors/csensorinireader.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mfileio/mfileops.h"
#include "msl/mstreams/stlbase64.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

#include <cstdio>
#include <cstring>

namespace {

const char kFiberTemplate[] =
    "[General]\n"
    "Channels=light,imagewidth,imageheight,imageoffsetx,imageoffsety,gain\n"
    "[Default]\n"
    "Type=NUMBER\n"
    "Access=RW\n"
    "Accuracy=0.01\n"
    "Step=0.01\n"
    "A_Max=0.\n"
    "V_Max=0.\n"
    "Max=1.\n"
    "Min=0.\n"
    "Default=0.0\n"
    "Keypad=0\n"
    "Master=0\n"
    "[light]\n"
    "Accuracy=0.000001\n"
    "Min=0.000474\n"
    "Max=1.\n"
    "Step=0.000474\n"
    "[gain]\nMax=1.\n"
    "[imagewidth]\nAccess=R\n"
    "[imageheight]\nAccess=R\n"
    "[imageoffsetx]\nAccess=R\n"
    "[imageoffsety]\nAccess=R\n"
    "[Camera]\n"
    "flip_x=0 ; flip image around x axis (0/1)\n"
    "flip_y=0 ; flip image around y axis (0/1)\n"
    "width_mm=8\n"
    "height_mm=6\n"
    "send=true\n";

const char kCamera[] = "Camera";
const char kSavedPositions[] = "SavedPositions";
constexpr int kLutSize = Vyx::CParamKR7700::LutSize;

// The look-up table as one "%f" line per entry.
std::string lut_text(const Vyx::CParamKR7700& param) {
    std::string text;
    text.reserve(static_cast<size_t>(kLutSize) * 12);
    char line[64];
    for (float value : param.LUT) {
        std::snprintf(line, sizeof line, "%f\n", static_cast<double>(value));
        text += line;
    }
    return text;
}

// Reads up to kLutSize numbers, one per line; stops at the first line that holds none.
size_t parse_lut(const std::string& text, float* lut) {
    size_t count = 0;
    size_t pos = 0;
    while (count < static_cast<size_t>(kLutSize) && pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        float value = 0.0f;
        if (std::sscanf(line.c_str(), "%f", &value) != 1)
            break;
        lut[count++] = value;
    }
    return count;
}

} // namespace

const char* CSensorFiber::ChannelTemplate() {
    return kFiberTemplate;
}

CSensorFiber::CSensorFiber(Vyx::CImgSensors* camera) : CSensorVyxCamera(camera) {
    if (Camera() == nullptr)
        return;
    MTRACE(5, "CSensorFiber(): GetSmartParam() starting");
    if (!Camera()->GetSmartParam(&m_param, 0))
        MERRLOG("GetInstance(): GetSmartParam() failed");
    MTRACE(5, "CSensorFiber(): GetSmartParam() finished");
    m_cifModeFixed = m_param.CIFMode == 6;

    if (!enable_camera()) {
        MERRLOG("CSensorFiber(): enable_camera() failed");
        DropCamera();
        return;
    }
    ClearPropertyTable();
    SetPropertyData(add_defaults_to_data(ChannelTemplate()));
}

CSensorFiber::~CSensorFiber() {
    if (Camera() == nullptr)
        return;
    MTRACE(5, "enable_camera(): Freeze() starting");
    Camera()->Freeze(0);
    MTRACE(5, "enable_camera(): Freeze() finished");
    MErrTraceContext context(__FILE__);
    if (!save_axis_positions())
        MERRTRACE("%s(): save_axis_positions() failed", "CSensorFiber::~CSensorFiber");
}

bool CSensorFiber::enable_camera() {
    MTRACE(5, "enable_camera(): Grab() starting");
    const bool ok = Camera()->Grab(0);
    MTRACE(5, "enable_camera(): Grab() finished");
    return ok;
}

bool CSensorFiber::send_parameters(const char* caller) {
    if (Camera()->SetSmartParam(&m_param, 0))
        return true;
    MERRTRACE("%s(): SetSmartParam() failed", caller);
    if (!Camera()->GetSmartParam(&m_param, 0))
        MERRTRACE("%s(): GetSmartParam() failed", caller);
    return false;
}

// ---- Property data ----

std::string CSensorFiber::add_defaults_to_data(std::string_view text) {
    MIniData doc;
    if (!doc.SetContentString(text)) {
        MERRTRACE("add_defaults_to_data(): SetContentString() failed");
        return std::string(text);
    }
    std::string lut = lut_text(m_param);
    if (!stl_encode_base64(lut)) {
        MERRTRACE("add_defaults_to_data(): stl_encode_base64() failed");
        return std::string(text);
    }
    if (!doc.SetStringEntry(kCamera, "LUT", lut)) {
        MERRTRACE("add_defaults_to_data(): AddStringEntry() failed");
        return std::string(text);
    }
    const std::pair<const char*, float> values[] = {{"DeltaZ", m_param.DeltaZ},
                                                    {"DACRngMin", m_param.DACRngMin},
                                                    {"DACRngMax", m_param.DACRngMax}};
    for (const auto& [key, value] : values) {
        if (!doc.SetDoubleEntry(kCamera, key, value)) {
            MERRTRACE("add_defaults_to_data(): SetDoubleEntry(Camera, %s, %f) failed", key,
                      static_cast<double>(value));
            return std::string(text);
        }
    }
    if (!doc.SetLongEntry(kCamera, "make_persistent", 0)) {
        MERRTRACE("add_defaults_to_data(): SetLongEntry(Camera,  make_persistent, 0) failed");
        return std::string(text);
    }
    return doc.GetContentString();
}

bool CSensorFiber::SetPropertyData(std::string_view text) {
    MIniData doc;
    if (!doc.SetContentString(text)) {
        MERRTRACE("SetUserData(): SetContentString() failed");
        return false;
    }
    // Data that is not meant for the camera (stored probe data without "send") changes nothing.
    if (!doc.HasEntry(kCamera, "send"))
        return true;
    if (!CSensorVyxCamera::SetPropertyData(text))
        return false;
    if (Camera() == nullptr)
        return true;

    std::string lut;
    if (!doc.GetStringEntry(kCamera, "LUT", lut))
        return true;
    if (!stl_decode_base64(lut)) {
        MERRTRACE("SetUserData(): stl_decode_base64() failed");
        return false;
    }
    Vyx::CParamKR7700 param;
    param.CopyFrom(m_param);
    const size_t count = parse_lut(lut, param.LUT);
    if (count < static_cast<size_t>(kLutSize)) {
        MERRTRACE("SetUserData(): invalid look-up table size: expected %d entries, got only %zu",
                  kLutSize, count);
        return false;
    }
    double value = 0.0;
    if (doc.GetDoubleEntry(kCamera, "DeltaZ", value))
        param.DeltaZ = static_cast<float>(value);
    if (doc.GetDoubleEntry(kCamera, "DACRngMin", value))
        param.DACRngMin = static_cast<float>(value);
    if (doc.GetDoubleEntry(kCamera, "DACRngMax", value))
        param.DACRngMax = static_cast<float>(value);
    int32_t persistent = 0;
    doc.GetLongEntry(kCamera, "make_persistent", persistent);

    MTRACE(5, "SetPropertyData(): SetSmartParam() starting");
    // The block is taken only when the camera took it, so sensor and camera agree.
    if (!Camera()->SetSmartParam(&param, 0)) {
        MERRTRACE("SetPropertyData(): SetSmartParam() failed");
        return false;
    }
    m_param.CopyFrom(param);
    MTRACE(5, "SetPropertyData(): SetSmartParam() finished");

    if (persistent != 0) {
        MTRACE(5, "SetPropertyData(): FlashSettings() starting");
        if (!Camera()->FlashSettings(0)) {
            MERRTRACE("SetPropertyData(): FlashSettings() failed");
            return false;
        }
        MTRACE(5, "SetPropertyData(): FlashSettings() finished");
    }
    return true;
}

bool CSensorFiber::GetPropertyData(std::string& text) {
    std::string processed;
    CSensorVyxCamera::GetPropertyData(processed);
    text = add_defaults_to_data(processed);
    return true;
}

// ---- User data ----

bool CSensorFiber::SetUserData(std::string_view text) {
    const char* const self = "CSensorFiber::SetUserData";
    MIniData doc;
    if (!doc.SetContentString(text)) {
        MERRTRACE("%s(): SetContentString() failed", self);
        PushErrorCode(CSENSOR_ERR_PROCESS_CONFIG);
        return false;
    }
    std::string directory;
    if (doc.HasSection("Configdir") && doc.GetStringEntry("Configdir", "dir", directory))
        restore_axes_positions(CSensor_TrimValue(directory));

    int32_t cifMode = 0;
    if (m_cifModeFixed && doc.GetLongEntry(kCamera, "CIFMode", cifMode) && cifMode != 6) {
        doc.SetLongEntry(kCamera, "CIFMode", 6);
        MTRACE(3, "%s(): correcting CIF mode from %ld to %ld", self, static_cast<long>(cifMode),
               6L);
    }
    int32_t number = 0;
    double value = 0.0;
    if (doc.GetLongEntry(kCamera, "CIFMode", number))
        m_param.CIFMode = number;
    if (doc.GetDoubleEntry(kCamera, "QLimit", value))
        m_param.QLimit = static_cast<float>(value);
    if (doc.GetLongEntry(kCamera, "ErrMaxCnt", number))
        m_param.ErrMaxCnt =
            static_cast<uint16_t>(number < 0 ? 0 : (number > 0xFFFF ? 0xFFFF : number));
    if (doc.GetDoubleEntry(kCamera, "AESpeed", value))
        m_param.AESpeed = static_cast<float>(value);
    if (doc.GetDoubleEntry(kCamera, "PhaseOff", value))
        m_param.PhaseOff = static_cast<float>(value);
    int32_t transferMode = 0;
    const bool hasTransferMode = doc.GetLongEntry(kCamera, "TransferMode", transferMode);

    MTRACE(4,
           "%s(): Setting camera parameters: CIFMode: %d, QLimit: %g, ErrMaxCnt: %hu, AESpeed: "
           "%g, PhaseOff: %g",
           self, m_param.CIFMode, static_cast<double>(m_param.QLimit), m_param.ErrMaxCnt,
           static_cast<double>(m_param.AESpeed), static_cast<double>(m_param.PhaseOff));
    bool ok = true;
    if (Camera() != nullptr) {
        MTRACE(5, "%s(): SetSmartParam() starting", self);
        ok = send_parameters(self);
        MTRACE(5, "%s(): SetSmartParam() finished", self);
        if (hasTransferMode) {
            MTRACE(5, "%s(): SetDataTransferVolume() starting", self);
            if (Camera()->SetDataTransferVolume(transferMode, 0)) {
                m_transferMode = transferMode;
            } else {
                MERRTRACE("%s(): SetDataTransferVolume() failed", self);
                ok = false;
            }
            MTRACE(5, "%s(): SetDataTransferVolume() finished", self);
        }
    }
    if (!ProcessUserData(doc.GetContentString(), true)) {
        MERRTRACE("%s(): CSensorVyxCamera::SetUserData() failed", self);
        return false;
    }
    read_dc_data_flag();
    return ok;
}

bool CSensorFiber::GetUserData(std::string& text) {
    MIniData doc(UserData());
    // Present keys keep their text: they say what the user asked for.
    if (!doc.HasEntry(kCamera, "CIFMode"))
        doc.SetLongEntry(kCamera, "CIFMode", m_param.CIFMode);
    if (!doc.HasEntry(kCamera, "QLimit"))
        doc.SetDoubleEntry(kCamera, "QLimit", m_param.QLimit);
    if (!doc.HasEntry(kCamera, "ErrMaxCnt"))
        doc.SetLongEntry(kCamera, "ErrMaxCnt", m_param.ErrMaxCnt);
    if (!doc.HasEntry(kCamera, "AESpeed"))
        doc.SetDoubleEntry(kCamera, "AESpeed", m_param.AESpeed);
    if (!doc.HasEntry(kCamera, "PhaseOff"))
        doc.SetDoubleEntry(kCamera, "PhaseOff", m_param.PhaseOff);
    if (!doc.HasEntry(kCamera, "TransferMode"))
        doc.SetLongEntry(kCamera, "TransferMode", m_transferMode);
    text = doc.GetContentString();
    return true;
}

// ---- Values ----

bool CSensorFiber::GetPropertyValue(const char* name, double* value) {
    if (name != nullptr && value != nullptr && std::strcmp(name, "light") == 0) {
        *value = m_param.light;
        return true;
    }
    return CSensorVyxCamera::GetPropertyValue(name, value);
}

bool CSensorFiber::SetPropertyValue(const CSensorValueMap& values) {
    bool ok = true;
    auto light = values.find("light");
    if (light != values.end()) {
        m_param.light = static_cast<float>(light->second);
        if (Camera() == nullptr) {
            ok = false;
        } else {
            MTRACE(5, "SetPropertyValue(): SetSmartParam() starting");
            ok = send_parameters("SetPropertyValue");
            MTRACE(5, "SetPropertyValue(): SetSmartParam() finished");
        }
    }
    return CSensorVyxCamera::SetPropertyValue(values) && ok;
}

// ---- Saved positions ----

std::string CSensorFiber::positions_path() const {
    return file_join(m_configDir, kPositionsFile);
}

bool CSensorFiber::save_axis_positions() {
    const char* const self = "CSensorFiber::save_axis_positions";
    const std::string path = positions_path();
    // Through a temporary file: a crash while saving keeps the positions of the last run.
    MIniData file(MINIDATA_SAFE_SAVE | MINIDATA_FLUSH_ON_SAVE);
    // Without a configuration directory there is nowhere to keep them.
    if (m_configDir.empty() || !file.Open(path)) {
        MERRTRACE("%s(): failed to open %s. Not saving old axes positions", self, path.c_str());
        return false;
    }
    bool ok = true;
    for (const auto& [name, desc] : GetPropertyTable()) {
        if ((desc.access & 2u) == 0)
            continue;
        double value = 0.0;
        if (!GetPropertyValue(name.c_str(), &value)) {
            MERRTRACE("%s(): GetPropertyValue(%s, ...) failed", self, name.c_str());
            ok = false;
            continue;
        }
        if (!file.SetDoubleEntry(kSavedPositions, name, value)) {
            MERRTRACE("%s(): SetDoubleEntry(%s, %s, %g) failed", self, kSavedPositions,
                      name.c_str(), value);
            ok = false;
        }
    }
    if (!file.Save()) {
        MERRTRACE("%s(): Save() failed", self);
        return false;
    }
    return ok;
}

bool CSensorFiber::restore_axes_positions(const std::string& directory) {
    const char* const self = "CSensorFiber::restore_axes_positions";
    m_configDir = directory;
    const std::string path = positions_path();
    MIniData file;
    if (m_configDir.empty() || !file.Open(path)) {
        MERRTRACE("%s(): failed to open %s. Not restoring old axes positions", self, path.c_str());
        return false;
    }
    CSensorValueMap values;
    for (const auto& entry : GetPropertyTable()) {
        double value = 0.0;
        if (file.GetDoubleEntry(kSavedPositions, entry.first, value))
            values[entry.first] = value;
    }
    if (!values.empty() && !SetPropertyValue(values)) {
        MERRTRACE("%s(): SetPropertyValue() failed", self);
        return false;
    }
    return true;
}
