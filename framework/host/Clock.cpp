#include "host/Clock.h"

#include <cstdio>
#include <ctime>

namespace tarnhost {

double SecondsSince(SteadyTime start) {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyNow() - start);
    return static_cast<double>(elapsed.count()) / 1000.0;
}

std::string UtcNow() {
    std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    // One thread asks, so gmtime's shared result needs no guard.
    const std::tm parts = *std::gmtime(&seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string RealText(double realSeconds, bool simulated) {
    char text[48];
    std::snprintf(text, sizeof text, simulated ? "%.2f s real" : "%.2f s", realSeconds);
    return text;
}

std::string DurationText(uint64_t deviceMs, double realSeconds, bool simulated) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(deviceMs) / 1000.0);
    return simulated ? std::string(text) + " simulated, " + RealText(realSeconds, true) : std::string(text);
}

} // namespace tarnhost
