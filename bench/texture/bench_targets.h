// Shared by the texture benchmarks: each file registers a function that
// prints its TARGET lines once every benchmark has run, and can look up the
// median of a counter of any benchmark by name.
#pragma once

#include <string>

using TargetReport = void (*)();

// Returns true so it can initialise a static at namespace scope.
bool AddTargetReport(TargetReport report);

// Median over the repetitions of `counter` of the benchmark `name` (the
// name as registered, without the aggregate suffix); NaN when missing.
double MedianCounter(const std::string& name, const std::string& counter);

// Prints one TARGET line; `peer` < 0 prints "peer=-" (an absolute goal).
// `goal` is the comparison, e.g. ">=35" or "<=1"; the verdict compares
// `ours` (or ours/peer when a peer is given) with it.
void PrintTarget(const std::string& name, double ours, double peer, const std::string& goal);
