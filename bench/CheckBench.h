// The check benchmark: the file check of an update run
// (TFileCheck::Check) over a whole client installation that is
// current, against md5sum reading the same files in one process, and in two
// at once.
#pragma once

#include "BenchOptions.h"
#include "BenchSupport.h"

namespace bench {

Result BenchCheck(Workspace& work, const Options& options);

} // namespace bench
