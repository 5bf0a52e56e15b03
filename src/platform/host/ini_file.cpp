#include "platform/host/ini_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
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

bool HasControlCharacter(const std::string& text) {
  for (const unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
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

bool IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  if (HasControlCharacter(section) || HasControlCharacter(key) || HasControlCharacter(value) ||
      key.empty() || key.find('=') != std::string::npos) {
    yDebug("%s: [%s] %s is not written (a control character or no key)", path_.c_str(),
           section.c_str(), key.c_str());
    return false;
  }
  Section* found = Find(section);
  if (!found) {
    sections_.push_back({section, {}});
    found = &sections_.back();
  }
  for (Entry& entry : found->entries) {
    if (text::IEquals(entry.key, key)) {
      entry.value = value;
      return true;
    }
  }
  found->entries.push_back({key, value});
  return true;
}

bool IniFile::Save() const {
  if (!problem_.empty()) {
    yDebug("%s is not written over (%s)", path_.c_str(), problem_.c_str());
    return false;
  }
  std::error_code ignored;
  const fs::path path(path_);
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ignored);
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\n";
    for (const Entry& entry : section.entries) text += entry.key + "=" + entry.value + "\n";
  }
  // Written beside the file under a name no other writer takes, synced,
  // then put in its place: a failed write or a lost power never leaves half
  // a configuration.
  std::string temporary = path_ + ".XXXXXX.tmp";
  const int fd = ::mkstemps(temporary.data(), 4);
  if (fd < 0) return false;
  // The file keeps its permissions (a new one is readable by all, as files
  // written the usual way are).
  struct stat existing {};
  const bool has_mode = ::stat(path_.c_str(), &existing) == 0;
  const bool written = ::fchmod(fd, has_mode ? existing.st_mode & 07777 : 0644) == 0 &&
                       WriteAll(fd, text) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  std::error_code renamed;
  if (written && closed) fs::rename(temporary, path, renamed);
  if (!written || !closed || renamed) {
    fs::remove(temporary, ignored);
    return false;
  }
  return true;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& path) {
  return IniFile::Load(path).Get(section, key, fallback);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  IniFile ini = IniFile::Load(path);
  return ini.Set(section, key, value) && ini.Save();
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
