#include "engine/layer_checks.h"

#include <algorithm>
#include <cmath>

#include "engine/slope_grades.h"
#include "platform/db/backend.h"
#include "platform/gis/gis_error.h"
#include "platform/text/number_text.h"

namespace landstat {

namespace {

// Why an area's text cannot be counted; empty when it can.
std::string AreaProblem(const std::string& text, const std::optional<double>& number) {
  if (text.empty()) return "面积为空";
  if (!number || !std::isfinite(*number)) return "面积不是数值: " + text;
  if (*number < 0) return "面积为负数: " + text;
  if (*number > kMostPieceArea) return "面积超过 1e10 平方米: " + text;
  return {};
}

}  // namespace

std::optional<double> CountableArea(const std::string& text) {
  const std::optional<double> number = text.empty() ? std::nullopt : text::TextToNumber(text);
  if (!AreaProblem(text, number).empty()) return std::nullopt;
  return number;
}

LayerChecks::LayerChecks(StatRunLog& log, gis::LayerHandle layer, bool report)
    : log_(log), layer_(layer), name_(gis::LayerName(layer)), report_(report) {}

bool LayerChecks::HasFields(std::initializer_list<const char*> fields, const std::string& message) {
  const std::vector<std::string> names(fields.begin(), fields.end());
  return HasFields(names, message);
}

bool LayerChecks::HasFields(std::span<const std::string> fields, const std::string& message) {
  for (const std::string& field : fields) {
    if (gis::HasField(layer_, field)) continue;
    LogLacking(field, message);
    return false;
  }
  return true;
}

std::vector<const FieldNeed*> LayerChecks::Lacking(std::span<const FieldNeed> needs) const {
  std::vector<const FieldNeed*> lacking;
  for (const FieldNeed& need : needs) {
    if (!gis::HasField(layer_, need.field)) lacking.push_back(&need);
  }
  return lacking;
}

void LayerChecks::LogLacking(const std::string& field, const std::string& message) {
  if (report_) log_.LogFailure("图层 " + name_ + " 缺少字段 " + field, message);
}

void LayerChecks::WatchNumbers(const std::string& field) {
  try {
    stored_texts_.Watch(layer_, field);
  } catch (const gis::GisError& error) {
    if (report_) log_.LogFailure("图层 " + name_ + " 字段 " + field, error.what());
  }
}

void LayerChecks::WatchNumbersOf(const std::vector<std::string>& fields) {
  try {
    stored_texts_.Watch(layer_, fields);
    return;
  } catch (const gis::GisError&) {
    // Each field again alone: only those that cannot be checked are logged.
  }
  for (const std::string& field : fields) WatchNumbers(field);
}

std::string LayerChecks::StoredText(const gis::Record& record, const std::string& field,
                                    int index) const {
  return stored_texts_.Text(record, field, index);
}

std::optional<double> LayerChecks::Area(const gis::Record& record, const std::string& field,
                                        int index, bool required) {
  const std::string text = StoredText(record, field, index);
  if (text.empty() && !required) return 0.0;
  const std::optional<double> number = text.empty() ? std::nullopt : text::TextToNumber(text);
  const std::string problem = AreaProblem(text, number);
  if (problem.empty()) return number;
  Fail(record, field, problem + ", 图元未计入");
  return std::nullopt;
}

bool LayerChecks::HalvedLine(const gis::Record& record, const std::string& field) {
  const std::string text = StoredText(record, field);
  const std::optional<double> ratio = text.empty() ? std::nullopt : text::TextToNumber(text);
  if (ratio == 0.5) return true;
  if (ratio != 1.0) {
    Fail(record, field, "扣除比例 '" + text + "' 既不是 0.5 也不是 1, 整条计入扣除图斑1");
  }
  return false;
}

std::optional<double> LayerChecks::Coefficient(const gis::Record& record,
                                               const std::string& field) {
  const std::string text = StoredText(record, field);
  if (text.empty()) return 0.0;
  const std::optional<double> number = text::TextToNumber(text);
  if (number && std::isfinite(*number) && *number >= 0) return number;
  Fail(record, field, field + " '" + text + "' 不是非负的数值, 扣除未计入");
  return std::nullopt;
}

std::optional<std::string> LayerChecks::Code(const gis::Record& record, const std::string& field) {
  std::string text = record.Text(field);
  if (!text.empty()) return text;
  Fail(record, field, "代码为空, 图元未计入");
  return std::nullopt;
}

int LayerChecks::SlopeGrade(const gis::Record& record, const std::string& field) {
  const std::string text = record.Text(field);
  if (text.empty()) return 0;
  if (const int grade = SlopeGradeOf(text); grade > 0) return grade;
  const std::optional<double> number = text::TextToNumber(text);
  if (number && *number >= 1 && *number <= 5 && *number == std::floor(*number)) {
    return static_cast<int>(*number);
  }
  Fail(record, field, "坡度级 '" + text + "' 不是 1 到 5 级, 未填");
  return 0;
}

bool LayerChecks::InVocabulary(const gis::Record& record, const std::string& field,
                               const std::string& value, std::span<const char* const> words,
                               bool leave_out) {
  if (std::any_of(words.begin(), words.end(), [&](const char* word) { return value == word; })) {
    return true;
  }
  return Refuse(record, field, value, "'" + value + "' 不是可用的" + field, leave_out);
}

bool LayerChecks::HasLength(const gis::Record& record, const std::string& field,
                            const std::string& value, std::size_t length, bool leave_out) {
  if (static_cast<std::size_t>(db::CharacterCount(value)) == length) return true;
  return Refuse(record, field, value, "'" + value + "' 不是 " + std::to_string(length) + " 个字符",
                leave_out);
}

bool LayerChecks::Fits(const gis::Record& record, const std::string& field,
                       const std::string& value, std::size_t most) {
  if (static_cast<std::size_t>(db::CharacterCount(value)) <= most) return true;
  return Refuse(record, field, value, "'" + value + "' 超过 " + std::to_string(most) + " 个字符",
                true);
}

bool LayerChecks::Refuse(const gis::Record& record, const std::string& field,
                         const std::string& value, const std::string& problem, bool leave_out) {
  if (leave_out) {
    Fail(record, field, problem + ", 图元未计入");
    return false;
  }
  NoticeOnce(record, field, field + '\t' + value, problem + ", 照样计入 (同值的记录不再列出)");
  return true;
}

std::string LayerChecks::RecordName(const gis::Record& record) const {
  return RecordName(record.Number());
}

std::string LayerChecks::RecordName(long number) const {
  return "图层 " + name_ + " 记录 " + std::to_string(number);
}

void LayerChecks::Fail(const gis::Record& record, const std::string& field,
                       const std::string& message) {
  if (!report_) return;
  log_.LogFailure(RecordName(record) + (field.empty() ? "" : " 字段 " + field), message);
}

void LayerChecks::NoticeOnce(const gis::Record& record, const std::string& field,
                             const std::string& key, const std::string& message) {
  if (report_ && noticed_.insert(key).second) {
    log_.LogNotice(RecordName(record) + " 字段 " + field, message);
  }
}

}  // namespace landstat
