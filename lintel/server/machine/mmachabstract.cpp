#include "lintel/server/machine/mmachabstract.h"

#include "lintel/server/commands/moutputchannel.h"
#include "lintel/server/machine/mclientnotifier.h"
#include "lintel/server/machine/mmachmagazinedb.h"

namespace {

constexpr int32_t kErrorCommandUnknown = 15; // "transaction: command unknown"

// Without a database the list queries answer a copy of these.
const std::vector<ProbeTipRecord>& EmptyProbeList() {
    static const std::vector<ProbeTipRecord> empty;
    return empty;
}

const std::vector<ProbesystemRecord>& EmptyProbesystemList() {
    static const std::vector<ProbesystemRecord> empty;
    return empty;
}

} // namespace

MMachAbstract::MMachAbstract(MOutputChannel* channel, MClientNotifier* notifier,
                             const std::string& name, const std::string& directory)
    : channel(channel), notifier(notifier), name(name), directory(directory) {}

// The databases belong to the derived machine; the channel and notifier to the server.
MMachAbstract::~MMachAbstract() = default;

void MMachAbstract::EnableCommand(const std::string& className) {
    enabledCommands[className] = true;
}

void MMachAbstract::DisableCommand(const std::string& className) {
    enabledCommands[className] = false;
}

void MMachAbstract::WakeUpClients() {
    if (notifier != nullptr)
        notifier->WakeUp();
}

bool MMachAbstract::IsNotifierSet() {
    return notifier != nullptr && notifier->GetState() != 0;
}

bool MMachAbstract::IsCommandEnabled(const std::string& className) {
    auto it = enabledCommands.find(className);
    return it != enabledCommands.end() && it->second;
}

const MMachComponentEntry* MMachAbstract::FindComponent(const std::string&) {
    return nullptr;
}
const MMachComponentEntry* MMachAbstract::FirstComponent() {
    return nullptr;
}
const MMachComponentEntry* MMachAbstract::NextComponent() {
    return nullptr;
}
void* MMachAbstract::NotProvided15() {
    return nullptr;
}
void* MMachAbstract::NotProvided16() {
    return nullptr;
}

double MMachAbstract::GetDefaultTimeout() {
    return 5.0;
}

bool MMachAbstract::IsTimeOnly(const std::map<std::string, MMachScanTarget>&) {
    return false;
}
bool MMachAbstract::NotProvided23() {
    return false;
}
bool MMachAbstract::NotProvided24() {
    return false;
}
bool MMachAbstract::NotProvided25() {
    return false;
}
bool MMachAbstract::NotProvided26() {
    return false;
}
bool MMachAbstract::NotProvided27() {
    return false;
}
int MMachAbstract::NotProvided28() {
    return 0;
}
bool MMachAbstract::NotProvided29() {
    return false;
}
int MMachAbstract::NotProvided30() {
    return 0;
}
int MMachAbstract::NotProvided31() {
    return 0;
}
int MMachAbstract::NotProvided32() {
    return 0;
}
int MMachAbstract::NotProvided33() {
    return 0;
}
bool MMachAbstract::NotProvided34() {
    return false;
}
bool MMachAbstract::NotProvided35() {
    return false;
}
int MMachAbstract::NotProvided36() {
    return 0;
}
int MMachAbstract::NotProvided37() {
    return 0;
}
int MMachAbstract::NotProvided38() {
    return 0;
}
int MMachAbstract::NotProvided39() {
    return 0;
}
bool MMachAbstract::NotProvided40() {
    return false;
}

bool MMachAbstract::HasAutoinfo() {
    return false;
}
bool MMachAbstract::StartAutoinfo(MOutputChannel*, uint32_t, const std::vector<std::string>&) {
    return false;
}
void MMachAbstract::StopAutoinfo() {}
bool MMachAbstract::GetAutoinfo(std::vector<double>&) {
    return false;
}
bool MMachAbstract::IsAutoinfoRunning() {
    return false;
}

