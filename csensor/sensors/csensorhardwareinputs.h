#pragma once
// The probe inputs of the measuring computer, from the hardware properties (the probe
// manager's "MC" description):
//
//   [GENERAL]  Input=<number of inputs>
//   [Input_n]  type=<None, QPD, Form, Camera, Laser, SwitchingProbe, ... or a comma list>
//              zeroshift_mm, range, range_1_mm .. range_<range>_mm   (measuring inputs)
//              damping_s                                              (switching inputs)
//              CompVectorName=<ca>[,<cb>[,<cc>]]                      (optional)
//
// Missing keys are written back with defaults; CompVectorName is optional and never written.

#include "csensor/sensors/csensorinireader.h"

#include <cstdint>
#include <string>
#include <vector>

struct CSensorHardwareInput {
    std::string type = "None";
    double zeroshift_mm = 0.0;
    int32_t range = 0;            // number of measuring ranges
    std::vector<double> range_mm; // range_mm[0] is "range_1_mm"
    double damping_s = 0.0;
    std::vector<std::string> compVectorNames; // for ca, cb, cc
};

struct CSensorHardwareInputs {
    size_t nInput = 0;
    std::vector<CSensorHardwareInput> inputs; // inputs[0] is [Input_1]

    // Replaces the record from the document; the number of defaults written back.
    int Read(MIniData& doc);
};

// Inputs that switch (trigger) rather than measure a deflection.
bool CSensor_IsSwitchingInputType(const std::string& type);
