// The camera machine's previews: preview memories (images into named shared memory for
// client processes) and the preview window.

#include "mt_proxy/camera/mmachabstract/mcameramachabstract.h"

#include "csensor/sensors/csensor.h"
#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "msl/merror/merrtracecontext.h"
#include "msl/mipc/msharedmem.h"
#include "msl/mutil/minidata.h"
#include "msl/mutil/msleep.h"
#include "mt_proxy/camera/misc/cimagereceivers.h"
#include "platform/trace/merrlog.h"
#include "platform/trace/merrtrace.h"
#include "platform/trace/mtrace.h"

namespace {

constexpr int32_t kInternalError = 16;
constexpr int32_t kCommandAlreadyActive = 19;
constexpr int32_t kPreviewBegin = 4;

// Takes a receiver away quietly: after a failed start it may never have been registered.
void RemoveReceiver(CSensor* sensor, const CImageReceiver& receiver) {
    if (sensor == nullptr)
        return;
    MErrTrace_BeginContext();
    sensor->SetPropertyData(1, &receiver);
    MErrTrace_ClearContext();
    MErrTrace_EndContext();
}

// Where a preview memory's picture starts: at its clip's place in a full frame of memory width
// pixels per row. Row pitch and offsets count pixels, so the byte offset is the pixel offset
// times bytes per pixel; the frame record cannot tell the place itself, since a camera that
// reads out its clip only delivers the clip as the whole frame. In 32 bits, as clients
// compute it.
uint32_t PictureOffset(const MCameraImageInfo& info) {
    return (info.clipY * info.memWidth + info.clipX) * info.memBytesPerPixel;
}

} // namespace

template <class Arrived> bool MCameraMachAbstract::wait_for_first_image(Arrived arrived) {
    const MStopwatch waiting;
    while (!arrived()) {
        if (waiting.Elapsed() > firstImageTimeout)
            return false;
        msleep_sec(0.01);
    }
    return true;
}

// ---- Preview memories ----

bool MCameraMachAbstract::StartPreviewMemory(MOutputChannel* reply, uint32_t minIntervalMs,
                                             const std::string& memoryName,
                                             const std::string& probesystemName) {
    MErrTraceContext context(__FILE__);
    if (previewMemories.count(probesystemName) != 0) {
        MERRTRACE("StartPreviewMemory(): preview already running for %s", probesystemName.c_str());
        reply->Error(kCommandAlreadyActive);
        return false;
    }
    auto& record = previewMemories[probesystemName];
    record = std::make_unique<MCameraPreviewMemory>(callbackClock);
    auto fail = [&](const char* text, int32_t code) {
        if (text != nullptr)
            reply->Error(std::string(text));
        else
            reply->Error(code);
        undo_preview_memory(probesystemName);
        context.DumpToMErrLog(__LINE__, "StartPreviewMemory(%s) failed", probesystemName.c_str());
        return false;
    };

    const std::string eventName = memoryName + ".event";
    record->event = create_event(eventName.c_str());
    if (record->event == nullptr) {
        MERRTRACE("StartPreviewMemory(): failed to create event %s", eventName.c_str());
        return fail(nullptr, kInternalError);
    }
    MCameraImageInfo info;
    if (!get_image_info(probesystemName, info)) {
        MERRTRACE("StartPreviewMemory(): failed to determine memory needed for an image");
        return fail("failed to get necessary memory size", 0);
    }
    const size_t imageSize =
        static_cast<uint32_t>(info.memWidth * info.memHeight * info.memBytesPerPixel);
    MTRACE(5, "StartPreviewMemory(): image size is %zu bytes", imageSize);
    // A segment of its own: pixels written into another one (an image FIFO, a segment some
    // program uses) would wreck it. A stale one of that name is replaced.
    record->segment = static_cast<uint8_t*>(MSharedMem_Create(memoryName.c_str(), imageSize));
    if (record->segment == nullptr) {
        MERRTRACE("StartPreviewMemory(): shared memory failure");
        return fail("shared memory failure", 0);
    }
    record->segmentSize = MSharedMem_GetSize(record->segment);
    if (record->segmentSize == static_cast<size_t>(-1) || record->segmentSize < imageSize) {
        MERRTRACE("StartPreviewMemory(): shared memory too small (%zu<%zu", record->segmentSize,
                  imageSize);
        return fail("shared memory too small", 0);
    }
    MTRACE(4, "StartPreviewMemory(): shared memory %s is %zu bytes in size", memoryName.c_str(),
           record->segmentSize);
    record->Clear(PictureOffset(info));
    record->minIntervalMs = minIntervalMs;
    record->reply = reply;
    record->interval = std::make_unique<MStopwatch>();
    callbackClock.Restart();

    const CImageReceiver receiver{&MCameraPreviewMemory::Callback, record->Context()};
    CSensor* sensor = probeManager.GetSensor();
    if (sensor == nullptr || !sensor->SetPropertyData(0, &receiver)) {
        MERRTRACE("StartPreviewMemory(): failed to register callback");
        return fail(nullptr, kInternalError);
    }
    record->registered = true;
    if (!wait_for_first_image([&] { return record->HasFirstImage(); }))
        return fail("timeout while waiting for image", 0);
    reply->Event(kPreviewBegin);
    return true;
}

