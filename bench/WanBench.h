// The wan benchmark: quenmor-update installing a client from scratch through
// a loopback proxy with the delays and the line of a distant server
// (WanProxy.h), against the floor: the line time of the compressed copies or
// our own install straight from the web server, whichever is longer; beside
// it curl --parallel fetching the same copies through the proxy, and the peak
// memory of quenmor-update.
#pragma once

#include "BenchOptions.h"
#include "BenchSupport.h"

#include <string>

namespace bench {

// The port of a base address on the loopback interface (http://127.0.0.1:PORT/),
// 0 for any other address.
int LoopbackPort(const std::string& url);

// `serverPort` is the port of the web server on 127.0.0.1 (LoopbackPort).
Result BenchWan(Workspace& work, const Options& options, int serverPort);

} // namespace bench
