#include "csensor/sensors/csensorsimulation.h"

#include "csensor/sensors/csensorinireader.h"

namespace {

const char kSection[] = "Simulation";

} // namespace

bool CSensor_IsSimulationMode(const std::string& mode) {
    return mode == "CONST" || mode == "SINE" || mode == "TRI" || mode == "RECT" || mode == "PIP";
}

int CSensorSimulation::Read(MIniData& doc) {
    *this = CSensorSimulation();
    if (!doc.HasSection(kSection))
        return 0;
    CSensorIniReader reader(doc);
    mode = reader.Text(kSection, "Mode", "NONE");
    traceLevel = reader.Long(kSection, "TraceLevel", 0, 0, 5);
    channelBits = reader.Long(kSection, "ChannelBits", 0);
    offset = reader.Double(kSection, "Offset", 0.0);
    noise = reader.Double(kSection, "Noise", 0.0);
    frequency = reader.Double(kSection, "Frequency", 1.0);
    amplitude = reader.Double(kSection, "Amplitude", 0.0);
    dutyCycle = reader.Double(kSection, "DutyCycle", 50.0, 0.0, 100.0);
    on = CSensor_IsSimulationMode(mode);
    return reader.Changes();
}
