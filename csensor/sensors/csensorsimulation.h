#pragma once
// Settings of the simulated probe inputs, section [Simulation] of a probe's user data:
// Mode (CONST, SINE, TRI, RECT or PIP switch the simulation on; anything else leaves it
// off), TraceLevel, ChannelBits, Offset, Noise, Frequency, Amplitude, DutyCycle. The settings
// are kept as read; producing the simulated signals is up to whoever drives the inputs.

#include "msl/mutil/minidata.h"

#include <cstdint>
#include <string>

struct CSensorSimulation {
    bool on = false;
    std::string mode;
    int32_t traceLevel = 0;
    int32_t channelBits = 0;
    double offset = 0.0;
    double noise = 0.0;
    double frequency = 1.0;
    double amplitude = 0.0;
    double dutyCycle = 50.0;

    // Points per period of every wave form.
    static constexpr int kPoints = 361;

    // Replaces the settings from [Simulation] when the document has it (missing keys are
    // written back); without the section the simulation is off. The number of defaults
    // written.
    int Read(MIniData& doc);
};

bool CSensor_IsSimulationMode(const std::string& mode);
