#pragma once

#include <string>

namespace landstat::host {

// Settings kept in XML files: the element named after the section, under the
// root, holds the key as an attribute:
//   <HostSetting><Set version="通用农村"/><Exp ISDIFF_XQCODE="0"/></HostSetting>
// A missing or malformed file gives the fallback and says so once to the
// trace.
std::string ReadXmlSetting(const std::string& path, const std::string& section,
                           const std::string& key, const std::string& fallback);
bool WriteXmlSetting(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value);

// The host's settings (HostSetting.xml in the program directory), such as
// "Set"/"version", the regional variant of the run.
std::string GetHostSetting(const std::string& section, const std::string& key,
                           const std::string& fallback = {});
// The version string of a run: "Set"/"version", "通用农村" when absent.
std::string HostVersion();

// Module settings: ModuleXmlFilePath names a module's XML file under the
// configuration folder; ModuleSettingXml reads ModuleSetting.xml there.
std::string ModuleXmlFilePath(const std::string& name, const std::string& application = {});
std::string ModuleSettingXml(const std::string& section, const std::string& key,
                             const std::string& fallback, const std::string& application = {});

// Data sources of the server mode. A data-source name (rivadoverid.ini,
// "数据源"/"名称") is a libpq conninfo or URI, or the name of a service in
// pg_service.conf; a name starting with "oracle:" names an Oracle source;
// the path of a file that exists names that file (an SQLite database).
void _AdoInitDbEnv();
// 1 the generic server (PostgreSQL), 2 Oracle, 0 no data source.
int _AdoGetDbType(const std::string& name);
std::string _AdoGetConnectionString(const std::string& name);

}  // namespace landstat::host
