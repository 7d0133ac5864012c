#pragma once
// A machine for the host's tests: deterministic, in memory, with the same interface as the
// camera machine. Axes "time" (seconds since Open), "x", "y", "trigger_count", "imageindex",
// "lock", "framerate" (settable, the scan's frames per second) and "preview_updates" (how often
// the host redrew the preview window). Components "fake.config" (send stores, receive returns)
// and "fake.resync" (send makes a worker thread raise "resync needed"). Image FIFOs are real
// block ring buffers in shared memory; the measurement is FakeScan.
//
// The environment variable FAKEMACHINE_OPEN chooses how Open goes: "fail" (false, with an
// error-log chain and a line in the machine channel), "degraded" (true, with an error in the
// machine channel), anything else a normal open.

#include "lintel/server/machine/mmachabstract.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeScan;
struct FakePreviewMemory;

class FakeMachine : public MMachAbstract {
public:
    FakeMachine(const std::string& name, const std::string& directory, MOutputChannel* channel,
                MClientNotifier* notifier);
    ~FakeMachine() override;

    bool Open() override;
    bool Close() override;
    void PollAsyncErrors() override;
    std::string GetSensorName() override { return "FakeSensor"; }
    std::string GetVersion() override { return "9.99-0"; }
    std::string GetSensorSerialNo() override { return "F0001"; }

    const MMachComponentEntry* FindComponent(const std::string& name) override;
    const MMachComponentEntry* FirstComponent() override;
    const MMachComponentEntry* NextComponent() override;
    const MMachAxis* FindAxis(const std::string& name) override;
    const MMachAxis* FirstAxis() override;
    const MMachAxis* NextAxis() override;
    double GetAxisValue(const std::string& name) override;

    bool HasAutoinfo() override { return true; }
    bool StartAutoinfo(MOutputChannel* reply, uint32_t intervalMs,
                       const std::vector<std::string>& axes) override;
    void StopAutoinfo() override;
    bool GetAutoinfo(std::vector<double>& values) override;
    bool IsAutoinfoRunning() override { return autoinfoThread.joinable(); }

    bool HasPreview() override { return opened; }
    bool StartPreview(MOutputChannel* reply, const MMachPreviewPlacement& placement) override;
    bool StopPreview() override;
    bool UpdatePreview() override;
    bool IsPreviewRunning() override { return previewReply != nullptr; }
    bool HasPreviewMemory() override { return opened; }
    bool StartPreviewMemory(MOutputChannel* reply, uint32_t minIntervalMs,
                            const std::string& memoryName,
                            const std::string& probesystemName) override;
    bool StopPreviewMemory(const std::string& probesystemName) override;
    bool IsPreviewMemoryRunning(const std::string& probesystemName) override;
    bool UpdatePreviewMemory(const std::string& probesystemName) override;

    bool HasProbesystemDB() override { return opened; }
    std::vector<ProbesystemRecord> ListProbesystems(const std::string& name, uint32_t id) override;
    MMachProbesystemType GetActiveProbesystemType() override;
    bool HasImageFifos() override { return opened; }
    MMachImagefifo* GetActiveImageFifo() override { return FindImageFifo(activeFifo); }
    MMachImagefifo* FindImageFifo(const std::string& name) override;
    MMachImagefifo* FirstImageFifo() override;
    MMachImagefifo* NextImageFifo() override;
    void GetProbesystemImageInfo(MMachImageInfo& info) override;
    bool NotProvided97() override { return true; }

