#pragma once

#include <functional>
#include <string>

namespace landstat::host {

// The debug trace: statement texts and error descriptions the engine hands
// over for whoever is looking. Silent unless a sink is set or the
// environment variable LANDSTAT_TRACE is set (then it goes to stderr).
using TraceSink = std::function<void(const std::string&)>;
void SetTraceSink(TraceSink sink);

void yDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void yDebugStr(const std::string& text);
// A line with the time of day, for timing long steps.
void yDebugTime(const std::string& text);

}  // namespace landstat::host
