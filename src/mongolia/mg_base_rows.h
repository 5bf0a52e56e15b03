#pragma once

// What the two fills of the Inner Mongolia base table share: the row on its
// way into a table, the writer that books its hierarchy and class columns,
// the pass over a layer, and the passes over the three layers by the rules
// of either fill.

#include <array>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"

namespace landstat::mg {

// The hierarchy levels of an ownership code: code column, name column and
// the length of the code's prefix.
struct MgLevel {
  const char* code;
  const char* name;
  std::size_t length;
};
constexpr MgLevel kMgLevels[] = {{"县级代码", "县名称", 6},
                                 {"类别码", "类别名称", 8},
                                 {"管局级码", "管局级名称", 10},
                                 {"管局下属二级单位码", "管局下属二级单位名称", 13}};
// The lengths of the codes of a level: those of the hierarchy, then the
// ownership units (the county code and ten characters more, and the full
// nineteen).
constexpr std::size_t kMgCodeLengths[] = {6, 8, 10, 13, 16, 19};

// What is wrong with an ownership code of `county`'s parcels, empty when
// nothing: a code that is not digits, of another county or of a length no
// level has gives level rows outside the county or without names.
std::string MgOwnerCodeProblem(const std::string& code, const std::string& county);

// The text columns a row may write, besides the hierarchy.
enum MgText {
  kSource,
  kParcelNumber,
  kLocationCode,
  kLocationName,
  kOwnerCode,
  kOwnerName,
  kOwnership,
  kTownLand,
  kCultivationType,
  kRemark,
  kSlope,
  kMgTexts
};
constexpr const char* kMgTextNames[kMgTexts] = {
    "来源",         "图斑编号",           "座落单位代码",
    "座落单位名称", "内蒙古权属单位代码", "内蒙古权属单位名称",
    "权属性质",     "城镇用地",           "耕地类型",
    "地类备注",     "耕地坡度级"};

// Where the rules of the two fills of the base table part ways; in all
// else they agree, and share their code.
struct MgFillRules {
  // An empty ownership code of a parcel or a linear side leaves its piece
  // out, counted in the layer's notice; otherwise it is logged as an
  // unsound code. (A scattered feature needs its code in either fill.)
  bool owner_code_required;
  // A scattered feature without 座落单位名称 is logged and left out.
  bool scattered_location_name_required;
  // A linear side's 座落单位名称 is its ownership name (empty otherwise).
  bool line_location_named_by_owner;
  // 耕地坡度级 as written (on scattered features of cultivated land only);
  // otherwise its leading whole number, and "1" on a deduction of
  // cultivated land.
  bool slope_as_written;
  // A row whose class has no column is stored with its area in the total
  // only (logged either way); otherwise it is left out.
  bool keep_unclassed;
};
// The row-by-row fill's rules, and those of the temporary fill.
inline constexpr MgFillRules kMgRowByRowRules{true, true, false, false, false};
inline constexpr MgFillRules kMgStagedRules{false, false, true, true, true};

// One row on its way into the table: its texts (an unset one keeps the
// column's default), its class and its area.
struct MgRow {
  std::string texts[kMgTexts];
  std::string class_code;
  double area = 0;
};

// Writes rows with the column numbers worked out once. A row whose class
// column the table lacks raises, so it is logged and not stored (with
// `keep_unclassed`, it is logged and stored with its area in the total
// only); a parent prefix that is no column (class 0101 has BM01 and no
// BM010) receives nothing, and the row is stored all the same. Every row
// stored feeds the context's base groupings, which start anew with the
// writer. The rows are stored, and summed into the groupings, on threads of
// their own (db::RowPipe) while the layers are read: the connection is lent
// to them until Close.
class MgRowWriter {
 public:
  // Writes every column of `table`.
  MgRowWriter(CMgStatContext& context, const std::string& table, bool keep_unclassed = false)
      : MgRowWriter(context, table, ColumnsOf(context, table), keep_unclassed) {}
  // Writes the columns `names` of `table` (the fixed columns first); a
  // column of the table not named gets nothing from the rows.
  MgRowWriter(CMgStatContext& context, const std::string& table, std::vector<std::string> names,
              bool keep_unclassed)
      : context_(context), keep_unclassed_(keep_unclassed) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      column_of_.emplace(text::ToLowerAscii(names[i]), static_cast<int>(i));
      blanks_.push_back(i < kMgTextColumns ? db::Value(std::string()) : db::Value(0.0));
    }
    for (int i = 0; i < kMgTexts; ++i) text_columns_[i] = ColumnOf(kMgTextNames[i]);
    for (std::size_t i = 0; i < std::size(kMgLevels); ++i) {
      level_columns_[i] = {ColumnOf(kMgLevels[i].code), ColumnOf(kMgLevels[i].name)};
    }
    total_ = ColumnOf("土地总面积");
    for (const std::string& figure : context.FigureColumns()) {
      if (const int place = ColumnOf(figure); place != total_) class_places_.push_back(place);
    }
    context.BaseGroups().Begin(context.Texts(), names, context.FigureColumns());
    // The groupings read each row on a thread of the pipe's.
    pipe_.emplace(
        context.m_pConn, table, std::move(names),
        [&groups = context.BaseGroups()](const std::vector<db::Value>& row) { groups.Add(row); });
    context.LendConnection(true);
  }
  ~MgRowWriter() {
    pipe_.reset();
    context_.LendConnection(false);
  }
  MgRowWriter(const MgRowWriter&) = delete;
  MgRowWriter& operator=(const MgRowWriter&) = delete;

  // Stores a row; one the table refuses is logged under `title()` and
  // `message`. False when it was not stored. A failure to store the rows
  // raises: the fill fails.
  template <typename Title>
  bool Write(const MgRow& row, const Title& title, const char* message) {
    if (!Made(row, title, message)) return false;
    pipe_->Add();
    return true;
  }

  void Close() {
    pipe_->Close();
    context_.LendConnection(false);
  }

 private:
  // Makes the row in the pipe's next buffer; a refusal of the table is
  // logged. Every text, level and the total are set for each row (an unset
  // text is the columns' blank, ''); the class columns are cleared of what
  // a row before left.
  template <typename Title>
  bool Made(const MgRow& row, const Title& title, const char* message) {
    try {
      std::vector<db::Value>& values = pipe_->Row();
      if (values.size() != blanks_.size()) values = blanks_;
      for (int column : class_places_) values[column] = 0.0;
      for (int i = 0; i < kMgTexts; ++i) values[text_columns_[i]].AssignText(row.texts[i]);
      const std::array<std::string, 2 * std::size(kMgLevels)>& levels =
          Levels(row.texts[kOwnerCode]);
      for (std::size_t i = 0; i < std::size(kMgLevels); ++i) {
        values[level_columns_[i].first].AssignText(levels[2 * i]);
        values[level_columns_[i].second].AssignText(levels[2 * i + 1]);
      }
      const std::vector<int>& classes = ClassColumns(row.class_code, title);
      for (int column : classes) values[column] = row.area;
      values[total_] = row.area;
      pipe_->Check();
      return true;
    } catch (const db::DbError& error) {
      context_.LogFailure(title(), message, error);
      return false;
    }
  }

  static std::vector<std::string> ColumnsOf(CMgStatContext& context, const std::string& table) {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table))
      names.push_back(column.name);
    return names;
  }

  int ColumnOf(const std::string& name) const {
    const auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) throw db::DbError("内蒙古基础汇总表没有列 " + name);
    return found->second;
  }

  // The codes and names of the levels of an ownership code, by level: its
  // prefixes of the level's length and their names. Worked out once a code.
  const std::array<std::string, 2 * std::size(kMgLevels)>& Levels(const std::string& owner) {
    auto [found, added] = levels_.try_emplace(owner);
    if (added) {
      for (std::size_t i = 0; i < std::size(kMgLevels); ++i) {
        found->second[2 * i] = owner.substr(0, kMgLevels[i].length);
        found->second[2 * i + 1] = context_.GetCodeName(found->second[2 * i]);
      }
    }
    return found->second;
  }

  // The class column and the parents that are columns, longest first,
  // down to "BM" and two characters; none for a code shorter than two.
  template <typename Title>
  const std::vector<int>& ClassColumns(const std::string& code, const Title& title) {
    const auto found = class_columns_.find(code);
    if (found != class_columns_.end()) {
      if (keep_unclassed_ && found->second.empty() && code.size() >= 2) Unclassed(code, title());
      return found->second;
    }
    std::vector<int> columns;
    if (code.size() >= 2) {
      const std::string name = "BM" + code;
      if (!keep_unclassed_) {
        columns.push_back(ColumnOf(name));
      } else if (const auto own = column_of_.find(text::ToLowerAscii(name));
                 own != column_of_.end()) {
        columns.push_back(own->second);
      } else {
        Unclassed(code, title());
      }
      for (std::size_t length = name.size() - 1; length >= 4; --length) {
        const auto parent = column_of_.find(text::ToLowerAscii(name.substr(0, length)));
        if (parent != column_of_.end()) columns.push_back(parent->second);
      }
    }
    return class_columns_.emplace(code, std::move(columns)).first->second;
  }

  // A class without a column of its own: its rows stand in the total only,
  // which their classes no longer add up to, so each is logged.
  void Unclassed(const std::string& code, const std::string& title) {
    context_.LogFailure(title, "地类编码 " + code + " 不在代码表中, 面积只计入土地总面积");
  }

  CMgStatContext& context_;
  const bool keep_unclassed_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_;
  std::vector<int> class_places_;  // the class columns' places in the row
  int text_columns_[kMgTexts];
  std::pair<int, int> level_columns_[std::size(kMgLevels)];
  int total_ = 0;
  std::optional<db::RowPipe> pipe_;
  std::unordered_map<std::string, std::vector<int>> class_columns_;
  std::unordered_map<std::string, std::array<std::string, 2 * std::size(kMgLevels)>> levels_;
};

