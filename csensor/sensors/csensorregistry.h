#pragma once
// The sensor-factory registry: how the probe manager reaches the sensor classes without
// linking them. Each entry maps a registry name ("Vyxcamera", "unloaded") to a factory that
// returns a new sensor, or null when its hardware is not there. The probe manager creates
// one sensor per entry, in byte order of the names.
//
// The registry is module-wide. The sensor classes register from a registration function
// that the module calls when it loads (not from static objects, which the linker drops from
// static libraries when nothing refers to them). Registering a name again replaces its
// factory, so a registration function may run any number of times.

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CSensor;

// Returns a new sensor, or null.
using CSensorFactory = std::unique_ptr<CSensor> (*)();

// False for an empty name or a null factory.
bool CSensorRegistry_Register(const std::string& name, CSensorFactory factory);
// False when the name was not registered.
bool CSensorRegistry_Unregister(const std::string& name);
bool CSensorRegistry_IsRegistered(const std::string& name);
// A copy of the entries in byte order of the names.
std::vector<std::pair<std::string, CSensorFactory>> CSensorRegistry_GetEntries();
