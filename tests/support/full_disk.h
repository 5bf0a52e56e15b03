#pragma once

#include <string>

namespace landstat::testing {

// Makes the disk under some SQLite files look full to the program, without
// a small file system of its own (which only root may mount): while it
// lives, the connections opened on a file whose path holds `marker` are
// followed, and once Fill was called none of them can grow its file any
// more, so that a write needing room fails as on a full disk (SQLITE_FULL).
// One at a time; the connections must be used on the thread that calls
// Fill (a run's observer).
class FullDisk {
 public:
  explicit FullDisk(std::string marker);
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  // From now on: the open connections and those opened later. The number
  // of open connections it filled.
  int Fill();
};

}  // namespace landstat::testing
