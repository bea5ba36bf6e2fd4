// The install benchmark: quenmor-update installing a client from scratch from
// the update server (a tree that quenmor-publish made), against a shell loop
// running curl and bzip2 -d for each file, and against xargs -P2 running
// bzip2 -dc over the published copies read from disk. Also the publishing of
// a client with quenmor-publish, which the wan benchmark does as well.
#pragma once

#include "BenchOptions.h"
#include "BenchSupport.h"
#include "ClientData.h"

#include <cstdint>
#include <map>
#include <string>

namespace bench {

// A client published with quenmor-publish.
struct Published {
    std::uint64_t copies = 0;                   // bytes of the compressed copies of the files
    std::uint64_t manifest = 0;                 // bytes of files.lst.bz2
    std::map<std::string, std::uint64_t> sizes; // of each file's copy, by the file's path
};

// Publishes the client as revision 1 into `www`, with its chunk store when
// `chunks`, and reads every file of the tree once, so that the web server
// serves them from the page cache.
Published PublishClient(const Options& options, const ClientTree& tree, const std::string& www,
                        const std::string& log, const std::string& errors, bool chunks = false);

Result BenchInstall(Workspace& work, const Options& options);

} // namespace bench
