// The Guangdong farmland base table statdata_jbntGD, filled from the three
// farmland layers in three passes: the linear features, each split between
// the farmland parcels on its two sides or booked whole to its first side;
// the scattered features, each booked to the parcel that holds it; the
// parcels, each with its deducted class first. Then the stage that makes
// the table's unit copies, converts and balances them.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/base_rows.h"
#include "engine/field_needs.h"
#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {
namespace {

constexpr char kLineTitle[] = "汇总基本农田线状地物";
constexpr char kPointTitle[] = "汇总基本农田零星地物";
constexpr char kParcelTitle[] = "汇总基本农田地类图斑";
// The protection block is the first 16 characters of the farmland number.
constexpr std::size_t kBlockLength = 16;
// Linear features and parcels are booked on two decimals, scattered
// features as read.
constexpr short kAreaDecimals = 2;

// One row of the base table, as the passes make it. Texts are written when
// not empty (an empty one keeps the column's default).
struct Piece {
  const char* source = "";  // 来源
  std::string number;       // 基本农田图斑编号
  std::string class_code;   // 地类编码
  std::string parcel;       // 图斑编号
  std::string ownership, owner_code, owner_name, location_code, location_name;
  std::string supplement, transfer, remark;  // 是否补划, 调入备注, 地类备注
  std::string cultivation;                   // 耕地类型
  int slope = 0;                             // 耕地坡度级; 0: none
  std::string booked_code;                   // the class the area is booked to
  double area = 0;
};

// Writes rows of the base table through one row writer. Every row starts
// blank: after Write, stored or refused, no column keeps a value of it.
class GdRows {
 public:
  GdRows(CStatContext& context, const std::string& table) : table_(table), levels_(context) {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      column_of_.emplace(text::ToLowerAscii(column.name), names.size());
      names.push_back(column.name);
      blanks_.push_back(BlankValue(column, table));
    }
    writer_.emplace(context.m_pConn, table, std::move(names));
    row_ = blanks_;
  }

  // The class column of `code` and its parents; nothing when the table
  // lacks one of them.
  const std::optional<std::vector<std::size_t>>& ClassColumns(const std::string& code) {
    auto found = classes_.find(code);
    if (found != classes_.end()) return found->second;
    std::optional<std::vector<std::size_t>> columns(std::in_place);
    for (const std::string& name : ClassColumnNames(code)) {
      auto column = column_of_.find(text::ToLowerAscii(name));
      if (column == column_of_.end()) {
        columns.reset();
        break;
      }
      columns->push_back(column->second);
    }
    if (columns && columns->empty()) columns.reset();
    return classes_.emplace(code, std::move(columns)).first->second;
  }

  // Stores the piece's row; raises DbError when the database refuses it.
  void Write(const Piece& piece, const std::vector<std::size_t>& classes) {
    const auto text = [&](const char* column, const std::string& value) {
      if (!value.empty()) row_[Column(column)] = value;
    };
    text("来源", piece.source);
    text("基本农田图斑编号", piece.number);
    text("保护片编号", piece.number.substr(0, kBlockLength));
    text("地类编码", piece.class_code);
    text("图斑编号", piece.parcel);
    text("权属性质", piece.ownership);
    text("权属单位代码", piece.owner_code);
    text("权属单位名称", piece.owner_name);
    text("座落单位代码", piece.location_code);
    text("座落单位名称", piece.location_name);
    text("是否补划", piece.supplement);
    text("调入备注", piece.transfer);
    text("地类备注", piece.remark);
    text("耕地类型", piece.cultivation);
    if (piece.slope > 0) row_[Column("耕地坡度级")] = static_cast<double>(piece.slope);
    const std::vector<db::Value>& levels = levels_.Levels(piece.location_code);
    for (std::size_t i = 0; i < levels.size(); ++i) row_[Column(kLevelColumns[i])] = levels[i];
    for (std::size_t column : classes) row_[column] = piece.area;
    row_[Column("土地总面积")] = piece.area;
    struct Blanking {
      GdRows& rows;
      ~Blanking() { rows.row_ = rows.blanks_; }
    } blanking{*this};
    writer_->Add(row_);
  }

