#pragma once
// The camera machine's probe database: a new tip's component data also carries the zoom
// factor of the optics it was defined for (section "Camera", entry "zoom", the tip's d), which
// the camera machine reads back to scale its images.

#include "csensor/probedb/mtessorprobedb.h"

class MCameraProbeDB : public MTessorProbeDB {
public:
    MCameraProbeDB();
    ~MCameraProbeDB() override;

    // MTessorProbeDB::DefineProbe, then the zoom goes into the new tip's component data.
    // The active pair is the same afterwards. A failure after the tip was stored leaves the
    // tip defined (without the zoom) and returns false.
    bool DefineProbe(const ProbeTipRecord& record) override;

private:
    bool add_zoom(const ProbeTipRecord& record);
};
