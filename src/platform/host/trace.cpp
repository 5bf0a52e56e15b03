#include "platform/host/trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>

namespace landstat::host {
namespace {

TraceSink& Sink() {
  static TraceSink sink =
      std::getenv("LANDSTAT_TRACE")
          ? TraceSink([](const std::string& line) { std::cerr << "trace: " << line << "\n"; })
          : TraceSink();
  return sink;
}

// The builders of one run may trace from several threads: one line at a
// time reaches the sink.
std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

void Emit(const std::string& line) {
  const std::lock_guard<std::mutex> lock(SinkMutex());
  if (Sink()) Sink()(line);
}

}  // namespace

void SetTraceSink(TraceSink sink) {
  const std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

void yDebugStr(const std::string& text) {
  Emit(text);
}

void yDebug(const char* format, ...) {
  if (!Sink()) return;
  va_list arguments;
  va_start(arguments, format);
  char buffer[2048];
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  Emit(buffer);
}

void yDebugTime(const std::string& text) {
  if (!Sink()) return;
  const auto clock = std::chrono::system_clock::now();
  const std::time_t now = std::chrono::system_clock::to_time_t(clock);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock.time_since_epoch()).count() %
      1000;
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
  Emit(std::string(stamp) + fraction + " " + text);
}

}  // namespace landstat::host
