#pragma once
// The camera machine: the camera implementation of the machine interface.
//
// The server creates it through NewMMachAbstract, opens it, then drives it from its command
// thread: queries, command factories, autoinfo, previews. The machine owns the probe manager
// (and through it the sensors and the camera), the probe and probesystem databases, the image
// FIFOs it created, the measurand FIFO, its axes and components.
//
// The implementation is split by concern:
//   mcameramachabstract.cpp  construction, Open, Close, tables
//   mcameramachprobes.cpp    probe and probesystem changes, components, "get"/"set"
//   mcameramachfifos.cpp     image FIFO factories and image geometry
//   mcameramachmeasure.cpp   measurements, the scan commands' factories, measurand lines
//   mcameramachautoinfo.cpp  autoinfo
//   mcameramachpreview.cpp   preview memories and the preview window
//
// Threads: everything here runs on the server's command thread, except the image callbacks,
// which run on the camera library's thread and reach the machine only through the axes (under
// the axes lock) and the contexts they were registered with.

#include "csensor/probedb/mtessorprobesystemdb.h"
#include "csensor/sensors/cprobemanager.h"
#include "lintel/server/machine/mmachabstract.h"
#include "mt_proxy/camera/misc/mcameraprobedb.h"
#include "mt_proxy/camera/mmachabstract/mcameraautoinfo.h"
#include "mt_proxy/camera/mmachabstract/mcameraaxes.h"
#include "mt_proxy/camera/mmachabstract/mcameraaxescallback.h"
#include "mt_proxy/camera/mmachabstract/mcameracallbackclock.h"
#include "mt_proxy/camera/mmachabstract/mcamerameasurement.h"
#include "mt_proxy/camera/mmachabstract/mcamerapreviewmemory.h"
#include "mt_proxy/camera/mmachabstract/mpreviewwindow.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Image geometry of a probesystem, from the [Camera] section of its hardware data.
struct MCameraImageInfo {
    uint32_t imgWidth = 0;
    uint32_t imgHeight = 0;
    uint32_t memWidth = 0;
    uint32_t memHeight = 0;
    uint32_t memBytesPerPixel = 0;
    uint32_t clipWidth = 0;  // the image width when the entry is 0
    uint32_t clipHeight = 0; // the image height when the entry is 0
    uint32_t clipX = 0;
    uint32_t clipY = 0;
};

class MCameraMachAbstract : public MMachAbstract {
public:
    // `directory` is the host's directory; the machine keeps its files in its "camera"
    // subdirectory (or in a folder of the camera's own below it, once open).
    MCameraMachAbstract(const std::string& name, const std::string& directory,
                        MOutputChannel* channel, MClientNotifier* notifier);
    ~MCameraMachAbstract() override;

    // ---- Life cycle ----

    // Settles the configuration directory, opens the probe manager (and the camera) and the
    // databases, registers axes and components, activates the stored probesystem, creates the
    // measurand FIFO and enables the commands. A probe manager or probesystem database that
    // does not open is reported on the machine's channel and Open answers true with nothing
    // enabled; only a measurand FIFO that cannot be made fails it.
    bool Open() override;
    // Releases the probe manager, the databases, the measurand FIFO and every image FIFO.
    bool Close() override;
    void PollAsyncErrors() override;

    // ---- Queries ----

    // Name and serial number of the camera; empty when there is none.
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
    // The values of the named axes in order, NaN for unknown names, read at one moment.
    void GetAxisValues(const std::vector<std::string>& names, std::vector<double>& values);
    bool IsTimeOnly(const std::map<std::string, MMachScanTarget>& axes) override;

    bool HasAutoinfo() override;
    // Wakes the server every `intervalMs` (at least 10) to read the named axes.
    bool StartAutoinfo(MOutputChannel* reply, uint32_t intervalMs,
                       const std::vector<std::string>& axes) override;
    void StopAutoinfo() override;
    // The autoinfo axes' values, once per interval; false (and `values` untouched) sooner.
    bool GetAutoinfo(std::vector<double>& values) override;
    bool IsAutoinfoRunning() override;

    // The camera picture in a window of the machine's own, at `placement`.
    bool HasPreview() override;
    bool StartPreview(MOutputChannel* reply, const MMachPreviewPlacement& placement) override;
    bool StopPreview() override;
    // Redraws the window; false (the reason on the starting command's channel) once the window
    // is gone or the camera stopped delivering.
    bool UpdatePreview() override;
    bool IsPreviewRunning() override;

