#pragma once
// Manual-reset events of the camera machine: unnamed ones between its own threads (the
// autoinfo wake-up) and named ones that client processes open (a preview memory signals
// "<segment>.event" after every image it wrote). Both kinds are created not signalled and
// stay signalled until reset.

#include <cstdint>

struct MCameraEvent;

// A new event; with a name it is the named, cross-process kind. Null on failure, with
// "create_event(): CreateEvent() failed: %d" in the error trace.
MCameraEvent* create_event(const char* name);

// Releases the event (null is fine). False, with "close_event(): CloseEvent() failed: %d" in the
// error log, when the system refused; the handle is gone in either case.
bool close_event(MCameraEvent* event);

// Signals the event. False, with "wake_up_clients(): SetEvent() failed: %d" in the error log,
// on failure.
bool wake_up_clients(MCameraEvent* event);

// Waits at most `timeoutMs` (0 only tests); true only when the event is signalled.
bool wait_for_event(MCameraEvent* event, uint32_t timeoutMs);
