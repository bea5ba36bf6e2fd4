// The failure a run's notification ends with when the window it was meant for
// is gone: shared by the dispatchers of both windows.
#pragma once

#include "Errors.h"

// A notification was refused because the window it was meant for is gone (or
// its event loop has ended). The run that sent it ends with it.
class EWindowClosed : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* kWindowClosedText = "The window was closed";
