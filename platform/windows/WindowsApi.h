// The system's headers for this layer's Windows half, in one place, without
// the macros of theirs that would rename this layer's own functions.
#pragma once

#include <windows.h>

#include <sddl.h>

#undef GetProfileString   // Profile.h
#undef WriteProfileString // Profile.h
