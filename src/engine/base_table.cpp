// The base table "statdata": one row per piece of land that the survey's
// linear-feature, scattered-feature and parcel layers describe.

#include <algorithm>
#include <iterator>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "engine/base_rows.h"
#include "engine/field_needs.h"
#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {
namespace {

// One piece of land on its way into the base table.
using Piece = BasePiece;

}  // namespace

// Columns typed by name: "城镇用地" a whole number, "耕地坡度级",
// "土地总面积" and the class columns numbers, everything else text.
std::string StatColumnDefinition(const std::string& name) {
  if (name == "城镇用地") return name + " int default 0";
  if (name == "耕地坡度级" || name == "土地总面积" || name.rfind("BM", 0) == 0) {
    return name + " double default 0.00";
  }
  return name + " varchar(60)";
}

short CStatContext::CreateStatDataTable() {
  return CreateTable(m_strStatTbl, {"备注", "新增建设用地类型"}, m_arrStatFields, "建立基础汇总表",
                     "建立基础汇总表失败");
}

namespace {

// The columns a piece fills (besides the level and class columns).
enum PieceColumn {
  kNumber,
  kSource,
  kParcelNumber,
  kLocationCode,
  kLocationName,
  kOwnerCode,
  kOwnerName,
  kOwnership,
  kCultivationType,
  kRemark,
  kApproval,
  kNewConstruction,
  kNote,
  kSlope,
  kTotal,
  kPieceColumns
};
constexpr const char* kPieceColumnNames[kPieceColumns] = {
    "序号",         "来源",       "图斑编号",  "座落单位代码", "座落单位名称", "权属单位代码",
    "权属单位名称", "权属性质",   "耕地类型",  "地类备注",     "批准文号",     "新增建设用地类型",
    "备注",         "耕地坡度级", "土地总面积"};

// Rows go to the writers in turns of this many, the first turn to the run's
// own connection.
constexpr long kRowsPerTurn = 16384;

// Writes pieces as rows of one column list (the columns a piece may fill),
// with the column numbers worked out once, and logs the pieces it cannot
// store. A column a piece leaves unset gets the table's default.
class PieceWriter {
 public:
  // `beside`, when given, is a second connection to the same database, in a
  // transaction of its own, that takes every other turn of rows.
  PieceWriter(CStatContext& context, const std::string& table, db::Connection* beside)
      : context_(context),
        columns_(WrittenColumns(context.m_pConn.Columns(table))),
        levels_(context) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      column_of_.emplace(text::ToLowerAscii(columns_[i].name), static_cast<int>(i));
      blanks_.push_back(BlankValue(columns_[i], table));
    }
    for (int i = 0; i < kPieceColumns; ++i) piece_columns_[i] = ColumnOf(kPieceColumnNames[i]);
    for (std::size_t i = 0; i < std::size(kLevelColumns); ++i) {
      level_columns_[i] = ColumnOf(kLevelColumns[i]);
    }
    if (column_of_.count(text::ToLowerAscii("描述说明"))) description_ = ColumnOf("描述说明");
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : columns_) names.push_back(column.name);
    if (beside) beside_.emplace(*beside, table, names);
    writer_.emplace(context.m_pConn, table, std::move(names));
    row_ = blanks_;
    // A class is a leaf when no other class extends its code (01 has 011).
    const std::vector<std::string>& codes = context.m_arrClassCodes;
    for (const std::string& code : codes) {
      const bool parent = std::any_of(codes.begin(), codes.end(), [&](const std::string& other) {
        return other.size() > code.size() && other.compare(0, code.size(), code) == 0;
      });
      (parent ? parent_classes_ : leaf_classes_).insert(code);
    }
  }

  // Why a piece of this class cannot be stored; empty when it can. Only a
  // leaf class is stored: a parent class would stand beside its own
  // children, and the classes of a row would no longer add up to its total.
  std::string ClassProblem(const std::string& code) const {
    if (leaf_classes_.count(code)) return {};
    if (parent_classes_.count(code)) return "地类编码 " + code + " 不是末级地类, 图元未计入";
    return "地类编码 " + code + " 不在代码表中, 图元未计入";
  }

  // The level (village, township, county, city, province) of a location
  // code whose code the code table does not name; empty when all are named.
  std::string UnnamedLevel(const std::string& code) {
    const std::vector<db::Value>& levels = levels_.Levels(code);
    for (std::size_t i = 0; i < levels.size(); i += 2) {
      if (levels[i + 1].AsText().empty()) return levels[i].AsText();
    }
    return {};
  }

  // Stores a piece; a piece the table refuses is logged under the title
  // `title()` gives (made only then).
  template <typename Title>
  void Write(const Piece& piece, const Title& title, const char* message) {
    try {
      // Rows are numbered, so every copy of the table can be matched row by row.
      Set(kNumber, std::to_string(written_ + 1));
      Set(kSource, piece.source);
      Set(kParcelNumber, piece.parcel_number);
      Set(kLocationCode, piece.location_code);
      Set(kLocationName, piece.location_name);
      Set(kOwnerCode, piece.owner_code);
      Set(kOwnerName, piece.owner_name);
      Set(kOwnership, piece.ownership);
      SetIfAny(piece_columns_[kCultivationType], piece.cultivation_type);
      SetIfAny(piece_columns_[kRemark], piece.remark);
      SetIfAny(piece_columns_[kApproval], piece.approval);
      SetIfAny(piece_columns_[kNewConstruction], piece.new_construction);
      SetIfAny(piece_columns_[kNote], piece.note);
      if (description_ >= 0) SetIfAny(description_, piece.description);
      if (piece.slope) row_[piece_columns_[kSlope]] = static_cast<double>(*piece.slope);
      const std::vector<db::Value>& levels = levels_.Levels(piece.location_code);
      for (std::size_t i = 0; i < levels.size(); ++i) row_[level_columns_[i]] = levels[i];
      for (int column : ClassColumns(piece.class_code)) row_[column] = piece.area;
      row_[piece_columns_[kTotal]] = piece.area;
      const bool aside = beside_ && (written_ / kRowsPerTurn) % 2 == 1;
      (aside ? *beside_ : *writer_).Add(row_, written_ + 1);
      ++written_;
    } catch (const db::DbError& error) {
      context_.LogFailure(title(), message, error);
    }
    Clear(piece.class_code);
  }

  // Declares the rows written done, on both connections.
  void Close() {
    writer_->Close();
    if (beside_) beside_->Close();
  }

 private:
  // The columns of the table a piece may fill, in the table's order.
  static std::vector<db::ColumnInfo> WrittenColumns(std::vector<db::ColumnInfo> columns) {
    std::unordered_set<std::string> filled = {text::ToLowerAscii("描述说明")};
    for (const char* name : kPieceColumnNames) filled.insert(text::ToLowerAscii(name));
    for (const char* name : kLevelColumns) filled.insert(text::ToLowerAscii(name));
    std::erase_if(columns, [&](const db::ColumnInfo& column) {
      const std::string name = text::ToLowerAscii(column.name);
      return !filled.count(name) && name.rfind("bm", 0) != 0;
    });
    return columns;
  }

  int ColumnOf(std::string_view name) const {
    auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end())
      throw db::DbError("the base table has no column " + std::string(name));
    return found->second;
  }

  void Set(PieceColumn column, const std::string& value) { row_[piece_columns_[column]] = value; }
  void SetIfAny(int column, const std::string& value) {
    if (!value.empty()) row_[column] = value;
  }

  // Sets back what a piece of this class set and the next piece may leave
  // unset: the optional texts, the slope and the class columns.
  void Clear(const std::string& class_code) {
    for (PieceColumn column :
         {kCultivationType, kRemark, kApproval, kNewConstruction, kNote, kSlope}) {
      row_[piece_columns_[column]] = blanks_[piece_columns_[column]];
    }
    if (description_ >= 0) row_[description_] = blanks_[description_];
    if (auto found = class_columns_.find(class_code); found != class_columns_.end()) {
      for (int column : found->second) row_[column] = blanks_[column];
    }
  }

  // The class column of a code and its parent columns, longest first, down
  // to "BM" and two characters (011: BM011 and BM01). A code that has no
  // class column (also an empty or one-character one) raises, so the piece
  // is logged and not stored: the classes of the table always add up to its
  // totals.
  const std::vector<int>& ClassColumns(const std::string& code) {
    auto found = class_columns_.find(code);
    if (found != class_columns_.end()) return found->second;
    if (code.size() < 2) throw db::DbError("the class code '" + code + "' has no class column");
    std::vector<int> columns;
    for (const std::string& name : ClassColumnNames(code)) columns.push_back(ColumnOf(name));
    return class_columns_.emplace(code, std::move(columns)).first->second;
  }

  CStatContext& context_;
  const std::vector<db::ColumnInfo> columns_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_;
  std::vector<db::Value> row_;  // the row being written, blank between pieces
  std::optional<db::RowWriter> writer_;
  std::optional<db::RowWriter> beside_;
  int piece_columns_[kPieceColumns];
  int level_columns_[std::size(kLevelColumns)];
  int description_ = -1;
  LevelLookup levels_;
  std::unordered_map<std::string, std::vector<int>> class_columns_;
  std::unordered_set<std::string> leaf_classes_, parent_classes_;
  long written_ = 0;
};

