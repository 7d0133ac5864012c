#pragma once
// The machine interface the server drives.
//
// The server knows machines only through this class and calls its virtual operations by
// position, so their order below is a contract: never insert, remove or reorder one. The
// numbers in the comments are the operations' positions (the destructor is number 2).
// Operations this module does not provide keep their place as placeholders; their
// arguments are not known here, so they take none and ignore whatever the server passes.
//
// Every query has a default (false, 0, null or an empty result), a pass-through query
// forwards to a database a derived machine attached, and a command factory reports that
// the command is unknown (error 15).

#include "lintel/server/machine/mmachaxiscommands.h"
#include "lintel/server/machine/mmachimagefifo.h"
#include "lintel/server/machine/mmachimagefifocommands.h"
#include "lintel/server/machine/mmachprobecommands.h"
#include "lintel/server/machine/mmachprobedb.h"
#include "lintel/server/machine/mmachprobesystemdb.h"
#include "lintel/server/machine/mmachrecords.h"
#include "lintel/server/machine/mmachscancommands.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class MClientNotifier;
class MMachMagazineDB;
class MOutputChannel;

class MMachAbstract {
public:
    // `channel` (asynchronous errors and events) and `notifier` belong to the server.
    MMachAbstract(MOutputChannel* channel, MClientNotifier* notifier, const std::string& name,
                  const std::string& directory);

    /* 0 */ virtual void EnableCommand(const std::string& className);
    /* 1 */ virtual void DisableCommand(const std::string& className);
    /* 2 */ virtual ~MMachAbstract();
    /* 3 */ virtual bool Open() = 0;
    /* 4 */ virtual bool Close() = 0;
    /* 5 */ virtual void WakeUpClients();
    /* 6 */ virtual bool IsNotifierSet();
    /* 7 */ virtual void PollAsyncErrors() = 0;
    // False for a class name never enabled or disabled.
    /* 8 */ virtual bool IsCommandEnabled(const std::string& className);
    /* 9 */ virtual std::string GetSensorName() = 0;
    /* 10 */ virtual std::string GetVersion() = 0;
    /* 11 */ virtual std::string GetSensorSerialNo() = 0;

    // Components ("send", "receive"); First/Next iterate, null at the end.
    /* 12 */ virtual const MMachComponentEntry* FindComponent(const std::string& name);
    /* 13 */ virtual const MMachComponentEntry* FirstComponent();
    /* 14 */ virtual const MMachComponentEntry* NextComponent();
    /* 15 */ virtual void* NotProvided15();
    /* 16 */ virtual void* NotProvided16();

    // Axes; First/Next iterate, null at the end.
    /* 17 */ virtual const MMachAxis* FindAxis(const std::string& name) = 0;
    /* 18 */ virtual const MMachAxis* FirstAxis() = 0;
    /* 19 */ virtual const MMachAxis* NextAxis() = 0;
    // NaN for an unknown axis.
    /* 20 */ virtual double GetAxisValue(const std::string& name) = 0;
    /* 21 */ virtual double GetDefaultTimeout();
    // Whether every axis of a scan is "time".
    /* 22 */ virtual bool IsTimeOnly(const std::map<std::string, MMachScanTarget>& axes);

    /* 23 */ virtual bool NotProvided23();
    /* 24 */ virtual bool NotProvided24();
    /* 25 */ virtual bool NotProvided25();
    /* 26 */ virtual bool NotProvided26();
    /* 27 */ virtual bool NotProvided27();
    /* 28 */ virtual int NotProvided28();
    /* 29 */ virtual bool NotProvided29();
    /* 30 */ virtual int NotProvided30();
    /* 31 */ virtual int NotProvided31();
    /* 32 */ virtual int NotProvided32();
    /* 33 */ virtual int NotProvided33();
    /* 34 */ virtual bool NotProvided34();
    /* 35 */ virtual bool NotProvided35();
    /* 36 */ virtual int NotProvided36();
    /* 37 */ virtual int NotProvided37();
    /* 38 */ virtual int NotProvided38();
    /* 39 */ virtual int NotProvided39();
    /* 40 */ virtual bool NotProvided40();

