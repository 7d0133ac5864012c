#pragma once
// The sensors this module offers the probe manager, entered in the sensor-factory registry:
// "Vyxcamera" (the sensor of whichever camera is connected, CSensorVyxCamera::GetInstance)
// and "unloaded" (the placeholder, CSensorUnloaded).
//
// The module calls this when it loads (vyxcamera.cpp) and the camera machine when it is
// constructed; tests that drive the probe manager directly call it themselves. A registration
// object in this static library would be dropped by the linker, since nothing refers to it.
// Calling it again changes nothing.
void MCameraSensors_Register();
