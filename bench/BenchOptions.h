// What quenmor-bench is told to do: which benchmarks run, how large their data
// is, how many runs each side makes, and the web server and the programs they
// use. EngineBench.cpp reads it from the command line.
#pragma once

#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace bench {

inline constexpr std::array<const char*, 7> kBenchmarks = {"unpack",  "md5", "download", "check",
                                                           "install", "wan", "delta"};

struct Options {
    std::string dir;
    std::string url;
    std::set<std::string> only{kBenchmarks.begin(), kBenchmarks.end()};
    std::size_t sizeMiB = 100;
    std::size_t checkMiB = 1024;
    std::size_t checkFiles = 2500;
    std::size_t installMiB = 300;
    std::size_t installFiles = 2000;
    std::string publish;
    std::string update;
    std::size_t wanMiB = 90;
    std::size_t wanFiles = 1000;
    std::size_t deltaMiB = 1024;
    int runs = 3;
    int installRuns = 2; // the loop of the install benchmark takes minutes
    int wanRuns = 1;
    int wanConnections = 0;    // 0: quenmor-update's default
    std::vector<int> wanSweep; // connection counts for the note of wan
    int proxySeconds = 0;      // only the proxy of wan, for this long

    bool Selected(const std::string& name) const { return only.count(name) > 0; }
};

} // namespace bench
