#pragma once
// Process-wide values the camera machine sets when it is constructed and the camera code
// reads later: the camera configuration directory (where the camera sensor finds its
// files) and the frequency of the counter that camera time stamps may be given in.

#include <string>

void MCameraGlobals_SetConfigDir(const std::string& directory);
std::string MCameraGlobals_GetConfigDir();

// Counter ticks per second; 0 until a machine was constructed.
void MCameraGlobals_SetCounterFrequency(double ticksPerSecond);
double MCameraGlobals_GetCounterFrequency();
