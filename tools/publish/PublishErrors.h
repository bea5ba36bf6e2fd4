// The two ways the publisher fails, told apart by the exit code: a wrong
// command line or input, and a failure while publishing.
#pragma once

#include "Errors.h"

namespace publish {

// The command line, or an input it names (SOURCE, OUT, the --self file, the
// hosts file, the revision against the published one), is wrong. Exit code 2.
class EUsageError : public Exception {
public:
    using Exception::Exception;
};

// Publishing failed: a file of the tree cannot be published, or reading,
// compressing or writing failed. Exit code 1.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};

} // namespace publish
