#include "csensor/sensors/csensorunloaded.h"

namespace {

const char kUnloadedTemplate[] = "[General]\n"
                                 "Channels=\n"
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
                                 "Keypad=0\n";

} // namespace

CSensorUnloaded::CSensorUnloaded() {
    SetSensorName("unloaded");
    ClearPropertyTable();
    CSensorBase::SetPropertyData(kUnloadedTemplate);
}

CSensorUnloaded::~CSensorUnloaded() = default;

std::unique_ptr<CSensor> CSensorUnloaded::Create() {
    return std::make_unique<CSensorUnloaded>();
}

const char* CSensorUnloaded::ChannelTemplate() {
    return kUnloadedTemplate;
}

bool CSensorUnloaded::SetPropertyData(int, const void*) {
    return true;
}
bool CSensorUnloaded::SetConfigData(std::string_view) {
    return true;
}
bool CSensorUnloaded::SetUserData(std::string_view) {
    return true;
}
bool CSensorUnloaded::GetHardwareData(std::string& text) {
    text.clear();
    return true;
}
bool CSensorUnloaded::GetProbeDirection(double*, double*, double*) {
    return false;
}
bool CSensorUnloaded::GetTipOffset(double*, double*, double*) {
    return false;
}
bool CSensorUnloaded::GetPropertyValue(const char*, double*) {
    return false;
}
bool CSensorUnloaded::GetPropertyValue(int, double*) {
    return false;
}
bool CSensorUnloaded::SetPropertyValue(const char*, double) {
    return true;
}
bool CSensorUnloaded::SetPropertyValue(int, double) {
    return false;
}
bool CSensorUnloaded::GetPropertyOffset(const char*, double*) {
    return false;
}
bool CSensorUnloaded::GetPropertyOffset(int, double*) {
    return false;
}
bool CSensorUnloaded::SetPropertyOffset(const char*, double) {
    return false;
}
bool CSensorUnloaded::SetPropertyOffset(int, double) {
    return false;
}
bool CSensorUnloaded::SetPropertyFifoAddress(int, double*) {
    return false;
}
