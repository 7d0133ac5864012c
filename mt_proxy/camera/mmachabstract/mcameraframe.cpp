#include "mt_proxy/camera/mmachabstract/mcameraframe.h"

#include "mt_proxy/camera/misc/mcameraglobals.h"

double MCameraFrame_Time(const Vyx::CImgBuffer& image) {
    const double stamp = static_cast<double>(image.timeStamp);
    switch (image.timeStampKind) {
    case Vyx::TimeStamp_Microseconds:
        return stamp / 1e6;
    case Vyx::TimeStamp_Nanoseconds:
        return stamp * 1e-9;
    default:
        return stamp / MCameraGlobals_GetCounterFrequency();
    }
}

double MCameraFrame_Temperature(const Vyx::CImgBuffer& image) {
    auto it = image.attributes.find(Vyx::ImgAttr_Temperature);
    return it == image.attributes.end() ? 0.0 : it->second.second;
}