    MMachGetCommand* NewMMachGetCommand(MOutputChannel* out,
                                        const std::vector<std::string>& axes) override;
    MMachInitCommand* NewMMachInitCommand(MOutputChannel* out,
                                          const std::set<std::string>& axes) override;
    MMachReceiveCommand* NewMMachReceiveCommand(MOutputChannel* out,
                                                const std::string& component) override;
    MMachSendCommand* NewMMachSendCommand(MOutputChannel* out, const std::string& component,
                                          const std::string& data) override;
    MMachSetCommand* NewMMachSetCommand(MOutputChannel* out,
                                        const std::map<std::string, double>& values) override;
    MMachScanCommand* NewMMachScanCommand(MOutputChannel* out,
                                          const MMachScanRequest& request) override;
    MMachScanpointCommand* NewMMachScanpointCommand(MOutputChannel* out,
                                                    const MMachScanRequest& request) override;
    MMachScandataCommand* NewMMachScandataCommand(MOutputChannel* out,
                                                  const std::vector<std::string>& axes) override;
    MMachProbesystemLoadCommand* NewMMachProbesystemLoadCommand(MOutputChannel* out,
                                                                const std::string& name,
                                                                uint32_t id) override;
    MMachProbesystemUnloadCommand* NewMMachProbesystemUnloadCommand(MOutputChannel* out) override;
    MMachProbesystemDefineCommand*
    NewMMachProbesystemDefineCommand(MOutputChannel* out, const std::string& name) override;
    MMachProbesystemDeleteCommand* NewMMachProbesystemDeleteCommand(MOutputChannel* out,
                                                                    const std::string& name,
                                                                    uint32_t id) override;
    MMachProbeLoadCommand* NewMMachProbeLoadCommand(MOutputChannel* out, uint32_t probe,
                                                    uint32_t tip) override;
    MMachProbeDeleteCommand* NewMMachProbeDeleteCommand(MOutputChannel* out, uint32_t probe,
                                                        uint32_t tip) override;
    MMachProbeDefineCommand*
    NewMMachProbeDefineCommand(MOutputChannel* out, uint32_t probe, uint32_t tip,
                               const std::map<std::string, double>& values) override;
    MMachProbeUnloadCommand* NewMMachProbeUnloadCommand(MOutputChannel* out) override;
    MMachProbeChangeCommand* NewMMachProbeChangeCommand(MOutputChannel* out, uint32_t probe,
                                                        uint32_t tip) override;
    MMachImagefifoCreateCommand* NewMMachImagefifoCreateCommand(MOutputChannel* out,
                                                                const std::string& name,
                                                                uint64_t size) override;
    MMachImagefifoDeleteCommand* NewMMachImagefifoDeleteCommand(MOutputChannel* out,
                                                                const std::string& name) override;
    MMachImagefifoResetCommand* NewMMachImagefifoResetCommand(MOutputChannel* out) override;
    MMachImagefifoSelectCommand* NewMMachImagefifoSelectCommand(MOutputChannel* out,
                                                                const std::string& name) override;

    // For the commands.
    std::vector<double> Values(const std::vector<std::string>& axes);
    std::unique_ptr<FakeScan> StartScan(MOutputChannel* out, const MMachScanRequest& request,
                                        uint64_t fixedFrames);
    std::map<std::string, MMachImagefifo>& Fifos() { return imageFifos; }
    void SetScandata(std::vector<std::string> axes) { scandata = std::move(axes); }

private:
    void AddAxis(const std::string& name, uint32_t flags, double maximum, double accuracy);
    void StopAllPreviews();
    double Now() const;

    bool opened = false;
    std::map<std::string, MMachAxis> axes;
    std::map<std::string, MMachAxis>::const_iterator axisCursor;
    std::mutex valuesLock;
    std::vector<double> values; // by axis index
    MMachComponentTable components;
    MMachComponentTable::const_iterator componentCursor;
    std::string componentData;
    std::map<std::string, MMachImagefifo>::iterator fifoCursor;
    std::string activeFifo;
    std::vector<std::string> scandata;
    std::map<std::string, std::map<uint32_t, ProbesystemRecord>> probesystems;
    std::string activeProbesystem;
    std::map<uint64_t, bool> probes; // probe << 32 | tip
    std::atomic<bool> resyncPending{false};
    std::thread resyncThread;
    // Autoinfo.
    std::vector<std::string> autoinfoAxes;
    uint32_t autoinfoInterval = 0;
    std::chrono::steady_clock::time_point autoinfoLast;
    std::mutex autoinfoLock;
    std::condition_variable autoinfoStop;
    bool autoinfoStopping = false;
    std::thread autoinfoThread;
    // Previews.
    MOutputChannel* previewReply = nullptr;
    std::map<std::string, std::unique_ptr<FakePreviewMemory>> previewMemories;
};
