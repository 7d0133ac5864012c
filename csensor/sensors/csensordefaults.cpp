#include "csensor/sensors/csensordefaults.h"

#include <mutex>

namespace {

const char kBuiltinConfigData[] =
    "[General]\n"
    "Channels=damping,deflection,force,forcedir,forcedir1,forcetol,ha,hb,hb1,hc,hx,hy,hz,ht,ht2,"
    "krt9_ht,krt9_ht2,grp_ht,hub,lock,nu,nv,nw,sw,sw1,strokelimit,strokelimit1,range,trigger,u,v,"
    "w,x,y,z,c,collision1,krt9_force,krt9_forcedir,krt9_range,krt9_strokelimit,probe_tcmd,"
    "probe_t1,probe_t2,Correction.Settings,probe.tip.compensation,probe.arm.data,contact\n"
    "[Default]\n"
    "Type=NUMBER\n"
    "Access=I\n"
    "Accuracy=0.000001\n"
    "Step=0.000001\n"
    "A_Max=0.\n"
    "V_Max=0.\n"
    "Max=1.\n"
    "Min=-1.\n"
    "Default=0.0\n"
    "Keypad=0\n"
    "[range]\n"
    "Parent=range\n"
    "Max=3.\n"
    "Min=1.\n"
    "Default=1.0\n"
    "Step=1.\n"
    "Accuracy=1.\n"
    "[hc]\nMax=1000.\nMin=-1000.\n"
    "[hx]\nMax=1000.\nMin=-1000.\n"
    "[hy]\nMax=1000.\nMin=-1000.\n"
    "[hz]\nMax=1000.\nMin=-1000.\n"
    "[strokelimit]\nMin=0.\n"
    "[x]\nParent=x\nMax=2000.\nMin=-2000.\n"
    "[y]\nParent=y\nMax=2000.\nMin=-2000.\n"
    "[z]\nParent=z\nMax=2000.\nMin=-2000.\n"
    "[c]\nParent=c\nMax=3.6e10\nMin=-3.6e10\n"
    "[sw]\nMax=360.\nMin=-360.\n"
    "[sw1]\nMax=360.\nMin=-360.\n"
    "[probe_tcmd]\nStep=1.\nAccuracy=1.\n"
    "[probe_t1]\nMax=3.6e10\nMin=-3.6e10\n"
    "[probe_t2]\nMax=3.6e10\nMin=-3.6e10\n";

const char kDefaultHardwareData[] = "[Probe]\n"
                                    "Type=Form\n"
                                    "DampingTime_s=0.05\n"
                                    "[TSK]\n"
                                    "Max_1=1.0\n"
                                    "Min_1=-1.0\n"
                                    "Max_2=1.0\n"
                                    "Min_2=-1.0\n";

std::mutex& default_lock() {
    static std::mutex lock;
    return lock;
}

std::string& replaced_default() {
    static std::string text;
    return text;
}

} // namespace

const char* CSensor_BuiltinConfigData() {
    return kBuiltinConfigData;
}

std::string CSensor_GetDefaultConfigData() {
    std::lock_guard<std::mutex> guard(default_lock());
    const std::string& replaced = replaced_default();
    return replaced.empty() ? std::string(kBuiltinConfigData) : replaced;
}

void CSensor_SetDefaultConfigData(std::string_view text) {
    std::lock_guard<std::mutex> guard(default_lock());
    replaced_default().assign(text);
}

const char* CSensor_DefaultHardwareData() {
    return kDefaultHardwareData;
}