class LayerPass;

// In a use's list of needed fields, the layer's class field, whose name the
// settings give.
constexpr const char* kClassField = "";

// What one pass over a layer is used for: the layer it walks, the fields it
// cannot do without, the fields only some tables need (`walk`), the numeric
// fields whose stored texts it watches (the areas, the ratio of a linear
// feature), and the step that books each record into the base table.
struct LayerUse {
  gis::LayerHandle CStatContext::*layer;
  gis::EntityKind kind;
  const char* progress;
  int class_field;  // which of the settings' class fields the layer carries
  std::span<const char* const> needed;
  SurveyWalk walk;
  std::span<const char* const> watched;
  void (*book)(LayerPass& pass, const gis::Record& record);
};

// One pass over a layer for the fill: checks the fields the use cannot do
// without, walks the records and hands each to the use's booking step. Its
// readers check the attributes where they enter: every value refused is
// logged with layer, record, field and value.
class LayerPass {
 public:
  LayerPass(CStatContext& context, PieceWriter& writer, const LayerUse& use)
      : context_(context),
        writer_(writer),
        use_(use),
        layer_(context.*use.layer),
        progress_(use.progress),
        class_field_(context.m_strClassFld[use.class_field]),
        checks_(context, layer_) {}

  // Books every record of the layer, bounded by its record count. False
  // (and a logged failure naming the layer and the field) when the layer
  // lacks a field the use needs: then nothing is booked. A field only some
  // tables need leaves those out (logged) and the pass goes on.
  bool Run() {
    if (!HasNeededFields()) return false;
    context_.LeaveOutTablesWithout(checks_, FieldNeedsOf(use_.walk));
    if (use_.walk == SurveyWalk::kParcels && context_.m_bHasMssm) {
      context_.LeaveOutTablesWithout(checks_, FieldNeedsOf(SurveyWalk::kIslandColumn));
    }
    for (const char* field : use_.watched) checks_.WatchNumbers(field);
    const long count = gis::RecordCount(layer_, use_.kind);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(progress_, number, count);
      // The operator's cancel is heard within the walk, the run's longest
      // stage.
      if (host::JobCancelled()) context_.EndIfStopped(progress_);
      if (!gis::ReadRecord(layer_, use_.kind, number, record, gis::RecordParts::kFields)) continue;
      use_.book(*this, record);
    }
    return true;
  }

  CStatContext& Context() const { return context_; }
  PieceWriter& Writer() const { return writer_; }
  const std::string& ClassField() const { return class_field_; }

  // True the first time the pass meets `key`: for what is logged once per
  // layer rather than once per record.
  bool FirstTime(const std::string& key) { return met_.insert(key).second; }

  void Log(const gis::Record& record, const std::string& field, const std::string& message) {
    checks_.Fail(record, field, message);
  }

  // An area field as a number; nothing (logged) when it cannot be counted.
  std::optional<double> Area(const gis::Record& record, const char* field) {
    return checks_.Area(record, field);
  }

  // A field's text as the source stores it.
  std::string StoredText(const gis::Record& record, const char* field) const {
    return checks_.StoredText(record, field);
  }

  // Whether a linear feature is halved (its ratio logged when it is
  // neither a half nor 1).
  bool HalvedLine(const gis::Record& record, const char* field) {
    return checks_.HalvedLine(record, field);
  }

  // A code field's text; an empty one is logged and gives nothing.
  std::optional<std::string> Code(const gis::Record& record, const std::string& field) {
    return checks_.Code(record, field);
  }

  // A slope grade; 0 (logged when not empty) when it is no grade.
  int SlopeGrade(const gis::Record& record, const char* field) {
    return checks_.SlopeGrade(record, field);
  }

  // Whether a piece of this class can be stored; logged when not.
  bool Classed(const gis::Record& record, const std::string& field, const std::string& code) {
    const std::string problem = writer_.ClassProblem(code);
    if (!problem.empty()) Log(record, field, problem);
    return problem.empty();
  }

  // A location code some of whose levels the code table does not name is
  // logged; its pieces are still counted, under the code they carry.
  void CheckLocation(const gis::Record& record, const std::string& field, const std::string& code) {
    const std::string level = writer_.UnnamedLevel(code);
    if (level.empty()) return;
    Log(record, field, "座落单位代码 " + code + " 的单位 " + level + " 不在代码表中");
  }

 private:
  // False (and a logged failure naming the layer and the field) when the
  // layer lacks one of the fields the use needs.
  bool HasNeededFields() {
    std::vector<std::string> fields;
    for (const char* needed : use_.needed)
      fields.push_back(*needed == '\0' ? class_field_ : needed);
    return checks_.HasFields(fields, "汇总基础数据失败");
  }

  CStatContext& context_;
  PieceWriter& writer_;
  const LayerUse& use_;
  const gis::LayerHandle layer_;
  const std::string progress_;  // made once, not per record
  const std::string class_field_;
  LayerChecks checks_;
  std::unordered_set<std::string> met_;
};

