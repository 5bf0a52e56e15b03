// The base table of the rural ownership-lot statistics, "statdata_ncqs":
// one row per piece of land booked to a parcel, from the linear features
// (split between the two parcels they were deducted from when shared), the
// scattered features and the parcels (a deduction row before the parcel's
// own row). Each row gets, as it is written, the number of the lot that
// holds its parcel, and the rows with one are summed per lot on the way.

#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/base_rows.h"
#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "lots/ncqs_lots.h"
#include "platform/db/beside_tables.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/gis/layers.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {
namespace {

constexpr const char* kTitle = "汇总农村权属宗地基础表";
constexpr const char* kLotNumber = "地籍号";

// One piece of land on its way into the table.
using NcqsPiece = BasePiece;

// The columns a piece fills besides the level and class columns.
enum Column {
  kNumber,
  kSource,
  kParcelNumber,
  kLocationCode,
  kLocationName,
  kOwnerCode,
  kOwnerName,
  kOwnership,
  kCultivationType,
  kSlope,
  kTotal,
  kColumns
};
constexpr const char* kColumnNames[kColumns] = {
    "序号",         "来源",     "图斑编号", "座落单位代码", "座落单位名称", "权属单位代码",
    "权属单位名称", "权属性质", "耕地类型", "耕地坡度级",   "土地总面积"};

// Writes pieces as rows of one column list; a column a piece leaves unset
// keeps the table's default. The rows are stored on a thread of their own
// while the layers are read (the connection is lent to it meanwhile), every
// other turn of them on `beside` when given. With `lots`, a row gets the lot
// number of its parcel's keys, and the rows with one are added to the lot's
// sums on another thread, in the order written.
class NcqsRowWriter {
 public:
  NcqsRowWriter(CStatContext& context, const std::string& table, NcqsLots* lots,
                db::Connection* beside)
      : context_(context), table_(table), levels_(context), lots_(lots) {
    std::vector<std::string> names;
    std::unordered_set<std::string> filled;
    for (const char* name : kColumnNames) filled.insert(text::ToLowerAscii(name));
    for (const char* name : kLevelColumns) filled.insert(text::ToLowerAscii(name));
    filled.insert(text::ToLowerAscii(kLotNumber));
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      const std::string lower = text::ToLowerAscii(column.name);
      const bool class_column = lower.rfind("bm", 0) == 0;
      if (!filled.count(lower) && !class_column) continue;
      if (class_column) class_places_.push_back(static_cast<int>(names.size()));
      column_of_.emplace(lower, static_cast<int>(names.size()));
      names.push_back(column.name);
      blanks_.push_back(BlankValue(column, table));
    }
    for (int i = 0; i < kColumns; ++i) columns_[i] = ColumnOf(kColumnNames[i]);
    for (std::size_t i = 0; i < std::size(kLevelColumns); ++i) {
      level_columns_[i] = ColumnOf(kLevelColumns[i]);
    }
    lot_column_ = ColumnOf(kLotNumber);
    db::RowPipe::Visit visit;
    if (lots_) {
      // A lot's sums: its keys, the total, then its classes.
      for (const char* key : NcqsLots::kSumKeys) summed_.push_back(ColumnOf(key));
      summed_.push_back(columns_[kTotal]);
      for (const std::string& column : lots_->Classes()) summed_.push_back(ColumnOf(column));
      summed_row_.resize(summed_.size());
      visit = [this](const std::vector<db::Value>& row) { AddToSums(row); };
    }
    pipe_.emplace(context.m_pConn, table, std::move(names), std::move(visit), nullptr, beside);
    context.LendConnection(true);
  }
  ~NcqsRowWriter() {
    pipe_.reset();
    context_.LendConnection(false);
  }
  NcqsRowWriter(const NcqsRowWriter&) = delete;
  NcqsRowWriter& operator=(const NcqsRowWriter&) = delete;

  // The class column of a code and its parents, longest first; the name
  // of the first one the table lacks in `missing` (and no columns) else.
  const std::vector<int>* ClassColumns(const std::string& code, std::string& missing) {
    auto found = class_columns_.find(code);
    if (found == class_columns_.end()) {
      std::pair<std::vector<int>, std::string> entry;
      for (const std::string& name : ClassColumnNames(code)) {
        auto column = column_of_.find(text::ToLowerAscii(name));
        if (column == column_of_.end()) {
          entry = {{}, name};
          break;
        }
        entry.first.push_back(column->second);
      }
      found = class_columns_.emplace(code, std::move(entry)).first;
    }
    missing = found->second.second;
    return missing.empty() ? &found->second.first : nullptr;
  }

