#pragma once
// Sleeping for a given time.

// Sleeps for `seconds` (0 to 31 days), truncated to whole milliseconds, and returns 0. Any other
// value (negative, above 2678400, not a number) adds "msleep_sec(): invalid argument" to the
// error trace and returns -1 at once.
int msleep_sec(double seconds);
