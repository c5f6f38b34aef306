// The host's own clock, for the times people and factory systems read: real time, whatever the seam's
// tick count says (the simulator's is virtual, so a run of 26 s of simulated line time takes a fraction of
// a second).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarnhost {

using SteadyTime = std::chrono::steady_clock::time_point;

inline SteadyTime SteadyNow() {
    return std::chrono::steady_clock::now();
}

// Seconds from start to now, to the millisecond.
double SecondsSince(SteadyTime start);

// The time now in UTC, ISO 8601 to the second: "2026-12-07T14:03:05Z".
std::string UtcNow();

// A span of time as the console shows it. Device time is the platform's tick count: on real ports the
// time itself ("26.0 s"); on the simulator labelled, with the real time beside it
// ("26.0 s simulated, 0.15 s real").
std::string DurationText(uint64_t deviceMs, double realSeconds, bool simulated);

// Real seconds alone: "0.15 s real" ("34.10 s" on real ports, where all time is real).
std::string RealText(double realSeconds, bool simulated);

} // namespace tarnhost
