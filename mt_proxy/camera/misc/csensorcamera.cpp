#include "mt_proxy/camera/misc/csensorcamera.h"

CSensorCamera::CSensorCamera(Vyx::CImgSensors* camera) : CSensorVyxCamera(camera) {}

CSensorCamera::~CSensorCamera() = default;

const char* CSensorCamera::GetSensorClass() const {
    return "Camera";
}

const char* CSensorCamera::GetSensorTypeList() const {
    return "Camera:1";
}
