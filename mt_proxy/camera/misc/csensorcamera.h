#pragma once
// CSensorCamera: the plain camera sensor, probe-system type "Camera". Everything but its
// name is CSensorVyxCamera's.

#include "mt_proxy/camera/misc/csensorvyxcamera.h"

class CSensorCamera : public CSensorVyxCamera {
public:
    explicit CSensorCamera(Vyx::CImgSensors* camera);
    ~CSensorCamera() override;

    // "Camera".
    const char* GetSensorClass() const override;
    // "Camera:1".
    const char* GetSensorTypeList() const override;
};
