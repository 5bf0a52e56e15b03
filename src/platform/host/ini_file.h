#pragma once

#include <string>
#include <vector>

namespace landstat::host {

// An INI file: [section] headers and key=value lines, read as UTF-8 (a file
// written in GBK by an older program is converted on read). Section and key
// names match without regard to ASCII case, as the old profile functions
// did. Lines that are neither are skipped and reported once to the trace.
class IniFile {
 public:
  // Reads the file; a missing file gives an empty one (every key takes its
  // default), reported to the trace.
  static IniFile Load(const std::string& path);

  bool Exists() const { return exists_; }
  // What kept the file from being read whole: it could not be read, or the
  // first line that is no setting (by number). Empty when it read cleanly.
  const std::string& Problem() const { return problem_; }

  std::string Get(const std::string& section, const std::string& key,
                  const std::string& fallback = {}) const;
  bool Has(const std::string& section, const std::string& key) const;
  // Sets a key's value. False, changing nothing, when a name or the value
  // would not read back as written: a control character (a line break would
  // start a line of its own), an empty key or one holding '='.
  bool Set(const std::string& section, const std::string& key, const std::string& value);
  // Writes the file back as UTF-8, creating its folder when missing, through
  // a temporary file of its own synced to disk before it takes the file's
  // place.
  // Returns false when it cannot be written, and without writing when the
  // file was not read cleanly (see Problem): what was not understood would
  // be lost.
  bool Save() const;

  const std::string& Path() const { return path_; }

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* Find(const std::string& section);
  const Section* Find(const std::string& section) const;

  std::string path_;
  bool exists_ = false;
  std::string problem_;
  std::vector<Section> sections_;
};

// The profile functions the engine calls, on an INI file by path.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& fallback, const std::string& path);
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

// rivadoverid.ini in the program directory (the file name is given as the
// callers give it; a relative name lies in the program directory).
std::string _ZRK_GetProfileString(const std::string& section, const std::string& key,
                                  const std::string& fallback,
                                  const std::string& file = "rivadoverid.ini");
bool _ZRK_WriteProfileString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& file = "rivadoverid.ini");

// The host's own INI file (host.ini in the program directory).
std::string LindoReadINI(const std::string& section, const std::string& key,
                         const std::string& fallback = {});
bool LindoWriteINI(const std::string& section, const std::string& key, const std::string& value);

}  // namespace landstat::host
