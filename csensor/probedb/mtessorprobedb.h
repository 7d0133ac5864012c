#pragma once
// Probe database of one probesystem: the defined probes and their tips with geometry and
// component data, and the active probe and tip.
//
// Database file: one section "Probe_<probe>_Tip_<tip>" per tip with "x", "y", "z", "d"
// (written only when not 0) and "probe.tip", the tip's component data (an INI document in
// base64). The active pair lives in a companion file of the same folder, "volatile_" + name,
// section "Global" with "ActProbe" and "ActTip". An older database file may still hold that
// "Global" section itself; Open moves it out.
//
// Every change is written at once (a safe save: a crash leaves the old or the new file, never
// a mix). A change that fails leaves memory as the files are: the cache, the active pair and
// the documents are rolled back together.

#include "lintel/server/machine/mmachprobedb.h"
#include "msl/mutil/minidata.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MTessorProbeDB : public MMachProbeDB {
public:
    // Empty, no file: nothing can be changed before a successful Open.
    MTessorProbeDB();
    ~MTessorProbeDB() override;
    MTessorProbeDB(const MTessorProbeDB&) = delete;
    MTessorProbeDB& operator=(const MTessorProbeDB&) = delete;

    // --- MMachProbeDB ---
    uint32_t GetMaxProbeNumber() override; // 1000
    uint32_t GetMaxTipNumber() override;   // 200
    uint32_t GetActiveProbe() override;
    uint32_t GetActiveTip() override;
    // 0/0 always works; any other pair must be defined. The pair is taken only once the
    // volatile file has it.
    bool SetActiveProbe(uint32_t probe, uint32_t tip) override;
    bool IsProbeDefined(uint32_t probe) override;
    bool IsTipDefined(uint32_t probe, uint32_t tip) override;
    std::vector<ProbeTipRecord> ListProbes(uint32_t probe, uint32_t tip) override;
    // Adds a new tip with generated component data; the active pair stays.
    bool DefineProbe(const ProbeTipRecord& record) override;
    // 0/0 deletes everything, probe/0 all tips of the probe, else the one tip. Deleting the
    // active tip makes 0/0 active.
    bool DeleteProbe(uint32_t probe, uint32_t tip) override;

    // Loads the database file (a missing one is an empty database) and its volatile file,
    // replacing cache and active pair. On failure the database is left closed and empty, so
    // that no later save can overwrite the file with half of its contents.
    bool Open(const std::string& file);
    // Lets the files go: empty again, nothing can be changed before the next Open.
    void Close() { close_all(); }
    // The tip's component data as INI text; for 0/0 the default data, read from no file.
    bool GetComponentData(std::string& text, uint32_t probe, uint32_t tip);
    // Stores new component data for an existing tip; a document whose "GENERAL" section has
    // "Save=0" is accepted and not stored.
    bool SetComponentData(const std::string& text, uint32_t probe, uint32_t tip);

    // Name given to Open (empty before), and the volatile file's name derived from it.
    const std::string& GetFileName() const { return m_inidata.GetFileName(); }
    const std::string& GetVolatileFileName() const { return m_volatile.GetFileName(); }
    // "dir/name" gives "dir/volatile_name" (split at the last '/' or '\').
    static std::string MakeVolatileFileName(const std::string& file);
    // The section of a tip, "Probe_<probe>_Tip_<tip>".
    static std::string MakeSectionName(uint32_t probe, uint32_t tip);

private:
    using TipMap = std::map<uint32_t, ProbeTipRecord>;
    using ProbeMap = std::map<uint32_t, TipMap>;

    // The component data of a new tip, base64-encoded: section "Geometry" with "x0", "y0",
    // "z0", "D", "TipType=SPHERE" and "never_sent=1". Empty on failure.
    static std::string generate_probe_tip_data(const ProbeTipRecord& record);
    // False, with a line naming `operation`, before a successful Open.
    bool check_open(const char* operation) const;
    bool ini2cache();
    bool clear_tips(uint32_t probe);
    bool clear_probes();
    void close_all();

    MIniData m_inidata;  // the database file
    MIniData m_volatile; // the active pair
    ProbeMap m_cache;    // probe -> tip -> record, as the file holds them
    uint32_t m_activeProbe = 0;
    uint32_t m_activeTip = 0;
};
