#include "mt_proxy/camera/misc/mcamerasensors.h"

#include "csensor/sensors/csensorregistry.h"
#include "csensor/sensors/csensorunloaded.h"
#include "mt_proxy/camera/misc/csensorvyxcamera.h"

void MCameraSensors_Register() {
    CSensorRegistry_Register("Vyxcamera", &CSensorVyxCamera::GetInstance);
    CSensorRegistry_Register("unloaded", &CSensorUnloaded::Create);
}
