#pragma once
// Undo for a change of an INI document: the document is put back as it was at construction
// unless Keep() is called. A change whose save failed must not stay in memory, or the next
// successful save would write it after all and the caller's view (a cache, a list) would no
// longer match the file.

#include "msl/mutil/minidata.h"

class MIniDataRollback {
public:
    explicit MIniDataRollback(MIniData& doc);
    ~MIniDataRollback();
    MIniDataRollback(const MIniDataRollback&) = delete;
    MIniDataRollback& operator=(const MIniDataRollback&) = delete;

    // The change stays.
    void Keep() { keep = true; }
    // Puts the document back now (it stays so at destruction).
    void Undo();

private:
    MIniData& doc;
    const MIniData saved;
    bool keep = false;
};
