#include "platform/host/ini_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/host/paths.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/text_encoding.h"

namespace landstat::host {
namespace fs = std::filesystem;

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const std::size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::string InProgramDir(const std::string& file) {
  const fs::path path(file);
  return path.is_absolute() ? file : (fs::path(ProgramDir()) / path).string();
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
  IniFile ini;
  ini.path_ = path;
  std::string text;
  std::error_code ignored;
  ini.exists_ = fs::exists(path, ignored);
  if (!ini.exists_) {
    yDebug("%s is missing: its settings take their defaults", path.c_str());
    return ini;
  }
  if (fs::is_directory(path, ignored) || !text::ReadTextFile(path, text)) {
    ini.problem_ = "cannot be read";
    yDebug("%s cannot be read: its settings take their defaults", path.c_str());
    return ini;
  }
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line = Trimmed(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      ini.sections_.push_back({Trimmed(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || ini.sections_.empty()) {
      if (ini.problem_.empty()) {
        yDebug("%s, line %d: not a setting, skipped", path.c_str(), number);
        ini.problem_ = "line " + std::to_string(number) + " is not a setting";
      }
      continue;
    }
    ini.sections_.back().entries.push_back(
        {Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1))});
  }
  return ini;
}

IniFile::Section* IniFile::Find(const std::string& section) {
  for (Section& candidate : sections_) {
    if (text::IEquals(candidate.name, section)) return &candidate;
  }
  return nullptr;
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
  return const_cast<IniFile*>(this)->Find(section);
}

std::string IniFile::Get(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
  if (const Section* found = Find(section)) {
    for (const Entry& entry : found->entries) {
      if (text::IEquals(entry.key, key)) return entry.value;
    }
  }
  return fallback;
}

bool IniFile::Has(const std::string& section, const std::string& key) const {
  const Section* found = Find(section);
  if (!found) return false;
  for (const Entry& entry : found->entries) {
    if (text::IEquals(entry.key, key)) return true;
  }
  return false;
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  Section* found = Find(section);
  if (!found) {
    sections_.push_back({section, {}});
    found = &sections_.back();
  }
  for (Entry& entry : found->entries) {
    if (text::IEquals(entry.key, key)) {
      entry.value = value;
      return;
    }
  }
  found->entries.push_back({key, value});
}

bool IniFile::Save() const {
  if (!problem_.empty()) {
    yDebug("%s is not written over (%s)", path_.c_str(), problem_.c_str());
    return false;
  }
  std::error_code ignored;
  const fs::path path(path_);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ignored);
  // Written beside the file, then put in its place, so a failed write never
  // leaves half a configuration.
  const fs::path temporary = fs::path(path_ + ".tmp");
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    for (const Section& section : sections_) {
      file << "[" << section.name << "]\n";
      for (const Entry& entry : section.entries) file << entry.key << "=" << entry.value << "\n";
    }
    if (!file.flush()) {
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code renamed;
  fs::rename(temporary, path, renamed);
  if (renamed) fs::remove(temporary, ignored);
  return !renamed;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& path) {
  return IniFile::Load(path).Get(section, key, fallback);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  IniFile ini = IniFile::Load(path);
  ini.Set(section, key, value);
  return ini.Save();
}

std::string _ZRK_GetProfileString(const std::string& section, const std::string& key,
                                  const std::string& fallback, const std::string& file) {
  return GetPrivateProfileString(section, key, fallback, InProgramDir(file));
}

bool _ZRK_WriteProfileString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file) {
  return WritePrivateProfileString(section, key, value, InProgramDir(file));
}

std::string LindoReadINI(const std::string& section, const std::string& key,
                         const std::string& fallback) {
  return GetPrivateProfileString(section, key, fallback, HostIniPath());
}

bool LindoWriteINI(const std::string& section, const std::string& key, const std::string& value) {
  return WritePrivateProfileString(section, key, value, HostIniPath());
}

}  // namespace landstat::host