    // Autoinfo: the server reads the chosen axes each time the machine wakes it up.
    /* 41 */ virtual bool HasAutoinfo();
    /* 42 */ virtual bool StartAutoinfo(MOutputChannel* reply, uint32_t intervalMs,
                                        const std::vector<std::string>& axes);
    /* 43 */ virtual void StopAutoinfo();
    /* 44 */ virtual bool GetAutoinfo(std::vector<double>& values);
    /* 45 */ virtual bool IsAutoinfoRunning();

    /* 46 */ virtual bool NotProvided46();
    /* 47 */ virtual bool NotProvided47();
    /* 48 */ virtual void NotProvided48();
    /* 49 */ virtual bool NotProvided49();
    /* 50 */ virtual bool NotProvided50();

    // Preview in a window of the machine's own.
    /* 51 */ virtual bool HasPreview();
    /* 52 */ virtual bool StartPreview(MOutputChannel* reply,
                                       const MMachPreviewPlacement& placement);
    /* 53 */ virtual bool StopPreview();
    /* 54 */ virtual bool UpdatePreview();
    /* 55 */ virtual bool IsPreviewRunning();
    // Preview into a named shared-memory segment, one per probesystem name.
    /* 56 */ virtual bool HasPreviewMemory();
    /* 57 */ virtual bool StartPreviewMemory(MOutputChannel* reply, uint32_t minIntervalMs,
                                             const std::string& memoryName,
                                             const std::string& probesystemName);
    /* 58 */ virtual bool StopPreviewMemory(const std::string& probesystemName);
    /* 59 */ virtual bool IsPreviewMemoryRunning(const std::string& probesystemName);
    /* 60 */ virtual bool UpdatePreviewMemory(const std::string& probesystemName);

    // Probesystem database; 62 to 70 answer only when 61 does.
    /* 61 */ virtual bool HasProbesystemDB();
    /* 62 */ virtual bool IsProbesystemDefined(const std::string& name);
    /* 63 */ virtual const char* FirstProbesystemType();
    /* 64 */ virtual const char* NextProbesystemType();
    /* 65 */ virtual bool IsProbesystemIdDefined(const std::string& name, uint32_t id);
    /* 66 */ virtual std::vector<ProbesystemRecord> ListProbesystems(const std::string& name,
                                                                     uint32_t id);
    /* 67 */ virtual bool HasActiveProbesystem();
    /* 68 */ virtual bool IsProbesystemTypeDefined(const std::string& type);
    /* 69 */ virtual std::string GetActiveProbesystem();
    /* 70 */ virtual uint32_t GetActiveProbesystemId();
    /* 71 */ virtual MMachProbesystemType GetActiveProbesystemType();

    // Image FIFOs; First/Next iterate, null at the end.
    /* 72 */ virtual bool HasImageFifos();
    /* 73 */ virtual MMachImagefifo* GetActiveImageFifo();
    /* 74 */ virtual MMachImagefifo* FindImageFifo(const std::string& name);
    /* 75 */ virtual MMachImagefifo* FirstImageFifo();
    /* 76 */ virtual MMachImagefifo* NextImageFifo();
    // Image geometry of the active probesystem; all 0 when it delivers no images.
    /* 77 */ virtual void GetProbesystemImageInfo(MMachImageInfo& info);

    // Probe database; 79 to 85 answer only when 78 does.
    /* 78 */ virtual bool HasProbeDB();
    /* 79 */ virtual bool IsProbeDefined(uint32_t probe);
    /* 80 */ virtual bool IsTipDefined(uint32_t probe, uint32_t tip);
    /* 81 */ virtual std::vector<ProbeTipRecord> ListProbes(uint32_t probe, uint32_t tip);
    /* 82 */ virtual uint32_t GetMaxProbeNumber();
    /* 83 */ virtual uint32_t GetMaxTipNumber();
    /* 84 */ virtual uint32_t GetActiveProbe();
    /* 85 */ virtual uint32_t GetActiveTip();

