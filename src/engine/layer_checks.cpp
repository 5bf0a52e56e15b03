#include "engine/layer_checks.h"

#include <algorithm>
#include <cmath>

#include "platform/db/backend.h"
#include "platform/gis/gis_error.h"
#include "platform/text/number_text.h"

namespace landstat {

LayerChecks::LayerChecks(StatRunLog& log, gis::LayerHandle layer, bool report)
    : log_(log), layer_(layer), name_(gis::LayerName(layer)), report_(report) {}

bool LayerChecks::HasFields(std::initializer_list<const char*> fields, const std::string& message) {
  const std::vector<std::string> names(fields.begin(), fields.end());
  return HasFields(names, message);
}

bool LayerChecks::HasFields(std::span<const std::string> fields, const std::string& message) {
  for (const std::string& field : fields) {
    if (gis::HasField(layer_, field)) continue;
    if (report_) log_.LogFailure("图层 " + name_ + " 缺少字段 " + field, message);
    return false;
  }
  return true;
}

void LayerChecks::WatchNumbers(const std::string& field) {
  try {
    stored_texts_.Watch(layer_, field);
  } catch (const gis::GisError& error) {
    if (report_) log_.LogFailure("图层 " + name_ + " 字段 " + field, error.what());
  }
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
  std::string problem;
  if (text.empty()) {
    problem = "面积为空";
  } else if (!number || !std::isfinite(*number)) {
    problem = "面积不是数值: " + text;
  } else if (*number < 0) {
    problem = "面积为负数: " + text;
  } else if (*number > kMostPieceArea) {
    problem = "面积超过 1e10 平方米: " + text;
  } else {
    return number;
  }
  Fail(record, field, problem + ", 图元未计入");
  return std::nullopt;
}

std::optional<std::string> LayerChecks::Code(const gis::Record& record, const std::string& field) {
  std::string text = record.Text(field);
  if (!text.empty()) return text;
  Fail(record, field, "代码为空, 图元未计入");
  return std::nullopt;
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
  return "图层 " + name_ + " 记录 " + std::to_string(record.Number());
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
