#pragma once

// The folder a job writes its output files into: made and checked once
// before anything is written, and held while the job writes, so that two
// jobs never leave a mix of their files in one folder.

#include <string>

namespace landstat::host {

// Makes `folder` when missing and checks that a file can be made in it (a
// probe, made and removed at once, so that a read-only folder shows whoever
// runs the job). Empty when it can take the output; else what is wrong,
// naming the folder.
std::string OutputFolderProblem(const std::string& folder);

// A hold on an output folder: while one is held, no other may be taken on
// the same folder, by this process or another. It ends with the object, or
// with the process that holds it.
class OutputFolderHold {
 public:
  OutputFolderHold() = default;
  ~OutputFolderHold();
  OutputFolderHold(const OutputFolderHold&) = delete;
  OutputFolderHold& operator=(const OutputFolderHold&) = delete;

  // Takes the existing `folder` for `job` ("print", ...): false, with
  // `error` naming the folder, when another holds it or it cannot be
  // opened.
  bool Take(const std::string& folder, const std::string& job, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace landstat::host