  void Close() { writer_->Close(); }

 private:
  std::size_t Column(const char* name) const {
    auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) {
      throw db::DbError("table " + table_ + " has no column " + name);
    }
    return found->second;
  }

  const std::string table_;
  LevelLookup levels_;
  std::unordered_map<std::string, std::size_t> column_of_;  // lower-case name -> place
  std::vector<db::Value> blanks_;
  std::vector<db::Value> row_;
  std::optional<db::RowWriter> writer_;
  std::unordered_map<std::string, std::optional<std::vector<std::size_t>>> classes_;
};

// The marks a linear feature takes from the side parcel it names.
struct Marks {
  std::string supplement, transfer, remark;
};

// The records of a layer that the rules leave out without a failure, told
// in one notice with their area, so that the land they hold is visible.
class Unbooked {
 public:
  explicit Unbooked(const char* why) : why_(why) {}

  void Add(const gis::Record& record, const std::optional<double>& area) {
    records_.push_back(record.Number());
    if (area) area_ += *area;
  }

  void Notice(StatRunLog& log, const LayerChecks& checks) const {
    if (records_.empty()) return;
    std::string listed;
    for (std::size_t i = 0; i < records_.size() && i < kListed; ++i) {
      listed += (i ? ", " : "") + std::to_string(records_[i]);
    }
    if (records_.size() > kListed) listed += " ...";
    log.LogNotice("图层 " + checks.Name(), std::to_string(records_.size()) + " 条记录" + why_ +
                                               ", 未计入 (面积 " +
                                               text::DoubleToText(text::RoundDecimal(area_, 2)) +
                                               " 平方米): 记录 " + listed);
  }

 private:
  static constexpr std::size_t kListed = 100;  // record numbers named, the first ones
  const char* why_;
  std::vector<long> records_;
  double area_ = 0;
};

// The three passes over the farmland layers, writing through one GdRows.
class GdPasses {
 public:
  GdPasses(CStatContext& context, GdRows& rows) : context_(context), rows_(rows) {}

  void Lines(gis::LayerHandle layer) {
    if (!Present(layer, kLineTitle, "基本农田线状地物")) return;
    LayerChecks checks(context_, layer);
    if (!checks.HasFields({"线状地物面积", "地类编码", "扣除比例", "基本农田图斑编号1",
                           "扣除图斑编号1", "扣除图斑座落代码1"},
                          std::string(kLineTitle) + "失败")) {
      return;
    }
    context_.LeaveOutTablesWithout(checks, FieldNeedsOf(SurveyWalk::kGdLines));
    checks.WatchNumbers("线状地物面积");
    checks.WatchNumbers("扣除比例");
    Unbooked apart("不在任何基本农田图斑旁");
    checks.Walk(gis::EntityKind::kLine,
                [&](const gis::Record& line) { Line(checks, line, apart); });
    apart.Notice(context_, checks);
  }

  void Points(gis::LayerHandle layer) {
    if (!Present(layer, kPointTitle, "基本农田零星地物")) return;
    LayerChecks checks(context_, layer);
    if (!checks.HasFields({"零星地物面积", "地类编码", "基本农田图斑编号", "座落单位代码"},
                          std::string(kPointTitle) + "失败")) {
      return;
    }
    context_.LeaveOutTablesWithout(checks, FieldNeedsOf(SurveyWalk::kGdPoints));
    checks.WatchNumbers("零星地物面积");
    Unbooked outside("不在任何基本农田图斑内");
    checks.Walk(gis::EntityKind::kPoint,
                [&](const gis::Record& point) { Point(checks, point, outside); });
    outside.Notice(context_, checks);
  }

