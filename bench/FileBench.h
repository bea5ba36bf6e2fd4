// The benchmarks on one file of client data: Unpack of its bzip2 copy against
// bzip2 -d, FileDigestText against md5sum, and Download of it from the web
// server against curl.
#pragma once

#include "BenchSupport.h"

#include <string>

namespace bench {

// `data` is the file, `packed` its bzip2 copy.
Result BenchUnpack(Workspace& work, const std::string& data, const std::string& packed, int runs);

Result BenchDigest(Workspace& work, const std::string& data, int runs);

// `url` is the address at which the web server serves `data`.
Result BenchDownload(Workspace& work, const std::string& data, const std::string& url, int runs);

} // namespace bench