    // Probe magazine; 87 to 93 answer only when 86 does.
    /* 86 */ virtual bool HasMagazineDB();
    /* 87 */ virtual uint32_t GetSlotOfProbe(uint32_t probe);
    /* 88 */ virtual bool FindSlot(uint32_t slot);
    /* 89 */ virtual bool SetSlot(uint32_t slot, uint32_t probe);
    /* 90 */ virtual std::string GetLoadProgram(uint32_t slot);
    /* 91 */ virtual std::string GetUnloadProgram(uint32_t slot);
    /* 92 */ virtual std::string GetChangeProgram(uint32_t fromSlot, uint32_t toSlot);
    /* 93 */ virtual std::map<uint32_t, uint32_t> GetSlots(const std::string& name, uint32_t id);

    /* 94 */ virtual std::string NotProvided94();
    // Takes a result text, which it empties.
    /* 95 */ virtual bool NotProvided95(std::string& result);
    /* 96 */ virtual bool NotProvided96();
    /* 97 */ virtual bool NotProvided97() = 0;
    /* 98 */ virtual bool NotProvided98();
    /* 99 */ virtual bool NotProvided99();
    /* 100 */ virtual bool NotProvided100();
    /* 101 */ virtual bool NotProvided101();
    /* 102 */ virtual bool NotProvided102();
    /* 103 */ virtual bool NotProvided103();