std::string RowTitle(long number, const std::string& class_code, const char* location_label,
                     const std::string& location) {
  return "图元号 " + std::to_string(number) + " 地类码 BM" + class_code + " " + location_label +
         " " + location;
}

// One side's share of a linear feature: a row of the parcel on that side.
void WriteLineShare(LayerPass& pass, const gis::Record& line, Piece& piece, int side, double area) {
  piece.class_code = line.Text(pass.ClassField());
  const std::string location_field = "扣除图斑座落代码" + std::to_string(side);
  pass.CheckLocation(line, location_field, piece.location_code);
  piece.area = area;
  pass.Writer().Write(
      piece,
      [&] {
        return RowTitle(line.Number(), piece.class_code, location_field.c_str(),
                        piece.location_code);
      },
      "添加线状地物数据失败");
}

// In a repaired range, the side of a line of one half that alone names its
// parcel: the parcel on the other side lies outside the range, and the
// repair emptied that side's number and deducted only this side's half.
// 0 for any other line, and outside a repaired range.
int InsideOnlySide(LayerPass& pass, const gis::Record& line) {
  if (!pass.Context().m_bRepairedRange) return 0;
  const std::string ratio = pass.StoredText(line, "扣除比例");
  if (ratio.empty() || text::TextToNumber(ratio) != 0.5) return 0;
  const bool first = !line.Text("扣除图斑编号1").empty();
  const bool second = !line.Text("扣除图斑编号2").empty();
  return first == second ? 0 : first ? 1 : 2;
}

