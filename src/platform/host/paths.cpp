#include "platform/host/paths.h"

#include <cstdlib>
#include <filesystem>

namespace landstat::host {
namespace fs = std::filesystem;

namespace {

// The configuration root of an installation, from the folder of its
// programs (the build sets it from the install folders).
#ifndef LANDSTAT_ROOT_FROM_PROGRAM
#define LANDSTAT_ROOT_FROM_PROGRAM "../share/landstat"
#endif

std::string& ProgramDirSetting() {
  static std::string folder;
  return folder;
}

// The installation's configuration root beside the running program: with
// the program in PREFIX/bin, PREFIX/share/landstat, wherever the
// installation was put. Where the program cannot be found, the root of the
// default installation.
std::string InstalledRoot() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error || program.empty()) return "/usr/local/share/landstat";
  return (program.parent_path() / LANDSTAT_ROOT_FROM_PROGRAM).lexically_normal().string();
}

}  // namespace

std::string ProgramDir() {
  if (!ProgramDirSetting().empty()) return ProgramDirSetting();
  if (const char* home = std::getenv("LANDSTAT_HOME"); home && *home) return home;
  return InstalledRoot();
}

void SetProgramDir(const std::string& folder) {
  ProgramDirSetting() = folder;
}

std::string ConfigDir() {
  return (fs::path(ProgramDir()) / "qentar" / "_secondfun_").string();
}

std::string StatConfigPath() {
  return (fs::path(ConfigDir()) / "StatConfig.ini").string();
}

std::string DataSourceIniPath() {
  return (fs::path(ProgramDir()) / "rivadoverid.ini").string();
}

std::string HostIniPath() {
  return (fs::path(ProgramDir()) / "host.ini").string();
}

std::string HostSettingsPath() {
  return (fs::path(ProgramDir()) / "HostSetting.xml").string();
}

std::string TempDir() {
  return fs::temp_directory_path().string();
}

}  // namespace landstat::host
