// The launcher's trace: with QUENMOR_TRACE set, a window reports its first
// paint and every notification of a run on standard error, one line each,
// stamped with the wall clock in microseconds:
// "quenmor-trace <us> <event> [<value>]". The end-to-end tests and the
// benchmarks read it. Lines of the run's status and gauges are written in
// batches, at most 50 ms late, so that tracing does not slow the run it
// reports; the others at once.
//
// Called on the window's thread only.
#pragma once

#include <string>

bool Tracing();

void Trace(const char* event, const std::string& value = {});
