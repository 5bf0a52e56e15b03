#pragma once

#include <string>

namespace landstat::host {

// The program directory: the root of the engine's configuration. It is set
// by the host (an option of the command-line host), else taken from the
// environment variable LANDSTAT_HOME, else the installation's share folder
// beside the running program (PREFIX/share/landstat for PREFIX/bin/landstat).
// Everything the old program kept beside its executable lives under it:
//   StatConfig.ini and the SQL script folders in qentar/_secondfun_/,
//   rivadoverid.ini, the host's own host.ini and HostSetting.xml,
//   ERROR_StatSQL/ for statement dumps.
std::string ProgramDir();
void SetProgramDir(const std::string& folder);

// qentar/_secondfun_ under the program directory.
std::string ConfigDir();
// The statistics configuration file, ConfigDir()/StatConfig.ini.
std::string StatConfigPath();
// The data-source settings, ProgramDir()/rivadoverid.ini.
std::string DataSourceIniPath();
// The host's own settings: ProgramDir()/host.ini and HostSetting.xml.
std::string HostIniPath();
std::string HostSettingsPath();
// A folder for scratch files.
std::string TempDir();

}  // namespace landstat::host