  // False when the layer lacks a field the parcel rows need.
  bool Parcels() {
    // The general farmland walk has read this layer and logged the numbers
    // and areas it refused: they are refused here again, silently. Only the
    // deduction, which that walk does not read, is reported.
    LayerChecks known(context_, parcels_, false);
    LayerChecks checks(context_, parcels_);
    if (!checks.HasFields({"基本农田图斑编号", "地类编码", "基本农田地类面积", "座落单位代码"},
                          std::string(kParcelTitle) + "失败")) {
      return false;
    }
    context_.LeaveOutTablesWithout(checks, FieldNeedsOf(SurveyWalk::kGdParcels));
    known.WatchNumbers("基本农田地类面积");
    checks.WatchNumbers("扣除地类面积");
    checks.WatchNumbers("扣除地类系数");
    checks.Walk(
        gis::EntityKind::kRegion, [&](const gis::Record& parcel) { Parcel(known, checks, parcel); },
        gis::RecordParts::kFields);
    return true;
  }

  void SetParcelLayer(gis::LayerHandle layer) { parcels_ = layer; }

 private:
  // A layer the run lacks gives no rows of its kind and one notice.
  bool Present(gis::LayerHandle layer, const char* title, const char* name) {
    if (layer > 0 && gis::IsLayerValid(layer)) return true;
    context_.LogNotice(title, std::string("没有") + name + "图层, 不生成该类图元的行");
    return false;
  }

  // A 0.5 line is split into two halves that add up to its area on two
  // decimals; any other ratio, or one that is no number, books the whole
  // line to side 1 (logged unless it is 1). A line beside no farmland
  // parcel is `apart`.
  void Line(LayerChecks& checks, const gis::Record& line, Unbooked& apart) {
    std::optional<gis::LineSides> sides;
    try {
      sides = gis::RegionsBesideLine(parcels_, line.LineVertices());
    } catch (const gis::GisError& error) {
      checks.Fail(line, "", std::string("线状地物两侧图斑查找失败: ") + error.what());
      return;
    }
    if (!sides) {
      checks.Fail(line, "", "线状地物几何为空或无效, 未计入");
      return;
    }
    if (sides->left <= 0 && sides->right <= 0) {
      apart.Add(line, CountableArea(checks.StoredText(line, "线状地物面积")));
      return;
    }
    const std::optional<double> area = checks.Area(line, "线状地物面积");
    if (!area) return;
    if (checks.HalvedLine(line, "扣除比例")) {
      if (LineSide(checks, line, *sides, 1, xcDotOut(*area, 0, kAreaDecimals), false)) {
        LineSide(checks, line, *sides, 2, xcDotOut(*area, 1, kAreaDecimals), true);
      }
      return;
    }
    double whole = *area;
    xcKeepPoint(&whole, kAreaDecimals);
    LineSide(checks, line, *sides, 1, whole, true);
  }

  // The row of side k of a line; false when the line is abandoned (a side
  // parcel could not be read). `needs_parcel`: the side's 扣除图斑编号 must
  // be given too.
  bool LineSide(LayerChecks& checks, const gis::Record& line, const gis::LineSides& sides, int k,
                double area, bool needs_parcel) {
    const std::string side = std::to_string(k);
    Piece piece;
    piece.number = line.Text("基本农田图斑编号" + side);
    piece.parcel = line.Text("扣除图斑编号" + side);
    if (piece.number.empty() || (needs_parcel && piece.parcel.empty())) return true;
    piece.location_code = line.Text("扣除图斑座落代码" + side);
    const std::optional<Marks> marks =
        SideMarks(checks, line, sides, piece.parcel, piece.location_code);
    if (!marks) return false;
    piece.supplement = marks->supplement;
    piece.transfer = marks->transfer;
    piece.remark = marks->remark;
    piece.source = "线状地物";
    piece.class_code = piece.booked_code = line.Text("地类编码");
    piece.ownership = line.Text("权属性质");
    piece.owner_code = line.Text("权属单位代码" + side);
    piece.owner_name = line.Text("权属单位名称" + side);
    context_.LookupCode(piece.location_code, piece.location_name);
    piece.area = area;
    Store(checks, line, kLineTitle, piece);
    return true;
  }

