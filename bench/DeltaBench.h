// The delta benchmark: a client of 200 files (1 GiB by default, half of it
// incompressible, ten files of 60 MiB among them) published with and without
// its chunk store, installed, then changed by runs inserted, removed and
// overwritten at random places in the ten large files (1 % of their bytes)
// and published again; quenmor-update then brings the installation to the new
// revision through the wan proxy. Measured: the bytes it fetched against
// today's whole copies of the ten files (target: at least 20 times fewer),
// its time against the larger of the line time of what it fetched and the
// time to cut and digest the ten installed files on every core (target: at
// most 1.3 times it), its peak memory (target: at most 128 MB), and the
// publishing: the chunk store's cost in time against the copies' (target: no
// more) and its size against theirs (target: at most 1.05 times), and what
// publishing the second revision added to it.
#pragma once

#include "BenchOptions.h"
#include "BenchSupport.h"

namespace bench {

// `serverPort` is the port of the web server on 127.0.0.1.
Result BenchDelta(Workspace& work, const Options& options, int serverPort);

} // namespace bench
