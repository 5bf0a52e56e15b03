#include "platform/gis/rural_code.h"

#include <fstream>

#include "platform/gis/gis_error.h"

namespace landstat::gis {

const char* const kAdminCodeTypes[6] = {"省行政代码", "市行政代码", "县行政代码",
                                        "乡行政代码", "村行政代码", "组行政代码"};

namespace {

const std::vector<FieldDef> kCodeFields = {
    {"代码类型", FieldType::kText, 20, 0},
    {"代码", FieldType::kText, 19, 0},
    {"代码名称", FieldType::kText, 80, 0},
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    parts.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  parts.push_back(line.substr(start));
  return parts;
}

}  // namespace

RuralCode::~RuralCode() {
  CloseLayer(m_ai);
}

void RuralCode::Append(const CODESTRUCT& entry) {
  const long number = AddRecord(m_ai);
  Record record;
  ReadRecord(m_ai, EntityKind::kTable, number, record);
  record.SetText("代码类型", entry.type);
  record.SetText("代码", entry.code);
  record.SetText("代码名称", entry.name);
  WriteRecord(m_ai, record);
  entries_.push_back(entry);
}

RuralCode* RuralCode::FromEntries(const std::vector<CODESTRUCT>& entries) {
  std::unique_ptr<RuralCode> codes(new RuralCode());
  codes->m_ai = CreateTable("代码表", kCodeFields);
  for (const CODESTRUCT& entry : entries) codes->Append(entry);
  return codes.release();
}

RuralCode* RuralCode::Load(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw GisError("cannot read the code file " + path);
  std::vector<CODESTRUCT> entries;
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a BOM
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const std::vector<std::string> parts = SplitTabs(line);
    if (parts.size() != 3 || parts[0].empty() || parts[1].empty()) {
      throw GisError("code file " + path + ", line " + std::to_string(number) +
                     ": expected 代码类型, 代码 and 代码名称 separated by tabs");
    }
    entries.push_back({parts[0], parts[1], parts[2]});
  }
  RuralCode* codes = FromEntries(entries);
  codes->path_ = path;
  return codes;
}

long RuralCode::GetLibNum() const {
  return static_cast<long>(entries_.size());
}

long RuralCode::GetCode(const char* code, std::vector<CODESTRUCT>* out, short,
                        const char* condition) const {
  if (out) out->clear();
  std::vector<long> numbers;
  if (condition && *condition) {
    numbers = SelectRecords(m_ai, condition);
  } else {
    for (long i = 1; i <= GetLibNum(); ++i) numbers.push_back(i);
  }
  long count = 0;
  for (long number : numbers) {
    const CODESTRUCT& entry = entries_.at(static_cast<std::size_t>(number - 1));
    if (code && *code && entry.code != code) continue;
    ++count;
    if (out) out->push_back(entry);
  }
  return count;
}

long RuralCode::GetCode(const char* type_part, const char* code, const char* field,
                        std::string& value) const {
  const std::string wanted = field ? field : "代码名称";
  for (const CODESTRUCT& entry : entries_) {
    if (entry.code != code) continue;
    if (type_part && entry.type.find(type_part) == std::string::npos) continue;
    if (wanted == "代码名称") {
      value = entry.name;
    } else if (wanted == "代码类型") {
      value = entry.type;
    } else {
      value = entry.code;
    }
    return 1;
  }
  return 0;
}

long RuralCode::GetAdmiCodeLevel(const char* code, short& level) const {
  for (const CODESTRUCT& entry : entries_) {
    if (entry.code != code) continue;
    for (short i = 0; i < 6; ++i) {
      if (entry.type == kAdminCodeTypes[i]) {
        level = static_cast<short>(i + 1);
        return 1;
      }
    }
  }
  return 0;
}

RuralCode* CreateRuralCode(const std::string& path) {
  try {
    return RuralCode::Load(path);
  } catch (const GisError&) {
    return nullptr;
  }
}

void DeleteRuralCode(RuralCode* code) {
  delete code;
}

}  // namespace landstat::gis
