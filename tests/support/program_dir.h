#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/paths.h"
#include "platform/host/trace.h"
#include "support/test_databases.h"

namespace landstat::testing {

// Points the program directory at a folder of the test's own for its
// lifetime, so that no test reads the configuration of the machine it runs
// on, and puts the previous folder back afterwards.
class ScopedProgramDir {
 public:
  ScopedProgramDir() : previous_(host::ProgramDir()) { host::SetProgramDir(dir_.path().string()); }
  ~ScopedProgramDir() { host::SetProgramDir(previous_); }
  ScopedProgramDir(const ScopedProgramDir&) = delete;
  ScopedProgramDir& operator=(const ScopedProgramDir&) = delete;

  const std::filesystem::path& path() const { return dir_.path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  std::string previous_;
  TempDir dir_;
};

// Collects the trace lines while alive; afterwards the trace goes where it
// goes by default.
class ScopedTraceCapture {
 public:
  ScopedTraceCapture() {
    host::SetTraceSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~ScopedTraceCapture() {
    if (std::getenv("LANDSTAT_TRACE")) {
      host::SetTraceSink([](const std::string& line) { std::cerr << "trace: " << line << "\n"; });
    } else {
      host::SetTraceSink({});
    }
  }
  ScopedTraceCapture(const ScopedTraceCapture&) = delete;
  ScopedTraceCapture& operator=(const ScopedTraceCapture&) = delete;

  std::vector<std::string> lines;
};

// Writes bytes to a file, creating its folder.
inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a run's log that record failures: every line but the
// notices ("注意 ...").
inline std::string FailureLines(const std::filesystem::path& path) {
  std::istringstream log(ReadFileBytes(path));
  std::string failures;
  for (std::string line; std::getline(log, line);) {
    if (line.rfind("注意 ", 0) != 0) failures += line + "\n";
  }
  return failures;
}

// "平方米" in GBK.
inline const std::string kGbkSquareMetre = "\xC6\xBD\xB7\xBD\xC3\xD7";

}  // namespace landstat::testing