  // Makes the row of one piece under `classes` (of parcel record
  // `parcel`, when the piece is the parcel's own or its deduction; 0
  // else); raises DbError when the table refuses it, and it is not written
  // then.
  void Make(const NcqsPiece& piece, const std::vector<int>& classes, long parcel) {
    std::vector<db::Value>& row = pipe_->Row();
    // The buffer holds what an earlier row left: every column a piece may
    // leave unset is set back to its blank.
    if (row.size() != blanks_.size()) row = blanks_;
    for (int column : class_places_) row[column] = blanks_[column];
    for (Column column : {kCultivationType, kSlope}) {
      row[columns_[column]] = blanks_[columns_[column]];
    }
    // Rows are numbered in the order they are written.
    row[columns_[kNumber]].AssignText(std::to_string(written_ + 1));
    const auto set = [&](Column column, const std::string& text) {
      row[columns_[column]].AssignText(text);
    };
    set(kSource, piece.source);
    set(kParcelNumber, piece.parcel_number);
    set(kLocationCode, piece.location_code);
    set(kLocationName, piece.location_name);
    set(kOwnerCode, piece.owner_code);
    set(kOwnerName, piece.owner_name);
    set(kOwnership, piece.ownership);
    if (!piece.cultivation_type.empty()) set(kCultivationType, piece.cultivation_type);
    if (piece.slope) row[columns_[kSlope]] = static_cast<double>(*piece.slope);
    const std::vector<db::Value>& levels = levels_.Levels(piece.location_code);
    for (std::size_t i = 0; i < levels.size(); ++i) row[level_columns_[i]] = levels[i];
    for (int column : classes) row[column] = piece.area;
    row[columns_[kTotal]] = piece.area;
    const std::string* lot = nullptr;
    if (lots_ && parcel > 0) {
      lot = lots_->LotOfParcel(parcel, piece.parcel_number, piece.location_code, piece.ownership);
    } else if (lots_) {
      lot = lots_->LotOf(piece.parcel_number, piece.location_code, piece.ownership);
    }
    if (lot) {
      row[lot_column_].AssignText(*lot);
    } else {
      row[lot_column_] = blanks_[lot_column_];
    }
    pipe_->Check();
  }

  // Hands the row made last over to be stored; raises the failure of a
  // row stored before (the fill fails then).
  void Write() {
    pipe_->Add();
    ++written_;
  }

  // Stores the rest; raises the failure to store them.
  void Close() { pipe_->Close(); }

 private:
  int ColumnOf(const std::string& name) const {
    auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) throw db::DbError("table " + table_ + " has no column " + name);
    return found->second;
  }

  // On the pipe's thread: a row with a lot number goes into its lot's sums.
  void AddToSums(const std::vector<db::Value>& row) {
    if (row[lot_column_] == blanks_[lot_column_]) return;
    for (std::size_t i = 0; i < summed_.size(); ++i) summed_row_[i] = row[summed_[i]];
    lots_->AddRow(summed_row_);
  }

  CStatContext& context_;
  const std::string table_;
  LevelLookup levels_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_;
  std::vector<int> class_places_;  // every class column
  int columns_[kColumns];
  int level_columns_[std::size(kLevelColumns)];
  int lot_column_ = 0;
  NcqsLots* const lots_;
  std::vector<int> summed_;  // the columns of a lot's sums, in their order
  std::vector<db::Value> summed_row_;
  // Per class code: its columns, or the first column the table lacks.
  std::unordered_map<std::string, std::pair<std::vector<int>, std::string>> class_columns_;
  long written_ = 0;
  // Last, so that its threads end before what they use goes.
  std::optional<db::RowPipe> pipe_;
};

class NcqsPass;

// What one pass over a layer is for: the layer, the fields it cannot do
// without, the numeric fields whose stored texts it judges, and the step
// that books each record.
struct NcqsLayerUse {
  gis::LayerHandle CStatContext::*layer;
  gis::EntityKind kind;
  const char* progress;
  int class_field;  // which of the context's class fields the layer carries
  std::span<const char* const> needed;
  std::span<const char* const> watched;
  void (*book)(NcqsPass& pass, const gis::Record& record);
};

// One pass over a layer: checks the fields, walks the records (bounded by
// the layer's count) and books each; every value refused is logged with
// layer, record, field and value. Areas are checked as the general base
// table checks them: a negative, infinite or implausible one, once taken as
// it stood, is logged and not counted.
class NcqsPass {
 public:
  NcqsPass(CStatContext& context, NcqsRowWriter& writer, const NcqsLayerUse& use)
      : context_(context),
        writer_(writer),
        use_(use),
        class_field_(context.m_strClassFld[use.class_field]),
        checks_(context, context.*use.layer) {}

