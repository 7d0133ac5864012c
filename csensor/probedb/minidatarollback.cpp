#include "csensor/probedb/minidatarollback.h"

MIniDataRollback::MIniDataRollback(MIniData& doc) : doc(doc), saved(doc) {}

MIniDataRollback::~MIniDataRollback() {
    if (!keep)
        doc = saved;
}

void MIniDataRollback::Undo() {
    doc = saved;
    keep = true;
}