    // Command factories: a new command owned by the caller, or null with the reply lines
    // already in `out`. Unless overridden they write error 15 ("transaction: command
    // unknown") and return null; factory 122 returns null silently.
    /* 104 */ virtual MMachGetCommand* NewMMachGetCommand(MOutputChannel* out,
                                                          const std::vector<std::string>& axes);
    /* 105 */ virtual MMachInitCommand* NewMMachInitCommand(MOutputChannel* out,
                                                            const std::set<std::string>& axes);
    /* 106 */ virtual MMachCommand* NewMMachCommand106(MOutputChannel* out);
    /* 107 */ virtual MMachCommand* NewMMachCommand107(MOutputChannel* out);
    /* 108 */ virtual MMachCommand* NewMMachCommand108(MOutputChannel* out);
    /* 109 */ virtual MMachCommand* NewMMachCommand109(MOutputChannel* out);
    /* 110 */ virtual MMachCommand* NewMMachCommand110(MOutputChannel* out);
    /* 111 */ virtual MMachCommand* NewMMachCommand111(MOutputChannel* out);
    /* 112 */ virtual MMachCommand* NewMMachCommand112(MOutputChannel* out);
    /* 113 */ virtual MMachCommand* NewMMachCommand113(MOutputChannel* out);
    /* 114 */ virtual MMachCommand* NewMMachCommand114(MOutputChannel* out);
    /* 115 */ virtual MMachCommand* NewMMachCommand115(MOutputChannel* out);
    /* 116 */ virtual MMachReceiveCommand* NewMMachReceiveCommand(MOutputChannel* out,
                                                                  const std::string& component);
    /* 117 */ virtual MMachSendCommand*
    NewMMachSendCommand(MOutputChannel* out, const std::string& component, const std::string& data);
    /* 118 */ virtual MMachSetCommand*
    NewMMachSetCommand(MOutputChannel* out, const std::map<std::string, double>& values);
    /* 119 */ virtual MMachScanCommand* NewMMachScanCommand(MOutputChannel* out,
                                                            const MMachScanRequest& request);
    /* 120 */ virtual MMachCommand* NewMMachCommand120(MOutputChannel* out);
    /* 121 */ virtual MMachCommand* NewMMachCommand121(MOutputChannel* out);
    /* 122 */ virtual MMachCommand* NewMMachCommand122(MOutputChannel* out);
    /* 123 */ virtual MMachProbesystemLoadCommand*
    NewMMachProbesystemLoadCommand(MOutputChannel* out, const std::string& name, uint32_t id);
    /* 124 */ virtual MMachProbesystemUnloadCommand*
    NewMMachProbesystemUnloadCommand(MOutputChannel* out);
    /* 125 */ virtual MMachProbesystemDefineCommand*
    NewMMachProbesystemDefineCommand(MOutputChannel* out, const std::string& name);
    /* 126 */ virtual MMachProbesystemDeleteCommand*
    NewMMachProbesystemDeleteCommand(MOutputChannel* out, const std::string& name, uint32_t id);
    /* 127 */ virtual MMachProbeLoadCommand* NewMMachProbeLoadCommand(MOutputChannel* out,
                                                                      uint32_t probe, uint32_t tip);
    /* 128 */ virtual MMachProbeDeleteCommand*
    NewMMachProbeDeleteCommand(MOutputChannel* out, uint32_t probe, uint32_t tip);
    /* 129 */ virtual MMachProbeDefineCommand*
    NewMMachProbeDefineCommand(MOutputChannel* out, uint32_t probe, uint32_t tip,
                               const std::map<std::string, double>& values);
    /* 130 */ virtual MMachProbeUnloadCommand* NewMMachProbeUnloadCommand(MOutputChannel* out);
    /* 131 */ virtual MMachProbeChangeCommand*
    NewMMachProbeChangeCommand(MOutputChannel* out, uint32_t probe, uint32_t tip);
    /* 132 */ virtual MMachCommand* NewMMachCommand132(MOutputChannel* out);
    /* 133 */ virtual MMachCommand* NewMMachCommand133(MOutputChannel* out);
    /* 134 */ virtual MMachCommand* NewMMachCommand134(MOutputChannel* out);
    /* 135 */ virtual MMachCommand* NewMMachCommand135(MOutputChannel* out);
    /* 136 */ virtual MMachCommand* NewMMachCommand136(MOutputChannel* out);
    /* 137 */ virtual MMachScandataCommand*
    NewMMachScandataCommand(MOutputChannel* out, const std::vector<std::string>& axes);
    /* 138 */ virtual MMachCommand* NewMMachCommand138(MOutputChannel* out);
    /* 139 */ virtual MMachScanpointCommand*
    NewMMachScanpointCommand(MOutputChannel* out, const MMachScanRequest& request);
    /* 140 */ virtual MMachCommand* NewMMachCommand140(MOutputChannel* out);
    /* 141 */ virtual MMachCommand* NewMMachCommand141(MOutputChannel* out);
    /* 142 */ virtual MMachImagefifoCreateCommand*
    NewMMachImagefifoCreateCommand(MOutputChannel* out, const std::string& name, uint64_t size);
    /* 143 */ virtual MMachImagefifoDeleteCommand*
    NewMMachImagefifoDeleteCommand(MOutputChannel* out, const std::string& name);
    /* 144 */ virtual MMachImagefifoResetCommand*
    NewMMachImagefifoResetCommand(MOutputChannel* out);
    /* 145 */ virtual MMachImagefifoSelectCommand*
    NewMMachImagefifoSelectCommand(MOutputChannel* out, const std::string& name);
    /* 146 */ virtual MMachCommand* NewMMachCommand146(MOutputChannel* out);

    const std::string& GetMachineName() const { return name; }
    const std::string& GetDirectory() const { return directory; }
    // The image FIFO records, for the framework's image FIFO commands, which create and
    // remove them on the machine's behalf.
    std::map<std::string, MMachImagefifo>& GetImageFifoMap() { return imageFifos; }

    MMachAbstract(const MMachAbstract&) = delete;
    MMachAbstract& operator=(const MMachAbstract&) = delete;

protected:
    MOutputChannel* channel;
    MClientNotifier* notifier;
    std::map<std::string, bool> enabledCommands;
    // Attached and owned by the derived machine; the base only reads through them.
    MMachProbesystemDB* probesystemDB = nullptr;
    MMachProbeDB* probeDB = nullptr;
    MMachMagazineDB* magazineDB = nullptr;
    std::string name;
    std::string directory;
    std::map<std::string, MMachImagefifo> imageFifos;

private:
    // What every factory a machine does not provide does.
    static std::nullptr_t unknown_command(MOutputChannel* out);
};
