#pragma once
// The camera machine: the camera implementation of the machine interface.
//
// So far it is constructed and answers the queries that need nothing beyond its own tables;
// opening (sensors, configuration directory, databases, axes), the probe and probesystem
// commands, measurements, previews and autoinfo follow. Until then it opens nothing, its
// tables stay empty and its factories are the base's ("transaction: command unknown").

#include "lintel/server/machine/mmachabstract.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class MCameraMachAbstract : public MMachAbstract {
public:
    // `directory` is the host's directory; the machine keeps its files in its "camera"
    // subdirectory.
    MCameraMachAbstract(const std::string& name, const std::string& directory,
                        MOutputChannel* channel, MClientNotifier* notifier);
    ~MCameraMachAbstract() override;

    // There is nothing to bring into service yet: answers false and stays closed.
    bool Open() override;
    // Forgets the active image FIFO; true.
    bool Close() override;
    // Sends the event "resync needed" once after the camera delivered broken frames.
    void PollAsyncErrors() override;
    // Empty while there is no camera.
    std::string GetSensorName() override;
    std::string GetVersion() override;
    std::string GetSensorSerialNo() override;

    const MMachComponentEntry* FindComponent(const std::string& name) override;
    const MMachComponentEntry* FirstComponent() override;
    const MMachComponentEntry* NextComponent() override;

    const MMachAxis* FindAxis(const std::string& name) override;
    const MMachAxis* FirstAxis() override;
    const MMachAxis* NextAxis() override;
    double GetAxisValue(const std::string& name) override;
    bool IsTimeOnly(const std::map<std::string, MMachScanTarget>& axes) override;

    bool HasAutoinfo() override;
    bool HasPreview() override;
    bool HasPreviewMemory() override;

    bool HasImageFifos() override;
    MMachImagefifo* GetActiveImageFifo() override;
    MMachImagefifo* FindImageFifo(const std::string& name) override;
    MMachImagefifo* FirstImageFifo() override;
    MMachImagefifo* NextImageFifo() override;

    bool NotProvided97() override;

private:
    bool opened = false;
    std::map<std::string, MMachImagefifo>::iterator imageFifoCursor;
    std::string activeImageFifoName;
    std::map<std::string, MMachAxis> axes;
    std::map<std::string, MMachAxis>::const_iterator axisCursor;
    MMachComponentTable components;
    MMachComponentTable::const_iterator componentCursor;
    std::vector<double> axisValues; // by axis index; guarded by axesLock
    std::mutex axesLock;
    // Set by the camera thread on a broken frame, cleared by PollAsyncErrors.
    std::atomic<bool> cameraError{false};
};