bool MMachAbstract::NotProvided46() {
    return false;
}
bool MMachAbstract::NotProvided47() {
    return false;
}
void MMachAbstract::NotProvided48() {}
bool MMachAbstract::NotProvided49() {
    return false;
}
bool MMachAbstract::NotProvided50() {
    return false;
}

bool MMachAbstract::HasPreview() {
    return false;
}
bool MMachAbstract::StartPreview(MOutputChannel*, const MMachPreviewPlacement&) {
    return false;
}
bool MMachAbstract::StopPreview() {
    return false;
}
bool MMachAbstract::UpdatePreview() {
    return false;
}
bool MMachAbstract::IsPreviewRunning() {
    return false;
}
bool MMachAbstract::HasPreviewMemory() {
    return false;
}
bool MMachAbstract::StartPreviewMemory(MOutputChannel*, uint32_t, const std::string&,
                                       const std::string&) {
    return false;
}
bool MMachAbstract::StopPreviewMemory(const std::string&) {
    return false;
}
bool MMachAbstract::IsPreviewMemoryRunning(const std::string&) {
    return false;
}
bool MMachAbstract::UpdatePreviewMemory(const std::string&) {
    return false;
}

// The pass-throughs ask the presence queries through the virtual table, so that a derived
// machine can hide a database by overriding the presence query alone.

bool MMachAbstract::HasProbesystemDB() {
    return probesystemDB != nullptr;
}

bool MMachAbstract::IsProbesystemDefined(const std::string& name) {
    return HasProbesystemDB() && probesystemDB->IsProbesystemDefined(name);
}

const char* MMachAbstract::FirstProbesystemType() {
    return HasProbesystemDB() ? probesystemDB->FirstProbesystemType() : nullptr;
}

const char* MMachAbstract::NextProbesystemType() {
    return HasProbesystemDB() ? probesystemDB->NextProbesystemType() : nullptr;
}

bool MMachAbstract::IsProbesystemIdDefined(const std::string& name, uint32_t id) {
    return HasProbesystemDB() && probesystemDB->IsProbesystemIdDefined(name, id);
}

std::vector<ProbesystemRecord> MMachAbstract::ListProbesystems(const std::string& name,
                                                               uint32_t id) {
    if (!HasProbesystemDB())
        return EmptyProbesystemList();
    return probesystemDB->ListProbesystems(name, id);
}

bool MMachAbstract::HasActiveProbesystem() {
    return HasProbesystemDB() && probesystemDB->HasActiveProbesystem();
}

bool MMachAbstract::IsProbesystemTypeDefined(const std::string& type) {
    return HasProbesystemDB() && probesystemDB->IsProbesystemTypeDefined(type);
}

std::string MMachAbstract::GetActiveProbesystem() {
    return HasProbesystemDB() ? probesystemDB->GetActiveProbesystem() : std::string();
}

uint32_t MMachAbstract::GetActiveProbesystemId() {
    return HasProbesystemDB() ? probesystemDB->GetActiveProbesystemId() : 0;
}

MMachProbesystemType MMachAbstract::GetActiveProbesystemType() {
    MMachProbesystemType type;
    type.kind = 1;
    return type;
}

bool MMachAbstract::HasImageFifos() {
    return false;
}
MMachImagefifo* MMachAbstract::GetActiveImageFifo() {
    return nullptr;
}
MMachImagefifo* MMachAbstract::FindImageFifo(const std::string&) {
    return nullptr;
}
MMachImagefifo* MMachAbstract::FirstImageFifo() {
    return nullptr;
}
MMachImagefifo* MMachAbstract::NextImageFifo() {
    return nullptr;
}

void MMachAbstract::GetProbesystemImageInfo(MMachImageInfo& info) {
    info = MMachImageInfo();
}

bool MMachAbstract::HasProbeDB() {
    return probeDB != nullptr;
}