// A linear feature is booked to the parcels it was deducted from. A ratio
// of one half shares it between the parcels on its two sides; any other
// ratio books it whole to side 1, and only 1 is expected. A repaired range
// books what its layers hold: only the half of a side inside it.
void BookLine(LayerPass& pass, const gis::Record& line) {
  const std::optional<double> area = pass.Area(line, "线状地物面积");
  const bool classed = pass.Classed(line, pass.ClassField(), line.Text(pass.ClassField()));
  const short decimals = pass.Context().m_nDecSrc;
  if (const int inside = InsideOnlySide(pass, line); inside > 0) {
    LineSide side = ReadLineSide(pass.Context(), line, inside);
    if (!side.empty_field.empty()) {
      pass.Log(line, side.empty_field, "代码为空, 线状地物未计入");
    } else if (area && classed) {
      WriteLineShare(pass, line, side.piece, inside,
                     xcDotOut(*area, static_cast<short>(inside - 1), decimals));
    }
    return;
  }
  LineSide sides[2] = {ReadLineSide(pass.Context(), line, 1), {}};
  if (!sides[0].empty_field.empty()) {
    pass.Log(line, sides[0].empty_field, "代码为空, 线状地物未计入");
    return;
  }
  if (!area || !classed) return;
  bool halves = pass.HalvedLine(line, "扣除比例");
  if (halves) {
    sides[1] = ReadLineSide(pass.Context(), line, 2);
    if (!sides[1].empty_field.empty()) {
      pass.Log(line, sides[1].empty_field, "扣除比例为 0.5 而此字段为空, 整条计入扣除图斑1");
      halves = false;
    }
  }
  for (int side = 1; side <= (halves ? 2 : 1); ++side) {
    WriteLineShare(pass, line, sides[side - 1].piece, side,
                   halves ? xcDotOut(*area, static_cast<short>(side - 1), decimals) : *area);
  }
}

