#pragma once

#include <string>

namespace landstat {

// A new file of a job's own beside the file `target` it is to replace,
// named under the target's scratch prefix ("TARGET.working-TAG-XXXXXX"), so
// that one a killed job left is swept with the others. The job builds its
// result in it; Publish puts it in the target's place by one rename, and a
// scratch file not published is removed when this goes.
class ScratchBeside {
 public:
  ScratchBeside(std::string target, const std::string& tag);
  ~ScratchBeside();
  ScratchBeside(const ScratchBeside&) = delete;
  ScratchBeside& operator=(const ScratchBeside&) = delete;

  // False when the file could not be made (`Error` says why).
  bool Made() const { return !path_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }
  // Makes the scratch file an empty one again (SQLite then sees a new
  // database in it).
  void Truncate();
  // Syncs the scratch file to disk and renames it onto the target, whose
  // write-ahead log (an SQLite file in WAL mode) is written back first.
  // False, with `error`, when that failed: the target is then as it was.
  bool Publish(std::string& error);

 private:
  std::string target_, path_, error_;
};

}  // namespace landstat
