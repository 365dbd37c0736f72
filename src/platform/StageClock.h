#pragma once
// When each stage of a job began and ended, for the benchmark's per-stage report: off unless
// enabled, then one timestamped line per event, from any thread.

#include <ostream>

namespace lv::StageClock {

// Starts recording; times count from now.
void enable();
// Records that `stage` began (or ended); nothing while not enabled. `stage` must outlive the
// report (a string literal).
void begin(const char* stage);
void end(const char* stage);
// Writes the events in order, each with its time and the process's CPU time so far.
void report(std::ostream& out);

} // namespace lv::StageClock