bool MMachAbstract::IsProbeDefined(uint32_t probe) {
    return HasProbeDB() && probeDB->IsProbeDefined(probe);
}

bool MMachAbstract::IsTipDefined(uint32_t probe, uint32_t tip) {
    return HasProbeDB() && probeDB->IsTipDefined(probe, tip);
}

std::vector<ProbeTipRecord> MMachAbstract::ListProbes(uint32_t probe, uint32_t tip) {
    if (!HasProbeDB())
        return EmptyProbeList();
    return probeDB->ListProbes(probe, tip);
}

uint32_t MMachAbstract::GetMaxProbeNumber() {
    return HasProbeDB() ? probeDB->GetMaxProbeNumber() : 0;
}

uint32_t MMachAbstract::GetMaxTipNumber() {
    return HasProbeDB() ? probeDB->GetMaxTipNumber() : 0;
}

uint32_t MMachAbstract::GetActiveProbe() {
    return HasProbeDB() ? probeDB->GetActiveProbe() : 0;
}

uint32_t MMachAbstract::GetActiveTip() {
    return HasProbeDB() ? probeDB->GetActiveTip() : 0;
}

bool MMachAbstract::HasMagazineDB() {
    return magazineDB != nullptr;
}

uint32_t MMachAbstract::GetSlotOfProbe(uint32_t probe) {
    return HasMagazineDB() ? magazineDB->GetSlotOfProbe(probe) : 0;
}

bool MMachAbstract::FindSlot(uint32_t slot) {
    return HasMagazineDB() && magazineDB->FindSlot(slot) != nullptr;
}

bool MMachAbstract::SetSlot(uint32_t slot, uint32_t probe) {
    return HasMagazineDB() && magazineDB->SetSlot(slot, probe);
}

std::string MMachAbstract::GetLoadProgram(uint32_t slot) {
    return HasMagazineDB() ? magazineDB->GetLoadProgram(slot) : std::string();
}

std::string MMachAbstract::GetUnloadProgram(uint32_t slot) {
    return HasMagazineDB() ? magazineDB->GetUnloadProgram(slot) : std::string();
}

std::string MMachAbstract::GetChangeProgram(uint32_t fromSlot, uint32_t toSlot) {
    return HasMagazineDB() ? magazineDB->GetChangeProgram(fromSlot, toSlot) : std::string();
}

std::map<uint32_t, uint32_t> MMachAbstract::GetSlots(const std::string& name, uint32_t id) {
    if (!HasMagazineDB())
        return {};
    return magazineDB->GetSlots(name, id);
}

std::string MMachAbstract::NotProvided94() {
    return std::string();
}

bool MMachAbstract::NotProvided95(std::string& result) {
    result.clear();
    return false;
}

bool MMachAbstract::NotProvided96() {
    return false;
}
bool MMachAbstract::NotProvided98() {
    return false;
}
bool MMachAbstract::NotProvided99() {
    return true;
}
bool MMachAbstract::NotProvided100() {
    return false;
}
bool MMachAbstract::NotProvided101() {
    return false;
}
bool MMachAbstract::NotProvided102() {
    return false;
}
bool MMachAbstract::NotProvided103() {
    return false;
}

std::nullptr_t MMachAbstract::unknown_command(MOutputChannel* out) {
    if (out != nullptr)
        out->Error(kErrorCommandUnknown);
    return nullptr;
}

MMachGetCommand* MMachAbstract::NewMMachGetCommand(MOutputChannel* out,
                                                   const std::vector<std::string>&) {
    return unknown_command(out);
}