// A scattered feature is booked to the parcel it lies in, under its own
// location and owner.
void BookScattered(LayerPass& pass, const gis::Record& point) {
  const std::optional<std::string> location = pass.Code(point, "座落单位代码");
  const std::optional<std::string> owner = pass.Code(point, "权属单位代码");
  const std::optional<double> area = pass.Area(point, "零星地物面积");
  Piece piece;
  piece.class_code = point.Text(pass.ClassField());
  const bool classed = pass.Classed(point, pass.ClassField(), piece.class_code);
  if (!location || !owner || !area || !classed) return;
  pass.CheckLocation(point, "座落单位代码", *location);
  piece.source = "零星地物";
  piece.location_code = *location;
  piece.owner_code = *owner;
  piece.parcel_number = point.Text("座落图斑编号");
  piece.location_name = pass.Context().GetCodeName(piece.location_code);
  piece.owner_name = point.Text("权属单位名称");
  piece.ownership = point.Text("权属性质");
  piece.area = *area;
  pass.Writer().Write(
      piece,
      [&] {
        return RowTitle(point.Number(), piece.class_code, "座落单位代码", piece.location_code);
      },
      "添加零星地物数据失败");
}

// A parcel gives its own row and, when it carries a deducted class, a
// deduction row before it.
void BookParcel(LayerPass& pass, const gis::Record& parcel) {
  const std::optional<std::string> location = pass.Code(parcel, "座落单位代码");
  const std::optional<std::string> owner = pass.Code(parcel, "权属单位代码");
  if (!location || !owner) return;
  pass.CheckLocation(parcel, "座落单位代码", *location);
  Piece piece;
  piece.location_code = *location;
  piece.owner_code = *owner;
  piece.parcel_number = parcel.Text("图斑编号");
  // One name for each location code, so that the tables by location have
  // one row per unit: the code table's name where it has one. A differing
  // name of the layer is logged once.
  piece.location_name = parcel.Text("座落单位名称");
  if (std::string named = pass.Context().GetCodeName(*location); !named.empty()) {
    if (!piece.location_name.empty() && piece.location_name != named &&
        pass.FirstTime(*location + '\t' + piece.location_name)) {
      pass.Log(parcel, "座落单位名称",
               "座落单位名称 '" + piece.location_name + "' 与代码表中 " + *location + " 的名称 '" +
                   named + "' 不同, 采用代码表的名称");
    }
    piece.location_name = std::move(named);
  }
  piece.owner_name = parcel.Text("权属单位名称");
  piece.ownership = parcel.Text("权属性质");
  if (const int grade = pass.SlopeGrade(parcel, "耕地坡度级"); grade > 0) piece.slope = grade;
  // The deduction row belongs to the same parcel: it carries the parcel's
  // description with its codes, nature and slope.
  piece.description = parcel.Text("描述说明");
  const std::string deducted = parcel.Text("扣除地类编码");
  if (!deducted.empty()) {
    const std::optional<double> area = pass.Area(parcel, "扣除地类面积");
    if (pass.Classed(parcel, "扣除地类编码", deducted) && area) {
      Piece deduction = piece;
      deduction.source = "地类图斑扣除";
      deduction.class_code = deducted;
      deduction.area = *area;
      pass.Writer().Write(
          deduction, [&] { return RowTitle(parcel.Number(), deducted, "座落单位代码", *location); },
          "添加地类图斑数据失败");
    }
  }
  const std::optional<double> area = pass.Area(parcel, "图斑地类面积");
  piece.class_code = parcel.Text(pass.ClassField());
  if (!pass.Classed(parcel, pass.ClassField(), piece.class_code) || !area) return;
  piece.source = "地类图斑";
  piece.cultivation_type = parcel.Text("耕地类型");
  piece.remark = parcel.Text("地类备注");
  piece.approval = parcel.Text("批准文号");
  piece.new_construction = parcel.Text("新增建设用地类型");
  piece.note = parcel.Text("备注");
  piece.area = *area;
  pass.Writer().Write(
      piece, [&] { return RowTitle(parcel.Number(), piece.class_code, "座落单位代码", *location); },
      "添加地类图斑数据失败");
}