  // The marks of a line side: the side parcel whose 图斑编号 and 座落单位代码
  // are the side's gives its 是否补划, the line its 调入备注 and 地类备注;
  // none when no side parcel is it. Nothing when a side parcel cannot be
  // read (logged).
  // The right parcel is examined whenever the left one is absent or is not
  // the side's: a line without a farmland parcel on its left keeps its
  // marks when the parcel on its right is the one it names.
  std::optional<Marks> SideMarks(LayerChecks& checks, const gis::Record& line,
                                 const gis::LineSides& sides, const std::string& parcel_number,
                                 const std::string& location) {
    // A line inside one parcel has it on both sides: it is read once.
    for (long number : {sides.left, sides.right == sides.left ? 0L : sides.right}) {
      if (number <= 0) continue;
      gis::Record parcel;
      if (!gis::ReadRecord(parcels_, gis::EntityKind::kRegion, number, parcel)) {
        checks.Fail(line, "", "读取两侧基本农田图斑 " + std::to_string(number) + " 失败, 未计入");
        return std::nullopt;
      }
      if (parcel.Text("图斑编号") == parcel_number && parcel.Text("座落单位代码") == location) {
        return Marks{parcel.Text("是否补划"), line.Text("调入备注"), line.Text("地类备注")};
      }
    }
    return Marks{};
  }

  // A point outside every farmland parcel (`outside`), or without a
  // farmland number, gives no row.
  void Point(LayerChecks& checks, const gis::Record& point, Unbooked& outside) {
    std::optional<gis::Point> at;
    try {
      at = point.PointOnSurface();
    } catch (const gis::GisError&) {
    }
    if (!at) {
      checks.Fail(point, "", "零星地物几何为空或无效, 未计入");
      return;
    }
    const long holder = gis::RegionContaining(parcels_, *at);
    if (holder <= 0) {
      outside.Add(point, CountableArea(checks.StoredText(point, "零星地物面积")));
      return;
    }
    gis::Record parcel;
    if (!gis::ReadRecord(parcels_, gis::EntityKind::kRegion, holder, parcel)) {
      checks.Fail(point, "", "读取所在基本农田图斑 " + std::to_string(holder) + " 失败, 未计入");
      return;
    }
    Piece piece;
    piece.number = point.Text("基本农田图斑编号");
    if (piece.number.empty()) return;
    const std::optional<double> area = checks.Area(point, "零星地物面积");
    if (!area) return;
    piece.source = "零星地物";
    piece.supplement = parcel.Text("是否补划");
    piece.transfer = point.Text("调入备注");
    piece.remark = point.Text("地类备注");
    piece.class_code = piece.booked_code = point.Text("地类编码");
    piece.parcel = point.Text("座落图斑编号");
    piece.ownership = point.Text("权属性质");
    piece.owner_code = point.Text("权属单位代码");
    piece.owner_name = point.Text("权属单位名称");
    piece.location_code = point.Text("座落单位代码");
    context_.LookupCode(piece.location_code, piece.location_name);
    piece.cultivation = point.Text("耕地类型");
    piece.slope = checks.SlopeGrade(point, "耕地坡度级");
    piece.area = *area;
    Store(checks, point, kPointTitle, piece);
  }

  // The deducted class of a parcel whose 扣除地类系数 is above 0 (one that
  // is no number or negative is logged, and nothing deducted), then the
  // parcel under its own class.
  void Parcel(LayerChecks& known, LayerChecks& checks, const gis::Record& record) {
    Piece piece;
    piece.number = record.Text("基本农田图斑编号");
    if (piece.number.empty()) return;
    const std::optional<double> area = known.Area(record, "基本农田地类面积");
    piece.class_code = record.Text("地类编码");
    piece.parcel = record.Text("图斑编号");
    piece.ownership = record.Text("权属性质");
    piece.owner_code = record.Text("权属单位代码");
    piece.owner_name = record.Text("权属单位名称");
    piece.location_code = record.Text("座落单位代码");
    piece.location_name = record.Text("座落单位名称");
    if (piece.location_name.empty()) context_.LookupCode(piece.location_code, piece.location_name);
    piece.supplement = text::ToUpperAscii(record.Text("是否补划"));
    piece.transfer = text::ToUpperAscii(record.Text("调入备注"));
    piece.remark = record.Text("地类备注");
    const std::optional<double> coefficient = checks.Coefficient(record, "扣除地类系数");
    if (coefficient && *coefficient > 0) {
      if (const std::optional<double> deducted = checks.Area(record, "扣除地类面积")) {
        Piece deduction = piece;
        deduction.source = "地类图斑扣除";
        deduction.booked_code = record.Text("扣除地类编码");
        deduction.area = *deducted;
        xcKeepPoint(&deduction.area, kAreaDecimals);
        Store(checks, record, kParcelTitle, deduction);
      }
    }
    if (!area) return;
    piece.source = "地类图斑";
    piece.booked_code = piece.class_code;
    piece.cultivation = record.Text("耕地类型");
    piece.slope = checks.SlopeGrade(record, "耕地坡度级");
    piece.area = *area;
    xcKeepPoint(&piece.area, kAreaDecimals);
    Store(checks, record, kParcelTitle, piece);
  }