  bool Run() {
    std::vector<std::string> needed;
    for (const char* field : use_.needed) needed.push_back(*field ? field : class_field_);
    if (!checks_.HasFields(needed, "汇总农村权属宗地基础数据失败")) return false;
    for (const char* field : use_.watched) checks_.WatchNumbers(field);
    const gis::LayerHandle layer = checks_.Layer();
    const long count = gis::RecordCount(layer, use_.kind);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(use_.progress, number, count);
      if (host::JobCancelled()) context_.EndIfStopped(use_.progress);
      if (gis::ReadRecord(layer, use_.kind, number, record, gis::RecordParts::kFields)) {
        use_.book(*this, record);
      }
    }
    return true;
  }

  CStatContext& Context() const { return context_; }
  LayerChecks& Checks() { return checks_; }

  // The record's class code; nothing (logged) when it is empty.
  std::optional<std::string> ClassCode(const gis::Record& record) {
    return checks_.Code(record, class_field_);
  }

  // Whether a piece's location code `code` (of `field`) lies in the run's
  // county. A piece of another county is logged and left out: its own
  // county's run books it, and the per-lot sums a run replaces are its
  // county's alone.
  bool InCounty(const gis::Record& record, const std::string& field, const std::string& code) {
    const std::string& county = context_.m_strPrefix2;
    if (code.starts_with(county)) return true;
    checks_.Fail(record, field, "座落代码 " + code + " 不在县 " + county + " 内, 图元未计入");
    return false;
  }

  // Stores a piece under its class column, the class's parent columns and
  // the total. A class the table has no column for, or a row the table
  // refuses, is logged naming the record and the column; the piece is left
  // out. A failure to store the rows raises: the fill fails. `own`: the
  // piece is the record's own parcel's (or its deduction).
  void Book(const gis::Record& record, const std::string& class_field, const NcqsPiece& piece,
            bool own = false) {
    std::string missing;
    const std::vector<int>* classes = writer_.ClassColumns(piece.class_code, missing);
    if (!classes) {
      checks_.Fail(record, class_field,
                   "地类编码 " + piece.class_code + ": 表中没有列 " + missing + ", 图元未计入");
      return;
    }
    try {
      writer_.Make(piece, *classes, own ? record.Number() : 0);
    } catch (const db::DbError& error) {
      context_.LogFailure(kTitle, checks_.RecordName(record) + " BM" + piece.class_code, error);
      return;
    }
    writer_.Write();
  }

 private:
  CStatContext& context_;
  NcqsRowWriter& writer_;
  const NcqsLayerUse& use_;
  const std::string class_field_;
  LayerChecks checks_;
};

// A ratio of one half shares the feature between the parcels on its two
// sides, each half rounded to two decimals so that the halves add up to
// the rounded area; any other ratio books it whole, unrounded, to side 1.
// Without side 2 only side 1's half is booked, and the other half is
// logged as not counted.
void BookLine(NcqsPass& pass, const gis::Record& line) {
  LayerChecks& checks = pass.Checks();
  const std::optional<double> area = checks.Area(line, "线状地物面积");
  const std::optional<std::string> class_code = pass.ClassCode(line);
  LineSide sides[2] = {ReadLineSide(pass.Context(), line, 1), {}};
  if (!sides[0].empty_field.empty()) {
    checks.Fail(line, sides[0].empty_field, "代码为空, 线状地物未计入");
    return;
  }
  if (!area || !class_code) return;
  const std::string ratio_text = checks.StoredText(line, "扣除比例");
  const std::optional<double> ratio =
      ratio_text.empty() ? std::nullopt : text::TextToNumber(ratio_text);
  const bool halves = ratio == 0.5;
  if (!halves && ratio != 1.0) {
    checks.NoticeOnce(line, "扣除比例", ratio_text,
                      "扣除比例 '" + ratio_text + "' 既不是 0.5 也不是 1, 整条计入扣除图斑1");
  }
  int booked = 1;
  if (halves) {
    sides[1] = ReadLineSide(pass.Context(), line, 2);
    if (sides[1].empty_field.empty()) {
      booked = 2;
    } else {
      checks.Fail(line, sides[1].empty_field, "扣除比例为 0.5 而此字段为空, 只计入扣除图斑1的一半");
    }
  }
  for (int side = 0; side < booked; ++side) {
    NcqsPiece& piece = sides[side].piece;
    const std::string location_field = "扣除图斑座落代码" + std::to_string(side + 1);
    if (!pass.InCounty(line, location_field, piece.location_code)) continue;
    piece.class_code = *class_code;
    piece.area = halves ? xcDotOut(*area, static_cast<short>(side), 2) : *area;
    pass.Book(line, pass.Context().m_strClassFld[0], piece);
  }
}