void MCameraMachAbstract::undo_preview_memory(const std::string& probesystemName) {
    auto it = previewMemories.find(probesystemName);
    if (it == previewMemories.end())
        return;
    MCameraPreviewMemory& record = *it->second;
    // The receiver list is the camera's: take it away there, whichever sensor is current.
    if (record.registered)
        RemoveReceiver(find_camera_sensor(),
                       CImageReceiver{&MCameraPreviewMemory::Callback, record.Context()});
    previewMemories.erase(it); // closes the event and drops the segment's link
}

bool MCameraMachAbstract::StopPreviewMemory(const std::string& probesystemName) {
    MErrTraceContext context(__FILE__);
    auto it = previewMemories.find(probesystemName);
    if (it == previewMemories.end()) {
        MERRTRACE("StopPreviewMemory(): no preview running for %s", probesystemName.c_str());
        return false;
    }
    std::unique_ptr<MCameraPreviewMemory> record = std::move(it->second);
    previewMemories.erase(it);
    if (record->registered)
        RemoveReceiver(find_camera_sensor(),
                       CImageReceiver{&MCameraPreviewMemory::Callback, record->Context()});
    record->interval.reset();
    bool ok = true;
    if (!MSharedMem_Unlink(record->segment)) {
        record->reply->Error(std::string("failed to unlink from shared memory"));
        MERRTRACE("StopPreviewMemory(): failed to unlink from shared memory %p",
                  static_cast<void*>(record->segment));
        ok = false;
    }
    record->segment = nullptr;
    if (!close_event(record->event)) {
        record->reply->Error(kInternalError);
        MERRTRACE("StopPreviewMemory(): failed to close event");
        ok = false;
    }
    record->event = nullptr;
    if (!ok)
        context.DumpToMErrLog(__LINE__, "StopPreviewMemory(%s) failed", probesystemName.c_str());
    return ok;
}

bool MCameraMachAbstract::IsPreviewMemoryRunning(const std::string& probesystemName) {
    return previewMemories.count(probesystemName) != 0;
}

bool MCameraMachAbstract::UpdatePreviewMemory(const std::string& probesystemName) {
    auto it = previewMemories.find(probesystemName);
    if (it == previewMemories.end())
        return false;
    MCameraPreviewMemory& record = *it->second;
    if (callbackClock.IsTimedOut()) {
        record.reply->Error(std::string("no images from camera"));
        MERRTRACE("UpdatePreviewMemory(): camera timeout");
        return false;
    }
    if (record.HasCameraError()) {
        MERRTRACE("UpdatePreviewMemory(): camera needs trigger resync");
        record.reply->Error(std::string("Camera needs restart"));
        // The permanent axes callback saw the same frames: one event for both.
        axesCallback.TakeCameraError();
        if (channel != nullptr)
            channel->Event(std::string("resync needed"));
        return false;
    }
    return true;
}

void MCameraMachAbstract::clear_preview_memories() {
    for (auto& [probesystemName, record] : previewMemories) {
        MCameraImageInfo info;
        record->Clear(get_image_info(probesystemName, info) ? PictureOffset(info)
                                                            : record->PictureOffset());
    }
}

// ---- The preview window ----

void MCameraMachAbstract::PreviewWindowCallback(void* context, const Vyx::CImgBuffer* image,
                                                uint32_t) {
    auto* preview = static_cast<PreviewWindowContext*>(context);
    preview->clock->Restart();
    int none = PreviewWindowContext::kNoImage;
    preview->firstImage.compare_exchange_strong(none, image->pixels != nullptr
                                                          ? PreviewWindowContext::kImage
                                                          : PreviewWindowContext::kBadImage);
    // A copy is made only once the window has drawn the last one; then the host is woken to
    // have the new one drawn, so the window is redrawn at most at the rate it can draw.
    if (preview->picture->Offer(*image) && preview->notifier != nullptr)
        preview->notifier->WakeUp();
}

