#pragma once

#include <string>
#include <vector>

#include "platform/gis/layers.h"

namespace landstat::gis {

// One entry of a code table.
struct CODESTRUCT {
  std::string type;  // 代码类型, e.g. "地类代码", "村行政代码"
  std::string code;  // 代码
  std::string name;  // 代码名称
};

// The survey's code tables (land classes, administrative codes, house
// structures ...) as one attribute table with the fields "代码类型", "代码"
// and "代码名称". The table's handle is the object's first member, as the
// engine's walks read it directly.
//
// A code file is UTF-8 text (a GBK file of an older program is converted),
// one code a line: 代码类型 <tab> 代码 <tab> 代码名称. Blank lines and lines
// starting with '#' are skipped.
class RuralCode {
 public:
  LayerHandle m_ai = 0;

  ~RuralCode();
  RuralCode(const RuralCode&) = delete;
  RuralCode& operator=(const RuralCode&) = delete;

  // Loads a code file. Raises GisError naming the file (and the line, and
  // the code) for a malformed line, a land class code that is not letters
  // and digits, an administrative code that is not digits, a code given
  // twice under one type, or a file without land classes.
  static RuralCode* Load(const std::string& path);
  // A code table of the given entries.
  static RuralCode* FromEntries(const std::vector<CODESTRUCT>& entries);

  const std::string& Path() const { return path_; }
  // Where entry `index` (from 0, in the order of all entries) stands, as
  // the file's check names a line: "code file PATH, line N"; in a table
  // made of entries, "code table, entry N".
  std::string Where(std::size_t index) const;

  // Number of entries.
  long GetLibNum() const;
  // The entries that meet `condition` (an attribute condition in SQL,
  // "代码类型 = '组行政代码'", or in the code library's expression syntax,
  // 代码类型 == "组行政代码", which selects the same; empty: all), copied
  // into `out` when given. Returns their count.
  long GetCode(const char* code, std::vector<CODESTRUCT>* out, short reserved,
               const char* condition) const;
  // The field `field` ("代码名称", ...) of the entry whose code is `code` and
  // whose type contains `type_part` ("行政代码"); > 0 when found.
  long GetCode(const char* type_part, const char* code, const char* field,
               std::string& value) const;
  // Administrative level of a code: 1 province, 2 city, 3 county,
  // 4 township, 5 village, 6 group. > 0 when the code is known.
  long GetAdmiCodeLevel(const char* code, short& level) const;

 private:
  RuralCode() = default;
  void Append(const CODESTRUCT& entry);
  std::vector<CODESTRUCT> entries_;  // in file order, mirrored by the table
  std::string path_;
  std::vector<int> lines_;  // of each entry, in a loaded file
};

// Opens a code file; null when it cannot be loaded (the reason, naming the
// file, goes to the trace).
RuralCode* CreateRuralCode(const std::string& path);
void DeleteRuralCode(RuralCode* code);

// The administrative code types by level, province first.
extern const char* const kAdminCodeTypes[6];

}  // namespace landstat::gis
