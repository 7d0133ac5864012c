#include "csensor/sensors/csensortipdata.h"

#include "msl/mutil/minidata.h"

std::string CSensorTipData::ComponentText() const {
    MIniData doc;
    doc.SetDoubleEntry("Geometry", "x0", x0);
    doc.SetDoubleEntry("Geometry", "y0", y0);
    doc.SetDoubleEntry("Geometry", "z0", z0);
    doc.SetDoubleEntry("Geometry", "alpha", alpha);
    doc.SetDoubleEntry("Geometry", "beta", beta);
    doc.SetDoubleEntry("Geometry", "gamma", gamma);
    return doc.GetContentString();
}
