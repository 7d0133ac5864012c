#pragma once
// The camera stack below the camera machine, driven through the module's libraries: the
// sensors, the probe manager on the camera's configuration directory, and the camera
// sensor's settings. The camera machine will do the same once its opening is built.

#include <memory>
#include <string>

class CProbeManager;
class CSensorVyxCamera;

class CameraStack {
public:
    CameraStack();
    // Closes the probe manager, which lets go of the camera.
    ~CameraStack();
    CameraStack(const CameraStack&) = delete;
    CameraStack& operator=(const CameraStack&) = delete;

    // Writes a "vyxcamera.ini" with a [SimCamera] section into `directory` when it has none,
    // registers the sensors and opens the probe manager on the directory; prints what it did.
    bool Open(const std::string& directory);
    // The camera's identity, the probe-system types and the channel table.
    void PrintCamera() const;
    // Loads the camera's probe system with probe properties that make gain, shutter and
    // frame rate settable, sets them and prints the values read back.
    bool ApplySettings(double gain, double shutterMs, double frameRate);

    // Valid after a successful Open.
    CSensorVyxCamera& Camera() const { return *camera; }
    // The frame rate the camera reported after ApplySettings.
    double FrameRate() const { return frameRate; }

private:
    std::unique_ptr<CProbeManager> manager;
    CSensorVyxCamera* camera = nullptr; // owned by the manager
    double frameRate = 0.0;
};