// The leading whole number of a text, as its digits ("2级" gives "2", an
// empty text "0").
inline std::string WholeNumberText(const std::string& text) {
  return std::to_string(std::strtol(text.c_str(), nullptr, 10));
}

// "图元号 %d 地类码 %s <label> %s", the title a failed row is logged under.
inline std::string RowTitle(long number, const std::string& class_code, const char* label,
                            const std::string& location, bool trailing_blank) {
  return "图元号 " + std::to_string(number) + " 地类码 BM" + class_code + " " + label + " " +
         location + (trailing_blank ? " " : "");
}

// One pass over a layer: the walk, bounded by the layer's record count,
// with the progress per record; the values read through the layer checks
// (an area that is no number, negative, not finite or implausible is
// logged and its row left out), and a count of the entities left out for
// an empty required field, told once per layer.
class MgPass {
 public:
  MgPass(CMgStatContext& context, MgRowWriter& writer, gis::LayerHandle layer,
         std::initializer_list<const char*> watched)
      : context_(context), writer_(writer), layer_(layer), checks_(context, layer) {
    for (const char* field : watched) {
      if (gis::HasField(layer, field)) checks_.WatchNumbers(field);
    }
  }

  template <typename Book>
  void Walk(gis::EntityKind kind, const char* progress, const Book& book) {
    const long count = gis::RecordCount(layer_, kind);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(progress, number, count);
      if (host::JobCancelled()) context_.EndIfStopped(progress);
      if (!gis::ReadRecord(layer_, kind, number, record, gis::RecordParts::kFields)) continue;
      book(record);
    }
    if (skipped_ > 0) {
      context_.LogNotice("图层 " + checks_.Name(),
                         std::to_string(skipped_) + " 个图元的必填字段为空, 未汇总");
    }
  }

  void Skip() { ++skipped_; }
  // Logs a failure of `field` of the record, whose piece is left out.
  void Fail(const gis::Record& record, const std::string& field, const std::string& message) {
    checks_.Fail(record, field, message);
  }
  // Whether the ownership code `code` of `field` is sound (MgOwnerCodeProblem);
  // one that is not is logged with its layer, record, field and value, and
  // its piece is left out.
  bool SoundOwner(const gis::Record& record, const std::string& field, const std::string& code) {
    const std::string problem = MgOwnerCodeProblem(code, context_.m_strPrefix2);
    if (problem.empty()) return true;
    Fail(record, field, "'" + code + "' " + problem + ", 图元未计入");
    return false;
  }
  // The area rounded to 1 decimal; an empty text counts 0.
  std::optional<double> Area(const gis::Record& record, const char* field) {
    const std::optional<double> area = checks_.Area(record, field, -1, false);
    if (!area) return std::nullopt;
    return RoundToDecimals(*area, 1);
  }
  std::string Stored(const gis::Record& record, const char* field) const {
    return checks_.StoredText(record, field);
  }
  MgRowWriter& Writer() { return writer_; }

 private:
  CMgStatContext& context_;
  MgRowWriter& writer_;
  gis::LayerHandle layer_;
  LayerChecks checks_;
  long skipped_ = 0;
};

inline std::string TownLand(const gis::Record& record) {
  std::string value = record.Text("城镇用地");
  return value.empty() ? "0" : value;
}

// The rows of the linear-feature, scattered-feature and parcel layers of
// the context, in that order, written through `writer` by `rules`.
void BookLayers(CMgStatContext& context, MgRowWriter& writer, const MgFillRules& rules);

}  // namespace landstat::mg
