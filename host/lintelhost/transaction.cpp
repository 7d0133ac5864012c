#include "host/lintelhost/transaction.h"

#include "host/lintelhost/imageledger.h"
#include "host/lintelhost/textescape.h"
#include "lintel/server/machine/mmachabstract.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int32_t kErrorAborted = 10;
// An info line longer than this is cut: the start of a chain is its innermost cause.
constexpr size_t kMaxReason = 2000;

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

bool Transaction::Poll(MMachAbstract& machine, size_t maxLines, Lines& lines) {
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
        return PollCommand(maxLines, lines);
    }
}

bool Transaction::PollCommand(size_t maxLines, Lines& lines) {
    const bool done = command->IsDone();
    if (kind == Kind::Scan || kind == Kind::Scanpoint) {
        // The measurand lines come after the lines IsDone wrote ("measurement begin" first).
        std::vector<double> values;
        for (size_t taken = 0;; ++taken) {
            if (taken == maxLines) {
                lines.more = true;
                return false;
            }
            const bool got =
                kind == Kind::Scan
                    ? static_cast<MMachScanCommand&>(*command).ReadNextLine(values)
                    : static_cast<MMachScanpointCommand&>(*command).ReadNextLine(values);
            if (!got)
                break;
            ++lines.taken;
            channel->Data(values);
            if (ledger != nullptr && imageColumn < values.size() && values[imageColumn] >= 1)
                ledger->Named(imageFifo, static_cast<uint64_t>(values[imageColumn]), client);
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

void Transaction::Abort(MMachAbstract& machine, std::string reason) {
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
    Error(kErrorAborted, std::move(reason));
}

void Transaction::Forget() {
    kind = Kind::Immediate;
}

void Transaction::Error(int32_t code, std::string reason) {
    channel->Error(code);
    hostReason = std::move(reason);
}

void Transaction::AddLogged(const std::string& text) {
    if (logged.size() >= kMaxReason)
        return;
    if (!logged.empty())
        logged += "; ";
    logged += text;
}

std::string Transaction::TakeReply(bool final, const std::string& more) {
    std::string text;
    channel->Take(text, final);
    if (!final)
        return text;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%.4d\t", tid);
    if (channel->HasError()) {
        std::string reason = !logged.empty() ? logged : hostReason;
        if (!more.empty())
            reason += (reason.empty() ? "" : "; ") + more;
        if (reason.empty())
            reason = "the machine logged no reason";
        if (reason.size() > kMaxReason)
            reason.resize(kMaxReason);
        text += prefix;
        text += "info " + QuoteText(reason) + "\r\n";
    }
    text += prefix;
    text += "ready\r\n";
    return text;
}

void Transaction::TrackImages(size_t column, ImageLedger& imageLedger, const std::string& fifo) {
    imageColumn = column;
    ledger = &imageLedger;
    imageFifo = fifo;
}

void Transaction::SetScandataAxes(std::vector<std::string> axes) {
    isScandata = true;
    scandataAxes = std::move(axes);
}

const std::vector<std::string>* Transaction::ScandataAxes() const {
    return isScandata ? &scandataAxes : nullptr;
}
