#include "platform/host/paths.h"

#include <cstdlib>
#include <filesystem>

namespace landstat::host {
namespace fs = std::filesystem;

namespace {

#ifndef LANDSTAT_SHARE_DIR
#define LANDSTAT_SHARE_DIR "/usr/local/share/landstat"
#endif

std::string& ProgramDirSetting() {
  static std::string folder;
  return folder;
}

}  // namespace

std::string ProgramDir() {
  if (!ProgramDirSetting().empty()) return ProgramDirSetting();
  if (const char* home = std::getenv("LANDSTAT_HOME"); home && *home) return home;
  return LANDSTAT_SHARE_DIR;
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