MMachInitCommand* MMachAbstract::NewMMachInitCommand(MOutputChannel* out,
                                                     const std::set<std::string>&) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand106(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand107(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand108(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand109(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand110(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand111(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand112(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand113(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand114(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand115(MOutputChannel* out) {
    return unknown_command(out);
}

MMachReceiveCommand* MMachAbstract::NewMMachReceiveCommand(MOutputChannel* out,
                                                           const std::string&) {
    return unknown_command(out);
}

MMachSendCommand* MMachAbstract::NewMMachSendCommand(MOutputChannel* out, const std::string&,
                                                     const std::string&) {
    return unknown_command(out);
}

MMachSetCommand* MMachAbstract::NewMMachSetCommand(MOutputChannel* out,
                                                   const std::map<std::string, double>&) {
    return unknown_command(out);
}

MMachScanCommand* MMachAbstract::NewMMachScanCommand(MOutputChannel* out, const MMachScanRequest&) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand120(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand121(MOutputChannel* out) {
    return unknown_command(out);
}

// Unlike every other factory this one stays silent.
MMachCommand* MMachAbstract::NewMMachCommand122(MOutputChannel*) {
    return nullptr;
}

MMachProbesystemLoadCommand*
MMachAbstract::NewMMachProbesystemLoadCommand(MOutputChannel* out, const std::string&, uint32_t) {
    return unknown_command(out);
}

MMachProbesystemUnloadCommand*
MMachAbstract::NewMMachProbesystemUnloadCommand(MOutputChannel* out) {
    return unknown_command(out);
}

MMachProbesystemDefineCommand* MMachAbstract::NewMMachProbesystemDefineCommand(MOutputChannel* out,
                                                                               const std::string&) {
    return unknown_command(out);
}

MMachProbesystemDeleteCommand*
MMachAbstract::NewMMachProbesystemDeleteCommand(MOutputChannel* out, const std::string&, uint32_t) {
    return unknown_command(out);
}

MMachProbeLoadCommand* MMachAbstract::NewMMachProbeLoadCommand(MOutputChannel* out, uint32_t,
                                                               uint32_t) {
    return unknown_command(out);
}

MMachProbeDeleteCommand* MMachAbstract::NewMMachProbeDeleteCommand(MOutputChannel* out, uint32_t,
                                                                   uint32_t) {
    return unknown_command(out);
}

MMachProbeDefineCommand*
MMachAbstract::NewMMachProbeDefineCommand(MOutputChannel* out, uint32_t, uint32_t,
                                          const std::map<std::string, double>&) {
    return unknown_command(out);
}

MMachProbeUnloadCommand* MMachAbstract::NewMMachProbeUnloadCommand(MOutputChannel* out) {
    return unknown_command(out);
}

MMachProbeChangeCommand* MMachAbstract::NewMMachProbeChangeCommand(MOutputChannel* out, uint32_t,
                                                                   uint32_t) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand132(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand133(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand134(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand135(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand136(MOutputChannel* out) {
    return unknown_command(out);
}

MMachScandataCommand* MMachAbstract::NewMMachScandataCommand(MOutputChannel* out,
                                                             const std::vector<std::string>&) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand138(MOutputChannel* out) {
    return unknown_command(out);
}

MMachScanpointCommand* MMachAbstract::NewMMachScanpointCommand(MOutputChannel* out,
                                                               const MMachScanRequest&) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand140(MOutputChannel* out) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand141(MOutputChannel* out) {
    return unknown_command(out);
}

MMachImagefifoCreateCommand*
MMachAbstract::NewMMachImagefifoCreateCommand(MOutputChannel* out, const std::string&, uint64_t) {
    return unknown_command(out);
}

MMachImagefifoDeleteCommand* MMachAbstract::NewMMachImagefifoDeleteCommand(MOutputChannel* out,
                                                                           const std::string&) {
    return unknown_command(out);
}

MMachImagefifoResetCommand* MMachAbstract::NewMMachImagefifoResetCommand(MOutputChannel* out) {
    return unknown_command(out);
}

MMachImagefifoSelectCommand* MMachAbstract::NewMMachImagefifoSelectCommand(MOutputChannel* out,
                                                                           const std::string&) {
    return unknown_command(out);
}

MMachCommand* MMachAbstract::NewMMachCommand146(MOutputChannel* out) {
    return unknown_command(out);
}
