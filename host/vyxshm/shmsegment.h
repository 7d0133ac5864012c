#pragma once
// The names the tool accepts for shared-memory segments.

#include <string>

// Not empty, no '/', not "." or "..". A leading '/' of the POSIX object name is to be
// stripped before (ShmSegment_Name).
bool ShmSegment_IsValidName(const std::string& name);

// The name as typed, without the leading '/' that POSIX object names carry.
std::string ShmSegment_Name(const std::string& typed);