    bool HasPreviewMemory() override;
    // Images at most every `minIntervalMs` into the segment `memoryName`, with the event
    // "<memoryName>.event"; one preview memory per probesystem name. True once the first
    // image is there.
    bool StartPreviewMemory(MOutputChannel* reply, uint32_t minIntervalMs,
                            const std::string& memoryName,
                            const std::string& probesystemName) override;
    bool StopPreviewMemory(const std::string& probesystemName) override;
    bool IsPreviewMemoryRunning(const std::string& probesystemName) override;
    // False once the preview memory no longer gets images (camera time-out, broken frames);
    // the reason goes to its reply channel.
    bool UpdatePreviewMemory(const std::string& probesystemName) override;

    // Kind, size and size in millimetres of the active probesystem's images; kind 0 when it
    // has none.
    MMachProbesystemType GetActiveProbesystemType() override;

    bool HasImageFifos() override;
    MMachImagefifo* GetActiveImageFifo() override;
    MMachImagefifo* FindImageFifo(const std::string& name) override;
    MMachImagefifo* FirstImageFifo() override;
    MMachImagefifo* NextImageFifo() override;
    // Clip size (image size when not clipped) and bytes per pixel of the active probesystem.
    void GetProbesystemImageInfo(MMachImageInfo& info) override;

    bool NotProvided97() override;

    // ---- Command factories ----

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
    MMachScandataCommand* NewMMachScandataCommand(MOutputChannel* out,
                                                  const std::vector<std::string>& axes) override;
    MMachScanpointCommand* NewMMachScanpointCommand(MOutputChannel* out,
                                                    const MMachScanRequest& request) override;
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

    // ---- Probe and probesystem changes ----

    // Makes `name`/`id` the active probesystem ("unloaded" for none): stops the previews,
    // switches the sensor and the databases, updates the axes; replies go to `reply` when given.
    bool set_active_probesystem(const std::string& name, uint32_t id, MOutputChannel* reply);
    // Activates probe and tip (0 for none) and hands the tip's data to the sensor.
    bool set_active_probe(uint32_t probe, uint32_t tip);
    // 1 / zoom of the active tip; 1.18 when the tip has none; 0 when no probe is active.
    double get_zoom();
    // Flags and limits of the axis of a sensor channel.
    void update_probe_channel(const std::string& name, const CSensorChannelDesc& channel);
    // Probe and tip axes, and the channel values the current sensor delivers.
    void update_probe_axes();
    // The accuracy of "time" follows the frame rate (one frame period); event 1 on `out` when
    // it changed.
    void update_time_accuracy(MOutputChannel* out);
    // Keeps the frame counter, frame time and temperature axes current from every frame.
    void install_update_axes_callback();
    // Stops the preview window and every preview memory, telling their clients "aborted".
    void stop_all_previews();
    // A probesystem change ends the running measurement: its callback leaves the sensor that
    // is about to stop being the current one, and the scan ends with the lines it has.
    void end_measurement();

    // ---- Measurement ----

    // Registers the image callback for `images` measurand lines, into the active image FIFO
    // when "imageindex" is among the scandata axes. Lines an earlier measurement left are
    // dropped first; without a loaded probesystem nothing starts.
    bool StartCameraMeasurement(uint32_t images);
    // Ends the measurement; true when there is none (a probesystem change ended it).
    bool StopCameraMeasurement();
    // The number of the measurement started last (see MCameraMeasurement::Number).
    uint64_t GetMeasurementNumber() const { return measurement.Number(); }
    // True once the measurement has ended: every line written, an error, or a camera that
    // stopped delivering. Sends "resync needed" after a broken frame, unless an earlier poll
    // cycle did.
    bool IsCameraMeasurementDone();
    // The text of the measurement's error, null when there is none.
    const char* GetMeasurementError();
    bool is_camera_timed_out();
    // The scandata axes' values of the next measurand line; false when there is none.
    bool ReadMeasurandLine(std::vector<double>& values);
    bool HasMeasurandLine();
    // Reads every line left and frees the image blocks they name, in the FIFO the measurement
    // wrote into; `caller` names who drops them in the trace.
    void DropMeasurandLines(const char* caller);
    // A measurement writes into the FIFO of that name (from its start until its command stops
    // it), or lines naming its blocks are left.
    bool IsMeasuringInto(const std::string& fifoName);
    // What the FIFO commands refuse, with the error on `out` (true): any change while
    // IsMeasuringInto (error 19); laying out the blocks anew (`relays`: reset, re-create)
    // while a reader still holds one (error 18).
    bool RefuseFifoChange(const std::string& fifoName, bool relays, MOutputChannel* out,
                          const char* keyword);
    // The scandata axes: what a reported line carries.
    void ClearScandataAxes() { scandataAxes.clear(); }
    bool AddScandataAxis(const std::string& name);
    const std::vector<size_t>& GetScandataAxes() const { return scandataAxes; }
    // Time since the camera last delivered a frame (tests advance it).
    MCameraCallbackClock& GetCallbackClock() { return callbackClock; }
    // How long a starting preview waits for its first image (10 s; tests shorten it).
    void SetFirstImageTimeoutForTest(double seconds) { firstImageTimeout = seconds; }