// A scattered feature is booked to the parcel it lies in, under its own
// location and owner.
void BookScattered(NcqsPass& pass, const gis::Record& point) {
  LayerChecks& checks = pass.Checks();
  const std::optional<std::string> location = checks.Code(point, "座落单位代码");
  const std::optional<std::string> owner = checks.Code(point, "权属单位代码");
  const std::optional<double> area = checks.Area(point, "零星地物面积");
  const std::optional<std::string> class_code = pass.ClassCode(point);
  if (!location || !owner || !area || !class_code) return;
  if (!pass.InCounty(point, "座落单位代码", *location)) return;
  NcqsPiece piece;
  piece.source = "零星地物";
  piece.parcel_number = point.Text("座落图斑编号");
  piece.location_code = *location;
  piece.location_name = pass.Context().GetCodeName(*location);
  piece.owner_code = *owner;
  piece.owner_name = point.Text("权属单位名称");
  piece.ownership = point.Text("权属性质");
  piece.class_code = *class_code;
  piece.area = *area;
  pass.Book(point, pass.Context().m_strClassFld[1], piece);
}

// A parcel gives, when it carries a deducted class, a deduction row, then
// its own row with its class area as stored (not reduced by the deduction).
void BookParcel(NcqsPass& pass, const gis::Record& parcel) {
  LayerChecks& checks = pass.Checks();
  const std::optional<std::string> location = checks.Code(parcel, "座落单位代码");
  const std::optional<std::string> owner = checks.Code(parcel, "权属单位代码");
  if (!location || !owner || !pass.InCounty(parcel, "座落单位代码", *location)) return;
  NcqsPiece piece;
  piece.parcel_number = parcel.Text("图斑编号");
  piece.location_code = *location;
  piece.location_name = parcel.Text("座落单位名称");
  piece.owner_code = *owner;
  piece.owner_name = parcel.Text("权属单位名称");
  piece.ownership = parcel.Text("权属性质");
  piece.slope = std::strtol(parcel.Text("耕地坡度级").c_str(), nullptr, 10);
  const std::string deducted = parcel.Text("扣除地类编码");
  if (!deducted.empty()) {
    if (const std::optional<double> area = checks.Area(parcel, "扣除地类面积")) {
      NcqsPiece deduction = piece;
      deduction.source = "地类图斑扣除";
      deduction.class_code = deducted;
      deduction.area = *area;
      pass.Book(parcel, "扣除地类编码", deduction, true);
    }
  }
  const std::optional<double> area = checks.Area(parcel, "图斑地类面积");
  const std::optional<std::string> class_code = pass.ClassCode(parcel);
  if (!area || !class_code) return;
  piece.source = "地类图斑";
  piece.cultivation_type = parcel.Text("耕地类型");
  piece.class_code = *class_code;
  piece.area = *area;
  pass.Book(parcel, pass.Context().m_strClassFld[2], piece, true);
}

// In a list of needed fields, the layer's class field.
constexpr const char* kClassField = "";
constexpr const char* kLineNeeds[] = {"扣除比例",      "线状地物面积",      kClassField,
                                      "扣除图斑编号1", "扣除图斑座落代码1", "权属单位代码1"};
constexpr const char* kLineWatched[] = {"线状地物面积", "扣除比例"};
constexpr const char* kScatteredNeeds[] = {kClassField, "座落单位代码", "零星地物面积",
                                           "权属单位代码"};
constexpr const char* kScatteredWatched[] = {"零星地物面积"};
// A parcel's deduction is booked to its own class: without the deduction
// fields every table would miss that land.
constexpr const char* kParcelNeeds[] = {"图斑编号",     kClassField,    "图斑地类面积",
                                        "座落单位代码", "权属单位代码", "权属性质",
                                        "扣除地类编码", "扣除地类面积"};
constexpr const char* kParcelWatched[] = {"图斑地类面积", "扣除地类面积"};

// The passes in the order their rows enter the table.
const NcqsLayerUse kLayerUses[] = {
    {&CStatContext::m_aiLine, gis::EntityKind::kLine, "正在汇总线状地物", 0, kLineNeeds,
     kLineWatched, BookLine},
    {&CStatContext::m_aiPoint, gis::EntityKind::kPoint, "正在汇总零星地物", 1, kScatteredNeeds,
     kScatteredWatched, BookScattered},
    {&CStatContext::m_aiParcel, gis::EntityKind::kRegion, "正在汇总地类图斑", 2, kParcelNeeds,
     kParcelWatched, BookParcel},
};