bool MCameraMachAbstract::StartPreview(MOutputChannel* reply,
                                       const MMachPreviewPlacement& placement) {
    MErrTraceContext context(__FILE__);
    MPreviewPicture& picture = previewWindow.Picture();
    callbackClock.Restart();
    previewContext.firstImage.store(PreviewWindowContext::kNoImage);
    if (!previewWindow.IsThreadRunning()) {
        // A new window shows nothing of an earlier one: its first picture is the first frame.
        picture.Clear();
        picture.Want();
    }
    // A start while a window preview runs shares that preview's receiver (a second one would
    // stay behind at the camera after the stop) and leaves it to that preview when it fails.
    const CImageReceiver receiver{&MCameraMachAbstract::PreviewWindowCallback, &previewContext};
    bool registeredHere = false;
    if (!previewRegistered) {
        // Written only while no receiver reads them.
        previewContext.clock = &callbackClock;
        previewContext.notifier = notifier;
        previewContext.picture = &picture;
        CSensor* sensor = probeManager.GetSensor();
        if (sensor == nullptr || !sensor->SetPropertyData(0, &receiver)) {
            MERRTRACE("StartPreview(): failed to register callback");
            reply->Error(kInternalError); // and the start goes on: an image may come all the same
        } else {
            previewRegistered = registeredHere = true;
        }
    }
    auto fail = [&](const char* text, int32_t code) {
        if (text != nullptr)
            reply->Error(std::string(text));
        else
            reply->Error(code);
        if (registeredHere) {
            RemoveReceiver(find_camera_sensor(), receiver);
            previewRegistered = false;
        }
        if (!previewWindow.IsThreadRunning())
            picture.Refuse();
        context.DumpToMErrLog(__LINE__, "StartPreview() failed");
        return false;
    };
    if (!wait_for_first_image([&] {
            if (notifier != nullptr)
                notifier->GetState(); // lets the server breathe while it waits
            return previewContext.firstImage.load() != PreviewWindowContext::kNoImage;
        })) {
        MERRTRACE("StartPreview(): first image took more than %g s. Giving up.", firstImageTimeout);
        return fail(nullptr, kInternalError);
    }
    if (previewContext.firstImage.load() == PreviewWindowContext::kBadImage) {
        MERRTRACE("StartPreview(): camera returned bad image");
        return fail("Bad image from camera", 0);
    }
    std::string text;
    if (probeManager.GetSensor() == nullptr ||
        !probeManager.GetSensor()->GetProbeProperties(text)) {
        MERRTRACE("StartPreview(): GetProbeProperties() failed");
        return fail(nullptr, kInternalError);
    }
    MIniData properties;
    if (!properties.SetContentString(text)) {
        MERRTRACE("StartPreview(): SetContentString() failed");
        return fail(nullptr, kInternalError);
    }
    int32_t flip = 0;
    const bool flipX = properties.GetLongEntry("Camera", "flip_x", flip) && flip != 0;
    flip = 0;
    const bool flipY = properties.GetLongEntry("Camera", "flip_y", flip) && flip != 0;
    MTRACE(5, "StartPreview(): %sflipping x", flipX ? "" : "not ");
    MTRACE(5, "StartPreview(): %sflipping y", flipY ? "" : "not ");
    if (!previewWindow.IsThreadRunning()) {
        // The window shows its copy of the frames' clip rectangles, one byte per pixel.
        MPreviewImageDescription style;
        style.flipX = flipX ? 1 : 0;
        style.flipY = flipY ? 1 : 0;
        if (!previewWindow.Open(style, placement))
            return fail("failed to open preview window", 0);
    }
    previewReply = reply;
    return true;
}

bool MCameraMachAbstract::StopPreview() {
    if (previewRegistered)
        RemoveReceiver(
            find_camera_sensor(),
            CImageReceiver{&MCameraMachAbstract::PreviewWindowCallback, &previewContext});
    previewRegistered = false;
    const bool closed = previewWindow.Close();
    if (!closed && previewReply != nullptr)
        previewReply->Error(std::string("failed to close preview window"));
    previewReply = nullptr;
    return closed;
}

bool MCameraMachAbstract::UpdatePreview() {
    if (previewReply == nullptr) {
        MERRTRACE("UpdatePreview(): no preview running");
        return false;
    }
    if (previewWindow.IsWindowGone()) {
        MERRTRACE("Update(): preview window is gone");
        previewReply->Error(std::string("failed to update preview window"));
        return false;
    }
    int systemError = 0;
    if (previewWindow.IsWindowReady() && !previewWindow.Update(&systemError)) {
        MERRTRACE("Update(): failed to update preview window: %d", systemError);
        if (!previewWindow.Close())
            MERRTRACE("Update(): failed to close preview window");
        previewReply->Error(std::string("failed to update preview window"));
        return false;
    }
    if (callbackClock.IsTimedOut()) {
        MERRTRACE("UpdatePreview(): camera timeout");
        previewReply->Error(std::string("no images from camera"));
        return false;
    }
    return true;
}

bool MCameraMachAbstract::IsPreviewRunning() {
    return previewWindow.IsThreadRunning();
}

// ---- Both ----

void MCameraMachAbstract::stop_all_previews() {
    if (previewReply != nullptr) {
        previewReply->Error(std::string("aborted"));
        StopPreview();
        MTRACE(4, "stop_all_previews(): preview aborted");
    }
    for (auto it = previewMemories.begin(); it != previewMemories.end();) {
        const std::string probesystemName = (it++)->first; // the record goes below
        MTRACE(4, "stop_all_previews(): preview memory %s aborted", probesystemName.c_str());
        previewMemories[probesystemName]->reply->Error(std::string("aborted"));
        StopPreviewMemory(probesystemName);
    }
}
