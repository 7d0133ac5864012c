#include "host/lintelhost/transaction.h"

#include "host/lintelhost/textescape.h"
#include "lintel/server/machine/mmachabstract.h"
#include "msl/mipc/mmemblockringbuffer.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int32_t kErrorAborted = 10;

} // namespace

Transaction::Transaction(ClientId client, int tid)
    : client(client), tid(tid), channel(std::make_unique<MOutputChannel>(tid)) {}

Transaction::~Transaction() {
    command.reset();
    // Whatever is left was meant for a client that is gone; the channel must not report it.
    channel->Clear();
}

void Transaction::BeginCommand(Kind commandKind, MMachCommand* started) {
    command.reset(started);
    kind = started != nullptr ? commandKind : Kind::Immediate;
}

void Transaction::BeginPreviewMemory(const std::string& probesystem) {
    kind = Kind::PreviewMemory;
    previewName = probesystem;
}

bool Transaction::Poll(MMachAbstract& machine, size_t maxLines, bool& more) {
    switch (kind) {
    case Kind::Immediate:
        return true;
    case Kind::Autoinfo: {
        if (!machine.IsAutoinfoRunning())
            return true;
        std::vector<double> values;
        if (machine.GetAutoinfo(values))
            channel->Data(values);
        return false;
    }
    case Kind::PreviewMemory:
        if (!machine.IsPreviewMemoryRunning(previewName))
            return true; // stopped by the machine, which said why in the channel
        if (machine.UpdatePreviewMemory(previewName))
            return false;
        machine.StopPreviewMemory(previewName);
        return true;
    case Kind::PreviewWindow:
        if (!machine.IsPreviewRunning())
            return true;
        if (machine.UpdatePreview())
            return false;
        machine.StopPreview();
        return true;
    default:
        return PollCommand(maxLines, more);
    }
}

bool Transaction::PollCommand(size_t maxLines, bool& more) {
    const bool done = command->IsDone();
    if (kind == Kind::Scan || kind == Kind::Scanpoint) {
        // The measurand lines come after the lines IsDone wrote ("measurement begin" first).
        std::vector<double> values;
        for (size_t taken = 0;; ++taken) {
            if (taken == maxLines) {
                more = true;
                return false;
            }
            const bool got =
                kind == Kind::Scan
                    ? static_cast<MMachScanCommand&>(*command).ReadNextLine(values)
                    : static_cast<MMachScanpointCommand&>(*command).ReadNextLine(values);
            if (!got)
                break;
            channel->Data(values);
            if (imageColumn < values.size() && values[imageColumn] >= 1)
                deliveredImages.push_back(static_cast<uint64_t>(values[imageColumn]));
        }
        return done;
    }
    if (!done)
        return false;
    if (kind == Kind::Get)
        channel->Data(static_cast<MMachGetCommand&>(*command).GetValues());
    else if (kind == Kind::Receive)
        channel->Data(QuoteText(static_cast<MMachReceiveCommand&>(*command).GetData()));
    return true;
}

void Transaction::Abort(MMachAbstract& machine) {
    switch (kind) {
    case Kind::Immediate:
        return;
    case Kind::Autoinfo:
        if (machine.IsAutoinfoRunning())
            machine.StopAutoinfo();
        break;
    case Kind::PreviewMemory:
        if (machine.IsPreviewMemoryRunning(previewName))
            machine.StopPreviewMemory(previewName);
        break;
    case Kind::PreviewWindow:
        if (machine.IsPreviewRunning())
            machine.StopPreview();
        break;
    default:
        command->Abort();
        // Nothing of the command is polled any more: release it at once.
        command.reset();
        break;
    }
    kind = Kind::Immediate;
    channel->Error(kErrorAborted);
}

void Transaction::Forget() {
    kind = Kind::Immediate;
}

std::string Transaction::TakeReply(bool final) {
    std::string text;
    channel->Take(text, final);
    if (final) {
        char ready[32];
        std::snprintf(ready, sizeof ready, "%.4d\tready\r\n", tid);
        text += ready;
    }
    return text;
}

void Transaction::TrackImages(size_t column, void* ring64, void* ring32) {
    imageColumn = column;
    imageRing64 = ring64;
    imageRing32 = ring32;
}

void Transaction::ReleaseDeliveredImages() {
    for (uint64_t block : deliveredImages) {
        if (imageRing64 != nullptr)
            MMemBlockRingBuffer_Release(imageRing64, block);
        else if (imageRing32 != nullptr && block <= UINT32_MAX)
            MMemBlockRingBuffer32_Release(imageRing32, static_cast<uint32_t>(block));
    }
    deliveredImages.clear();
}

void Transaction::SetScandataAxes(std::vector<std::string> axes) {
    isScandata = true;
    scandataAxes = std::move(axes);
}

const std::vector<std::string>* Transaction::ScandataAxes() const {
    return isScandata ? &scandataAxes : nullptr;
}
