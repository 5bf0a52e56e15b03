#include "platform/gis/rural_code.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>

#include "platform/db/sql_quote.h"
#include "platform/gis/gis_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/trace.h"
#include "platform/text/text_encoding.h"

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

bool IsClassType(const std::string& type) {
  return type.find("地类代码") != std::string::npos;
}

// What is wrong with an entry's code, empty when nothing: codes become
// column names and statement text, so land classes are letters and digits
// and administrative codes digits.
std::string CodeProblem(const CODESTRUCT& entry) {
  if (IsClassType(entry.type) && !host::IsClassCode(entry.code)) {
    return "the land class code '" + entry.code + "' is not letters and digits";
  }
  if (entry.type.find("行政代码") != std::string::npos && !host::IsAdminCode(entry.code)) {
    return "the administrative code '" + entry.code + "' is not digits";
  }
  return {};
}

// A condition in the code library's expression syntax (代码类型 == "组行政代码")
// as SQL: "==" becomes "=", and a text in double quotes that names no field
// of the table becomes a quoted value. An SQL condition passes unchanged.
std::string SqlCondition(const std::string& condition) {
  std::string sql;
  std::size_t at = 0;
  while (at < condition.size()) {
    const char c = condition[at];
    if (c == '\'') {
      // A quoted value stands as it is, doubled quotes and all.
      std::size_t end = at + 1;
      while (end < condition.size() && (condition[end] != '\'' || condition[end + 1] == '\'')) {
        end += condition[end] == '\'' ? 2 : 1;
      }
      end = std::min(end + 1, condition.size());
      sql.append(condition, at, end - at);
      at = end;
    } else if (c == '"' && condition.find('"', at + 1) != std::string::npos) {
      const std::size_t end = condition.find('"', at + 1);
      const std::string word = condition.substr(at + 1, end - at - 1);
      const bool field = std::any_of(kCodeFields.begin(), kCodeFields.end(),
                                     [&](const FieldDef& f) { return f.name == word; });
      sql += field ? condition.substr(at, end + 1 - at) : db::QuoteText(word);
      at = end + 1;
    } else if (condition.compare(at, 2, "==") == 0) {
      sql += '=';
      at += 2;
    } else {
      sql += c;
      ++at;
    }
  }
  return sql;
}

std::string FileLine(const std::string& path, int line) {
  return "code file " + path + ", line " + std::to_string(line);
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
  std::string text;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored) || !text::ReadTextFile(path, text)) {
    throw GisError("cannot read the code file " + path);
  }
  std::vector<CODESTRUCT> entries;
  std::vector<int> entry_lines;
  std::map<std::pair<std::string, std::string>, int> first_lines;  // type and code -> line
  bool has_classes = false;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const std::string where = FileLine(path, number) + ": ";
    const std::vector<std::string> parts = SplitTabs(line);
    if (parts.size() != 3 || parts[0].empty() || parts[1].empty()) {
      throw GisError(where + "expected 代码类型, 代码 and 代码名称 separated by tabs");
    }
    const CODESTRUCT entry{parts[0], parts[1], parts[2]};
    const std::string problem = CodeProblem(entry);
    if (!problem.empty()) throw GisError(where + problem);
    const auto [first, added] = first_lines.emplace(std::pair(entry.type, entry.code), number);
    if (!added) {
      throw GisError(where + entry.type + " " + entry.code + " is given again (first on line " +
                     std::to_string(first->second) + ")");
    }
    has_classes = has_classes || IsClassType(entry.type);
    entries.push_back(entry);
    entry_lines.push_back(number);
  }
  if (!has_classes) throw GisError("the code file " + path + " holds no land classes (地类代码)");
  RuralCode* codes = FromEntries(entries);
  codes->path_ = path;
  codes->lines_ = std::move(entry_lines);
  return codes;
}

std::string RuralCode::Where(std::size_t index) const {
  if (index < lines_.size()) return FileLine(path_, lines_[index]);
  return "code table, entry " + std::to_string(index + 1);
}

long RuralCode::GetLibNum() const {
  return static_cast<long>(entries_.size());
}

long RuralCode::GetCode(const char* code, std::vector<CODESTRUCT>* out, short,
                        const char* condition) const {
  if (out) out->clear();
  std::vector<long> numbers;
  if (condition && *condition) {
    numbers = SelectRecords(m_ai, SqlCondition(condition));
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
  } catch (const GisError& error) {
    host::yDebugStr(error.what());
    return nullptr;
  }
}

void DeleteRuralCode(RuralCode* code) {
  delete code;
}

}  // namespace landstat::gis
