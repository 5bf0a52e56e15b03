#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace landstat::host {

// How a job's log is opened: made when missing either way.
enum class LogOpening {
  kEmpty,   // the lines it holds are dropped: the log is this job's alone
  kAppend,  // the job's lines follow those it holds
};

struct LogFileCloser {
  void operator()(std::FILE* file) const;
};
using LogFile = std::unique_ptr<std::FILE, LogFileCloser>;

// Opens the log at `path` for writing. Every log of a job is opened here: a
// symbolic link at `path` is never followed and anything but a regular file
// (a folder, a pipe, a device) is refused, so a log never writes into a file
// it was not meant for. Null, with `error` naming the file and the reason,
// when the log cannot be opened: a job that cannot keep its log must say
// so, not run on without it.
LogFile OpenLogFile(const std::string& path, LogOpening how, std::string& error);

}  // namespace landstat::host