constexpr const char* kLineNeeds[] = {"扣除比例",      "线状地物面积",      kClassField,
                                      "扣除图斑编号1", "扣除图斑座落代码1", "权属单位代码1"};
constexpr const char* kLineWatched[] = {"线状地物面积", "扣除比例"};
constexpr const char* kScatteredNeeds[] = {kClassField, "座落单位代码", "零星地物面积",
                                           "权属单位代码"};
constexpr const char* kScatteredWatched[] = {"零星地物面积"};
// A parcel's deduction is booked to its own class: without the deduction
// fields every table would miss that land.
constexpr const char* kParcelNeeds[] = {"图斑编号",     kClassField,    "图斑地类面积",
                                        "座落单位代码", "权属单位代码", "扣除地类编码",
                                        "扣除地类面积"};
constexpr const char* kParcelWatched[] = {"图斑地类面积", "扣除地类面积"};

// The layers of the fill in the order their rows enter the base table.
const LayerUse kLayerUses[] = {
    {.layer = &CStatContext::m_aiLine,
     .kind = gis::EntityKind::kLine,
     .progress = "正在汇总线状地物",
     .class_field = 0,
     .needed = kLineNeeds,
     .walk = SurveyWalk::kLines,
     .watched = kLineWatched,
     .book = BookLine},
    {.layer = &CStatContext::m_aiPoint,
     .kind = gis::EntityKind::kPoint,
     .progress = "正在汇总零星地物",
     .class_field = 1,
     .needed = kScatteredNeeds,
     .walk = SurveyWalk::kPoints,
     .watched = kScatteredWatched,
     .book = BookScattered},
    {.layer = &CStatContext::m_aiParcel,
     .kind = gis::EntityKind::kRegion,
     .progress = "正在汇总地类图斑",
     .class_field = 2,
     .needed = kParcelNeeds,
     .walk = SurveyWalk::kParcels,
     .watched = kParcelWatched,
     .book = BookParcel},
};

}  // namespace

short CStatContext::BuildStatDataDirect(db::Connection* beside) {
  std::optional<PieceWriter> writer;
  try {
    writer.emplace(*this, m_strStatTbl, beside);
  } catch (const db::DbError& error) {
    LogFailure("连接基础汇总表", "连接基础汇总表失败", error);
    return 0;
  }
  std::vector<host::JobStages::Stage> walks;
  const std::vector<const LayerUse*> uses =
      WalkedLayers(*this, std::span<const LayerUse>(kLayerUses), walks);
  host::JobStages stages("正在建立基础汇总表", walks);
  short result = 1;
  for (const LayerUse* use : uses) {
    if (!LayerPass(*this, *writer, *use).Run()) {
      result = 0;
      break;
    }
    stages.Done(use->progress);
  }
  // The rows written are kept also when a layer stopped the fill: the
  // stage has failed, and its table shows how far it came.
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    LogFailure("保存基础汇总表", "保存基础汇总表失败", error);
    return 0;
  }
  return result;
}

}  // namespace landstat
