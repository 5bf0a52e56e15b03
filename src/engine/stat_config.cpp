#include "engine/stat_config.h"

#include <filesystem>
#include <iterator>

#include "engine/table_names.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/paths.h"

namespace landstat {
namespace {

host::IniFile Config() {
  return host::IniFile::Load(host::StatConfigPath());
}

bool Store(const char* section,
           const std::initializer_list<std::pair<const char*, std::string>>& values) {
  host::IniFile config = Config();
  for (const auto& [key, value] : values) config.Set(section, key, value);
  return config.Save();
}

bool IsDecimals(const std::string& text) {
  return !text.empty() && text.size() <= 2 &&
         text.find_first_not_of("0123456789") == std::string::npos && std::stoi(text) <= 10;
}

int Decimals(const host::IniFile& config, const char* key) {
  const std::string text = config.Get("PointLen", key, "2");
  return IsDecimals(text) ? std::stoi(text) : 2;
}

bool IsStatType(const std::string& text) {
  return text == "0" || text == "1" || text == "2";
}

// One warning when the key is there and its value fails `sound`.
void CheckKey(const host::IniFile& config, const char* section, const char* key,
              bool (*sound)(const std::string&), const char* instead,
              std::vector<std::string>& warnings) {
  if (!config.Has(section, key)) return;
  const std::string value = config.Get(section, key);
  if (sound(value)) return;
  warnings.push_back(config.Path() + " [" + section + "] " + key + "=" + value + ": " + instead);
}

bool IsSourceUnit(const std::string& text) {
  return UnitOfText(text) != kNoUnit;
}

bool IsTargetUnit(const std::string& text) {
  return text.empty() || IsSourceUnit(text);
}

}  // namespace

void GetUnit(std::string& unit1, std::string& unit2, std::string& unit3) {
  const host::IniFile config = Config();
  unit1 = config.Get("AreaUnit", "Unit1", "平方米");
  unit2 = config.Get("AreaUnit", "Unit2", "");
  unit3 = config.Get("AreaUnit", "Unit3", "");
  if (unit2 == unit1) unit2.clear();
  if (unit3 == unit1 || unit3 == unit2) unit3.clear();
}

bool SetUnit(const std::string& unit1, const std::string& unit2, const std::string& unit3) {
  return Store("AreaUnit", {{"Unit1", unit1}, {"Unit2", unit2}, {"Unit3", unit3}});
}

void GetPointLen(int& len1, int& len2, int& len3) {
  const host::IniFile config = Config();
  len1 = Decimals(config, "Len1");
  len2 = Decimals(config, "Len2");
  len3 = Decimals(config, "Len3");
}

bool SetPointLen(int len1, int len2, int len3) {
  return Store("PointLen", {{"Len1", std::to_string(len1)},
                            {"Len2", std::to_string(len2)},
                            {"Len3", std::to_string(len3)}});
}

int GetStatType(int& type) {
  const std::string text = Config().Get("TYPE", "Type", "2");
  type = IsStatType(text) ? std::stoi(text) : 2;
  return static_cast<int>(text.size());
}

bool SetStatType(int type) {
  return Store("TYPE", {{"Type", std::to_string(type)}});
}

std::vector<std::string> StatConfigWarnings() {
  const host::IniFile config = Config();
  std::vector<std::string> warnings;
  if (!config.Exists()) {
    warnings.push_back(config.Path() + " is missing: every setting takes its default");
  } else if (!config.Problem().empty()) {
    warnings.push_back(config.Path() + ": " + config.Problem() +
                       ", the settings it holds may take their defaults");
  }
  for (const char* key : {"Len1", "Len2", "Len3"}) {
    CheckKey(config, "PointLen", key, IsDecimals, "not a whole number from 0 to 10, 2 is used",
             warnings);
  }
  CheckKey(config, "TYPE", "Type", IsStatType, "neither 0, 1 nor 2, 2 (both scopes) is used",
           warnings);
  return warnings;
}

std::vector<std::string> StatConfigErrors() {
  const host::IniFile config = Config();
  std::vector<std::string> errors;
  const char* const keys[] = {"Unit1", "Unit2", "Unit3"};
  std::vector<const char*> named;  // the keys that name a unit, in order
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    const char* key = keys[i];
    if (!config.Has("AreaUnit", key)) continue;
    const std::string value = config.Get("AreaUnit", key);
    // Unit 1 must name a unit; the others may be empty.
    const bool sound = i == 0 ? IsSourceUnit(value) : IsTargetUnit(value);
    if (!sound) {
      errors.push_back(config.Path() + " [AreaUnit] " + key + "=" + value +
                       ": no area unit (平方米, 公顷 or 亩)");
      continue;
    }
    for (const char* earlier : named) {
      if (config.Get("AreaUnit", earlier) != value) continue;
      errors.push_back(config.Path() + " [AreaUnit] " + key + "=" + value + " repeats " + earlier +
                       "=" + value);
    }
    if (!value.empty()) named.push_back(key);
  }
  return errors;
}

bool StatConfigRead() {
  const host::IniFile config = Config();
  return config.Exists() && config.Problem().empty();
}

bool IsExistHDMSSM() {
  return Config().Get("HD", "MSSM", "0") != "0";
}

bool IsExistKZDLBM() {
  return Config().Get("KZ", "DLBM", "0") != "0";
}

bool IsStandAloneMode() {
  return host::_ZRK_GetProfileString("数据源", "模式", "单机").find("单机") != std::string::npos;
}

std::string GetCnnstr(const std::string& folder, const std::string& year,
                      const std::string& county) {
  if (IsStandAloneMode()) {
    const std::string file = (std::filesystem::path(folder) / (year + county + ".sqlite")).string();
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file;
  }
  return host::_AdoGetConnectionString(host::_ZRK_GetProfileString("数据源", "名称", ""));
}

ConfiguredUnits ReadConfiguredUnits() {
  std::string unit1, unit2, unit3;
  GetUnit(unit1, unit2, unit3);
  ConfiguredUnits configured{};
  configured.units[0] = UnitOfText(unit1) == kNoUnit ? kSquareMetre : UnitOfText(unit1);
  configured.units[1] = UnitOfText(unit2);
  configured.units[2] = UnitOfText(unit3);
  int len1 = 2, len2 = 2, len3 = 2;
  GetPointLen(len1, len2, len3);
  configured.decimals[0] = static_cast<short>(len1);
  configured.decimals[1] = static_cast<short>(len2);
  configured.decimals[2] = static_cast<short>(len3);
  int type = 2;
  GetStatType(type);
  configured.stat_type = static_cast<short>(type);
  for (short unit : configured.units) {
    configured.pm = configured.pm || unit == kSquareMetre;
    configured.gq = configured.gq || unit == kHectare;
    configured.mu = configured.mu || unit == kMu;
  }
  return configured;
}

}  // namespace landstat