    // ---- Images ----

    bool get_image_info(const std::string& probesystem, MCameraImageInfo& info);
    // Clip width, clip height and bytes per pixel.
    bool get_image_memory_info(const std::string& probesystem, uint32_t& width, uint32_t& height,
                               uint32_t& bytesPerPixel);
    // Names the FIFO that receives the images of the next measurement (no check that it
    // exists) and sets "imageindex" to 0.
    void SetActiveImageFifo(const std::string& name);
    const std::string& GetActiveImageFifoName() const { return activeImageFifoName; }
    bool IsOpened() const { return opened; }

    // The probe manager, for tests and tools that look at the sensors.
    CProbeManager& GetProbeManager() { return probeManager; }
    const MPreviewWindow& GetPreviewWindow() const { return previewWindow; }

private:
    // Open's steps.
    std::string init_config_dir(const std::string& dir);
    void register_axes_and_components();
    void init_probe_channels();
    bool init_measurand_fifo();
    void enable_commands();
    // Close's steps.
    void release_image_fifos();
    // Takes every image receiver of the machine away from the camera, so that no callback
    // runs on state that is about to go.
    void remove_image_receivers();

    // After a probesystem change or new probe properties: axes of the current sensor's
    // channels, "lock", the time accuracy; event 1 on `reply` when channels disappeared or the
    // accuracy changed. `oldChannels` are the channel names before the change.
    void update_capabilities(MOutputChannel* reply, std::set<std::string> oldChannels);
    // A measurand line: its scandata values (when `values`), its block number (when `block`).
    bool read_measurand_line(std::vector<double>* values, double* block);
    // "resync needed" on the machine's channel when a broken frame came since the last one.
    void send_resync_if_pending();
    bool open_probe_database();
    bool read_tip_data(std::string& text);
    // The first sensor of class "Camera" or "ZF290", null when there is none.
    CSensor* find_camera_sensor() const;
    // After "set": every preview memory's segment is zeroed, so that no picture taken with
    // the old settings stays visible, and its picture placed where the new clip lies.
    void clear_preview_memories();

    // "receive" and "send" of each component.
    bool receive_component(MOutputChannel* out, const std::string& component, std::string& data);
    bool send_probe_config(MOutputChannel* out, const std::string& data);
    bool send_probe_tip(MOutputChannel* out, const std::string& data);

    // A preview memory's start that failed: everything it got so far is released.
    void undo_preview_memory(const std::string& probesystemName);
    // Waits (on the command thread) until `arrived` says so, at most firstImageTimeout.
    template <class Arrived> bool wait_for_first_image(Arrived arrived);

    CProbeManager probeManager;
    // The preview window, what its image receiver shares with the machine, and the channel of
    // the command that started it (none while no window preview runs).
    MPreviewWindow previewWindow;
    struct PreviewWindowContext {
        enum : int { kNoImage, kImage, kBadImage };
        MCameraCallbackClock* clock = nullptr;
        MClientNotifier* notifier = nullptr;
        MPreviewPicture* picture = nullptr;    // the window's copy of the newest frame
        std::atomic<int> firstImage{kNoImage}; // what came first since the last start
    } previewContext;
    MOutputChannel* previewReply = nullptr;
    bool previewRegistered = false; // the window's receiver is at the camera
    static void PreviewWindowCallback(void* context, const Vyx::CImgBuffer* image, uint32_t flags);
    // The running previews into shared memory, by probesystem name.
    std::map<std::string, std::unique_ptr<MCameraPreviewMemory>> previewMemories;
    double firstImageTimeout = 10.0;
    // The host's camera folder, where every Open starts to look for the camera's own.
    const std::string hostCameraDir;
    bool opened = false;
    // Name of the image FIFO handed out last by First/NextImageFifo; none at the end.
    std::optional<std::string> imageFifoCursor;
    std::string activeImageFifoName;
    MCameraAxes axes;
    MMachComponentTable components;
    MMachComponentTable::const_iterator componentCursor;
    // The measurand FIFO: lines of one double per axis, in process memory.
    std::unique_ptr<uint64_t[]> measurandFifo;
    size_t measurandFifoBytes = 0;
    // Axis indexes of a reported measurand line ("scandata").
    std::vector<size_t> scandataAxes;
    // Axes registered before "probe": the columns a measurement writes.
    size_t firstProbeAxisIndex = 0;
    bool always64 = false;
    MCameraAxesCallback axesCallback;
    MCameraAutoinfo autoinfo;
    MCameraCallbackClock callbackClock;
    MCameraMeasurement measurement;

    std::unique_ptr<MCameraProbeDB> cameraProbeDB;
    std::unique_ptr<MTessorProbesystemDB> cameraProbesystemDB;
};
