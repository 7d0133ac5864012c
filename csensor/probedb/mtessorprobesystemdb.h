#pragma once
// Probesystem database: the defined probesystems (name and id) with their mounting geometry
// and component data, the known probesystem types, the active probesystem, and the backup and
// restore of all probe data of a machine.
//
// Files, all in the configuration directory:
// - the database file: one section "<name cut to 40>_<id>" per probesystem with "x", "y",
//   "z", "alpha", "beta", "gamma" (written only when not 0), "probe.system" (the component
//   data, an INI document in base64) and an entry named like the database file whose value
//   is the probesystem's probe database file ("R85Q_2.ini");
// - the volatile file ("volatile_" + database file name): section "Global" with "ActSystem"
//   and "ActId";
// - one probe database file per probesystem (see MTessorProbeDB).
//
// Every change is written at once (safe save). A change that fails leaves the list, the
// documents and the files in agreement; the one exception is the active probesystem, which is
// taken in memory even when the volatile file cannot be written, because the machine has
// switched to it by then.

#include "csensor/probedb/probesystemdata.h"
#include "lintel/server/machine/mmachprobesystemdb.h"
#include "msl/mutil/minidata.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MTessorProbesystemDB : public MMachProbesystemDB {
public:
    // Nothing is read before Open. `volatileName` defaults to "volatile_" + fileName.
    MTessorProbesystemDB(const std::string& configDir, const std::string& fileName,
                         const std::string& volatileName = std::string());
    ~MTessorProbesystemDB() override;
    MTessorProbesystemDB(const MTessorProbesystemDB&) = delete;
    MTessorProbesystemDB& operator=(const MTessorProbesystemDB&) = delete;

    // --- MMachProbesystemDB ---
    bool IsProbesystemDefined(const std::string& name) override;
    bool IsProbesystemIdDefined(const std::string& name, uint32_t id) override;
    bool HasActiveProbesystem() override;
    std::string GetActiveProbesystem() override;
    uint32_t GetActiveProbesystemId() override;
    // "" with id 0 always works (no probesystem); any other pair must be defined.
    bool SetActiveProbesystem(const std::string& name, uint32_t id) override;
    bool IsProbesystemTypeDefined(const std::string& type) override;
    // Type names in name order.
    const char* FirstProbesystemType() override;
    const char* NextProbesystemType() override;
    // Name "*" lists every name, id 0 every id; an unknown name gives an empty list.
    std::vector<ProbesystemRecord> ListProbesystems(const std::string& name, uint32_t id) override;
    // Adds the probesystem with generated component data and creates its probe database
    // file (an existing one keeps its probes).
    bool DefineProbesystem(const ProbesystemRecord& record) override;
    // Removes the probesystem and its probe database file; deleting the active one leaves
    // none active.
    bool DeleteProbesystem(const std::string& name, uint32_t id) override;

    // --- added operations ---
    // Loads both files, the list and the active pair (an active pair that is no longer
    // defined is dropped), after removing what saves of a process that died left in the
    // folder (MFastFile_RemoveStaleTemporaries). On failure the database is left closed and empty,
    // so no later save can overwrite a file that did not load.
    virtual bool Open();
    virtual bool UnloadProbesystem();
    // Enters the names of a list in which every name is followed by one blank ("A B "),
    // each with its position (1 for the first); returns the number of names taken.
    virtual int SetProbesystemTypes(const std::string& list);

    // The probesystem's component data as INI text.
    bool GetComponentData(std::string& text, const std::string& name, uint32_t id);
    // Stores component data for the active probesystem ("GENERAL" "Save=0": accepted, not
    // stored).
    bool SetComponentData(const std::string& text);
    // The active probesystem's probe database file name, relative to the configuration
    // directory; empty when none is active.
    std::string GetActiveProbeIniName();

    // --- backup and restore of all probe data ---
    // One INI text, section "Global": "SerialNo", then the base64 bytes of the database file,
    // of the volatile file (when it exists) and of every probesystem's probe database file
    // (when it exists), each under its file name.
    bool BackupAllData(const std::string& serial, std::string& text);
    // Writes a backup back. A backup of another machine is refused unless its serial is
    // "000.000.000"; a damaged text is refused before any file is touched. When writing
    // fails midway, or a negative active id has unloaded the probe system, the state before
    // the call is written back from an in-memory backup.
    bool RestoreAllData(const std::string& serial, const std::string& text);
    // One restore attempt.
    bool do_restore(const std::string& serial, const std::string& text);

    // "<name cut to 40>_<id>.ini" with the first ':' made '_'.
    static std::string make_probe_ini_name(const std::string& name, uint32_t id);
    // "<name cut to 40>_<id>".
    static std::string make_section_name(const std::string& name, uint32_t id);

    const std::string& GetConfigDir() const { return m_configDir; }
    const std::string& GetFileName() const { return m_fileName; }
    const std::string& GetVolatileFileName() const { return m_volatileName; }

private:
    using ProbesystemMap = std::map<std::string, ProbesystemData>;

    // Fills `list` from the sections of `ini`; sections whose name does not end in "_<digits>"
    // are skipped.
    static bool build_probesystems_list(const MIniData& ini, ProbesystemMap& list);
    static bool def_id_in_mem(ProbesystemMap& list, const ProbesystemRecord& record);
    static std::string generate_probesystem_data(const ProbesystemRecord& record);
    bool init_probesystems_list();
    bool def_id_in_ini(const ProbesystemRecord& record);
    // What of another probesystem's (its section, its probe file or that file's volatile
    // companion) a probesystem of this name and id would share, as text; empty when nothing.
    std::string find_collision(const std::string& name, uint32_t id) const;
    bool set_id_data_in_mem(const std::string& name, uint32_t id, const std::string& text);
    bool create_probe_ini_file(const std::string& name, uint32_t id);
    bool get_probe_ini_path(const std::string& name, uint32_t id, std::string& path);
    bool delete_id(const std::string& name, uint32_t id);
    bool write_active();
    bool Save();
    void close_all();
    std::string path_of(const std::string& name) const;
    // One restore attempt; `touched` tells whether any file or memory was changed.
    bool restore(const std::string& serial, const std::string& text, bool& touched);

    ProbesystemMap m_probesystems;
    std::map<std::string, int> m_types; // type name -> position in the last list
    MIniData m_inidata;                 // the database file
    MIniData m_volatile;                // the active pair
    std::string m_activeName;
    uint32_t m_activeId = 0;
    std::string m_configDir;
    std::string m_fileName;
    std::string m_volatileName;
    std::string m_typePosition; // the type last handed out
    bool m_typeIterating = false;
};