  // Writes the piece's row. A class the table has no column for, or a row
  // the database refuses, is logged under the pass's title with the class
  // column and the record, and the row is not stored.
  void Store(LayerChecks& checks, const gis::Record& record, const char* title,
             const Piece& piece) {
    const std::string class_column = "BM" + piece.booked_code;
    const std::optional<std::vector<std::size_t>>& classes = rows_.ClassColumns(piece.booked_code);
    if (!classes) {
      context_.LogFailure(
          title, class_column,
          db::DbError(checks.RecordName(record) + ": 表中没有列 " + class_column + ", 未计入"));
      return;
    }
    try {
      rows_.Write(piece, *classes);
    } catch (const db::DbError& error) {
      context_.LogFailure(title, class_column,
                          db::DbError(checks.RecordName(record) + ": " + error.what()));
    }
  }

  CStatContext& context_;
  GdRows& rows_;
  gis::LayerHandle parcels_ = 0;
};

}  // namespace

short CStatContext::BuildJbntParcelDataGd() {
  if (!gis::IsLayerValid(m_aiParcel)) return 0;
  const std::string table = m_strJbntTbl + "GD";
  std::optional<GdRows> rows;
  try {
    rows.emplace(*this, table);
  } catch (const db::DbError& error) {
    LogFailure("连接广东基本农田基础数据表", "连接 " + table + " 失败", error);
    return 0;
  }
  GdPasses passes(*this, *rows);
  passes.SetParcelLayer(m_aiParcel);
  passes.Lines(m_aiLine);
  passes.Points(m_aiPoint);
  const bool parcels = passes.Parcels();
  try {
    rows->Close();
  } catch (const db::DbError& error) {
    LogFailure("保存广东基本农田基础数据表", "保存 " + table + " 失败", error);
    return 0;
  }
  return parcels ? 1 : 0;
}

short CStatContext::StatJbntBaseDataGd() {
  m_nJbntGdBaseData = 0;
  if (m_aiJbntParcel < 1) {
    LogNotice("汇总广东基本农田基础数据", "没有基本农田图斑图层, 不生成广东基本农田统计表");
    return 0;
  }
  // The farmland layers stay the source layers for the rest of the run.
  SetSourceLayers(m_aiJbntParcel, m_aiJbntLine, m_aiJbntPoint);
  // A table that cannot be written, or parcels lacking a field their rows
  // need, build no Guangdong tables: they would show zeros, not farmland.
  if (BuildJbntParcelDataGd() < 1) return 0;
  host::yDebugTime("Guangdong farmland base table filled");
  if (CreateUnitJbntTablesGd() < 1) return 0;
  // A failed copy, conversion or balancing is logged; the next step runs.
  if (m_bPm) BuildJbntBaseDataPMGd();
  if (m_bGq) BuildJbntBaseDataGQGd();
  if (m_bMu) BuildJbntBaseDataMUGd();
  ConvertJbntUnitsGd();
  BalanceJbntGd();
  host::yDebugTime("Guangdong farmland copies built");
  m_nJbntGdBaseData = 1;
  return 1;
}

}  // namespace landstat
