#include "platform/host/host_settings.h"

#include <filesystem>
#include <mutex>
#include <pugixml.hpp>
#include <set>

#include "platform/host/paths.h"
#include "platform/host/trace.h"
#include "platform/host/xml_file.h"

namespace landstat::host {
namespace fs = std::filesystem;

namespace {

void ReportOnce(const std::string& path, const std::string& why) {
  static std::mutex mutex;  // settings are read by report writers on threads of their own
  static std::set<std::string> reported;
  const std::lock_guard<std::mutex> lock(mutex);
  if (reported.insert(path).second) yDebug("%s %s: defaults apply", path.c_str(), why.c_str());
}

}  // namespace

std::string ReadXmlSetting(const std::string& path, const std::string& section,
                           const std::string& key, const std::string& fallback) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = host::LoadXmlFile(document, path);
  if (!parsed) {
    ReportOnce(path,
               parsed.status == pugi::status_file_not_found ? "is missing" : "cannot be read");
    return fallback;
  }
  const pugi::xml_attribute value =
      document.document_element().child(section.c_str()).attribute(key.c_str());
  return value ? value.as_string() : fallback;
}

bool WriteXmlSetting(const std::string& path, const std::string& section, const std::string& key,
                     const std::string& value) {
  pugi::xml_document document;
  if (!host::LoadXmlFile(document, path)) document.append_child("Settings");
  pugi::xml_node root = document.document_element();
  pugi::xml_node node = root.child(section.c_str());
  if (!node) node = root.append_child(section.c_str());
  pugi::xml_attribute attribute = node.attribute(key.c_str());
  if (!attribute) attribute = node.append_attribute(key.c_str());
  attribute.set_value(value.c_str());
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  return document.save_file(path.c_str(), "  ");
}

std::string GetHostSetting(const std::string& section, const std::string& key,
                           const std::string& fallback) {
  return ReadXmlSetting(HostSettingsPath(), section, key, fallback);
}

std::string HostVersion() {
  const std::string version = GetHostSetting("Set", "version");
  return version.empty() ? "通用农村" : version;
}

std::string ModuleXmlFilePath(const std::string& name, const std::string&) {
  return (fs::path(ConfigDir()) / name).string();
}

std::string ModuleSettingXml(const std::string& section, const std::string& key,
                             const std::string& fallback, const std::string& application) {
  return ReadXmlSetting(ModuleXmlFilePath("ModuleSetting.xml", application), section, key,
                        fallback);
}

void _AdoInitDbEnv() {}

int _AdoGetDbType(const std::string& name) {
  if (name.empty()) return 0;
  return name.rfind("oracle:", 0) == 0 ? 2 : 1;
}

std::string _AdoGetConnectionString(const std::string& name) {
  if (name.empty() || name.rfind("oracle:", 0) == 0) return name;
  // A file that exists is the file, as for every connection string: a
  // plain path is no service name.
  std::error_code unreadable;
  if (fs::is_regular_file(fs::path(name), unreadable)) return name;
  const bool conninfo = name.find('=') != std::string::npos ||
                        name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
  return conninfo ? name : "service=" + name;
}

}  // namespace landstat::host
