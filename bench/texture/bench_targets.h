// Targets checked at the end of the texture benchmark run: each compares the
// median rate of one benchmark with a peer's median or an absolute value.
#pragma once

#include <string>

struct BenchTarget {
    std::string name;
    std::string ours;     // benchmark name
    std::string peer;     // benchmark name, or empty for an absolute goal
    double goal;          // ours / peer (or ours) must be at least this
    std::string counter;  // rate counter to compare, e.g. "MP/s"
};

// Registers a target; call from a static initialiser.
bool RegisterBenchTarget(const BenchTarget& target);