// The location code of the first parcel when no parcel of the layer lies
// in the run's county; empty when one does, or when none carries a code
// (left to the checks of each parcel). The parcels are read up to the
// first of the county, most often the first of all.
std::string OtherCountyOfParcels(const CStatContext& context) {
  const gis::LayerHandle layer = context.m_aiParcel;
  if (layer <= 0 || !gis::IsLayerValid(layer) || !gis::HasField(layer, "座落单位代码")) return {};
  std::string first;
  const long count = gis::RecordCount(layer, gis::EntityKind::kRegion);
  gis::Record parcel;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(layer, gis::EntityKind::kRegion, number, parcel,
                         gis::RecordParts::kFields)) {
      continue;
    }
    const std::string code = parcel.Text("座落单位代码");
    if (code.starts_with(context.m_strPrefix2)) return {};
    if (first.empty()) first = code;
  }
  return first;
}

// On a server one backend stores rows a hundred columns wide more slowly
// than the client makes them, as for the general base table: the table is
// filled on two connections, each storing every other turn of rows. It is
// made in the schema beside the run, committed there so that both
// connections see it, and takes the place of the run's empty table once
// every row is stored (FillBeside::MoveIn). Where the second connection or
// its table cannot be made (noticed), the run's own connection fills its
// own table.
class FillBeside {
 public:
  FillBeside(CStatContext& context, db::BesideSchema& schema, const std::string& table)
      : schema_(schema), table_(table) {
    schema.MakeTable(table, [&](const std::string& made, const std::string& options) {
      return context.NcqsStatTableStatement(made, options);
    });
    connection_.emplace(schema.Connection());
    connection_->BeginTrans();
  }

  db::Connection& Connection() { return *connection_; }
  std::string Filled() const { return schema_.Qualified(table_); }

  // Commits the rows stored beside, then, in the run's transaction, drops
  // the run's empty table and moves the filled one into its place. Raises
  // DbError.
  void MoveIn(db::Connection& run) {
    connection_->CommitTrans();
    connection_.reset();
    run.Execute("drop table " + table_);
    schema_.MoveInto(run, table_);
  }

 private:
  db::BesideSchema& schema_;
  const std::string table_;
  std::optional<db::Connection> connection_;
};

std::optional<FillBeside> OpenFillBeside(CStatContext& context, db::BesideSchema* schema,
                                         const std::string& table) {
  if (!schema) return std::nullopt;
  try {
    return std::optional<FillBeside>(std::in_place, context, *schema, table);
  } catch (const db::DbError& error) {
    context.LogNotice("数据库",
                      std::string("无法另开连接同时填写农村权属宗地基础表 (") + error.what() + ")");
    return std::nullopt;
  }
}

}  // namespace

bool CStatContext::NcqsParcelsInCounty() {
  // Every piece of another county is left out: a county code that no
  // parcel carries would leave nothing, one failure per piece.
  const std::string other = OtherCountyOfParcels(*this);
  if (!other.empty()) LogNoPieceInCounty(other);
  return other.empty();
}

short CStatContext::BuildNcqsStatData(NcqsLots* lots, db::BesideSchema* beside) {
  if (!NcqsParcelsInCounty()) return 0;
  const std::string table = m_names.Plain("statdata_ncqs");
  std::optional<FillBeside> fill_beside = OpenFillBeside(*this, beside, table);
  std::optional<NcqsRowWriter> writer;
  try {
    writer.emplace(*this, fill_beside ? fill_beside->Filled() : table, lots,
                   fill_beside ? &fill_beside->Connection() : nullptr);
  } catch (const db::DbError& error) {
    LogFailure(kTitle, "连接 " + table + " 失败", error);
    return 0;
  }
  std::vector<host::JobStages::Stage> walks;
  const std::vector<const NcqsLayerUse*> uses =
      WalkedLayers(*this, std::span<const NcqsLayerUse>(kLayerUses), walks);
  host::JobStages stages("正在建立基础汇总表", walks);
  short result = 1;
  try {
    for (const NcqsLayerUse* use : uses) {
      if (!NcqsPass(*this, *writer, *use).Run()) {
        result = 0;
        break;
      }
      stages.Done(use->progress);
    }
    writer->Close();
    writer.reset();
    if (fill_beside) fill_beside->MoveIn(m_pConn);
  } catch (const db::DbError& error) {
    LogFailure(kTitle, "保存 " + table + " 失败", error);
    return 0;
  }
  return result;
}

}  // namespace landstat
