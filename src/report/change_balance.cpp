// The change balance table: the change records of a year entered class by
// class into a table made by BuildBalanceStruct, the base-year sums added,
// and the table converted to another unit.

#include "report/change_balance.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/table_names.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "report/balance_struct.h"
#include "report/report_skeleton.h"

namespace landstat::report {

namespace {

constexpr short kCellDecimals = 2;
// A class key this long or longer has no balance columns.
constexpr std::size_t kMaxKeyLength = 10;
// The most class records one change enters.
constexpr std::size_t kMaxClassRows = 9;
constexpr const char* kOwnerState = "1";
constexpr const char* kOwnerCollective = "2";

// "1" (state-owned) for an ownership text that begins with 1 or 2 (10, 20),
// "2" (collective) for any other, an empty one included.
const char* OwnershipClass(std::string_view ownership) {
  return !ownership.empty() && (ownership[0] == '1' || ownership[0] == '2') ? kOwnerState
                                                                            : kOwnerCollective;
}

// Closes a balance table unless its handle was handed on.
class TableGuard {
 public:
  ~TableGuard() {
    if (handle_ > 0) gis::CloseLayer(handle_);
  }
  void Set(gis::LayerHandle handle) { handle_ = handle; }
  gis::LayerHandle Get() const { return handle_; }
  gis::LayerHandle Release() {
    const gis::LayerHandle handle = handle_;
    handle_ = 0;
    return handle;
  }

 private:
  gis::LayerHandle handle_ = 0;
};

// The changes the fill step could not enter, told in one notice: those of
// a class without a balance column or class record, and those whose area
// cannot be counted (a change table the run did not write may hold any).
struct LeftOut {
  long count = 0, bad_areas = 0;
  std::string first, first_bad_area;
  std::string Notice() const {
    std::string notice;
    if (count > 0) {
      notice = fmt::format(
          "注意: {} change records are in no balance record: their class has no balance column "
          "or class record (first: {})",
          count, first);
    }
    if (bad_areas > 0) {
      notice += fmt::format(
          "{}注意: {} change records are not entered: their area is missing, not a number, "
          "negative, infinite or above 1e10 m2 (first: {})",
          notice.empty() ? "" : "\n", bad_areas, first_bad_area);
    }
    return notice;
  }
};

// The cells of a balance table while the changes are entered: every
// record read once, each sum kept on the 2-decimal grid as it is made, the
// records written back once at the end.
class BalanceCells {
 public:
  explicit BalanceCells(gis::LayerHandle table) : table_(table), fields_(gis::LayerFields(table)) {
    const long count = gis::RecordCount(table, gis::EntityKind::kTable);
    const int key = gis::FieldIndexOf(fields_, kBalanceKeyField);
    rows_.resize(static_cast<std::size_t>(std::max(count, 1L)));
    for (long number = 1; number < count; ++number) {
      Row& row = rows_[static_cast<std::size_t>(number)];
      gis::Record record;
      if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
      row.read = true;
      row.key = key >= 0 ? record.Text(key) : std::string();
      row.values.resize(fields_.size());
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type == gis::FieldType::kDouble) {
          row.values[i] = record.Number(static_cast<int>(i));
        }
      }
    }
    total_ = Column(kBalanceTotalField);
  }

  int Column(std::string_view key) const { return gis::FieldIndexOf(fields_, key); }
  int Total() const { return total_; }

  // The first record whose class key is `key`; 0 when none.
  long RowOf(std::string_view key) const {
    for (std::size_t number = 1; number < rows_.size(); ++number) {
      if (rows_[number].read && rows_[number].key == key) return static_cast<long>(number);
    }
    return 0;
  }

  void Add(long number, int column, double area) {
    Row& row = rows_.at(static_cast<std::size_t>(number));
    if (!row.read || column < 0) return;  // a record that cannot be read is passed over
    double& cell = row.values[static_cast<std::size_t>(column)];
    cell += area;
    xcKeepPoint(&cell, kCellDecimals);
    row.changed = true;
  }

  void WriteBack() const {
    for (std::size_t number = 1; number < rows_.size(); ++number) {
      const Row& row = rows_[number];
      if (!row.changed) continue;
      gis::Record record;
      gis::ReadRecord(table_, gis::EntityKind::kTable, static_cast<long>(number), record);
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type != gis::FieldType::kDouble) continue;
        record.SetText(static_cast<int>(i), fmt::format("{:f}", row.values[i]));
      }
      gis::WriteRecord(table_, record);
    }
  }

 private:
  struct Row {
    bool read = false;
    bool changed = false;
    std::string key;
    std::vector<double> values;
  };
  gis::LayerHandle table_;
  std::vector<gis::FieldDef> fields_;
  std::vector<Row> rows_;  // by record number
  int total_ = -1;
};

using ColumnList = std::vector<int>;

// The columns of a class key and of each shorter prefix down to two
// characters that has one, longest first ("D011": D011, D01).
ColumnList ColumnsOf(const BalanceCells& cells, const std::string& key) {
  ColumnList columns;
  if (key.size() >= kMaxKeyLength) return columns;
  for (std::size_t length = key.size(); length >= 2; --length) {
    const int column = cells.Column(std::string_view(key).substr(0, length));
    if (column >= 0) columns.push_back(column);
  }
  return columns;
}

// The class records of a former key and of each shorter prefix, longest
// first, those that exist.
std::vector<long> ClassRowsOf(const BalanceCells& cells, const std::string& key) {
  std::vector<long> rows;
  for (std::size_t length = key.size(); length >= 2 && rows.size() < kMaxClassRows; --length) {
    if (const long row = cells.RowOf(std::string_view(key).substr(0, length))) rows.push_back(row);
  }
  return rows;
}

// The column at a place of a list; -1 past its end.
int At(const ColumnList& columns, std::size_t place) {
  return place < columns.size() ? columns[place] : -1;
}

// Enters one change of `area` from class `former` to class `later`; false
// when it could not be entered (no column of the new class, no class
// record of the former one).
bool FillBalanceRows(BalanceCells& cells, const std::string& former, const std::string& later,
                     const char* former_owner, const char* later_owner, double area) {
  const bool same_first_level = former.substr(0, 3) == later.substr(0, 3);
  const ColumnList to = ColumnsOf(cells, later);
  const ColumnList from = ColumnsOf(cells, former);
  const std::vector<long> class_rows = ClassRowsOf(cells, former);
  if (class_rows.empty() || to.empty()) return false;
  const int total = cells.Total();
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (from[i] != At(to, i)) cells.Add(kOutflowRow, from[i], area);
  }
  cells.Add(kOutflowRow, total, area);
  for (std::size_t i = 0; i < to.size(); ++i) {
    if (to[i] != At(from, i)) cells.Add(kInflowRow, to[i], area);
  }
  cells.Add(kInflowRow, total, area);
  for (int column : from) cells.Add(kCurrentRow, column, -area);
  for (int column : to) cells.Add(kCurrentRow, column, area);
  const std::pair<long, const char*> owned[] = {{kCurrentStateRow, kOwnerState},
                                                {kCurrentCollectiveRow, kOwnerCollective}};
  for (const auto& [row, owner] : owned) {
    if (std::string_view(former_owner) == owner) {
      for (int column : from) cells.Add(row, column, -area);
      cells.Add(row, total, -area);
    }
    if (std::string_view(later_owner) == owner) {
      for (int column : to) cells.Add(row, column, area);
      cells.Add(row, total, area);
    }
  }
  for (std::size_t k = 0; k < class_rows.size(); ++k) {
    if (At(to, k) == At(from, k)) continue;
    const std::size_t entered = same_first_level ? to.size() - 1 : to.size();
    for (std::size_t i = 0; i < entered; ++i) cells.Add(class_rows[k], to[i], area);
    cells.Add(class_rows[k], total, area);
  }
  return true;
}

// Where the fields of a change record stand in a result.
struct ChangeColumns {
  int former_place = -1, later_place = -1, former_owner = -1, later_owner = -1;
  int former_class = -1, later_class = -1, area = -1;

  explicit ChangeColumns(const db::RowSource& changes) {
    const std::pair<int*, const char*> wanted[] = {{&former_place, "变更前座落代码"},
                                                   {&later_place, "变更后座落代码"},
                                                   {&former_owner, "变更前权属性质"},
                                                   {&later_owner, "变更后权属性质"},
                                                   {&former_class, "变更前地类号"},
                                                   {&later_class, "变更后地类号"},
                                                   {&area, "变更面积"}};
    const auto& columns = changes.Columns();
    for (const auto& [place, name] : wanted) {
      for (std::size_t i = 0; i < columns.size(); ++i) {
        if (text::IEquals(columns[i].name, name)) *place = static_cast<int>(i);
      }
      if (*place < 0) throw std::runtime_error(std::string("the change table has no ") + name);
    }
  }
};

// "D" and the class text, upper-cased and cut after the level's characters.
std::string ChangeKey(std::string_view code, short level) {
  return "D" + text::ToUpperAscii(code.substr(0, static_cast<std::size_t>(level)));
}

// Makes the table, gives it the structure and enters every change; the
// handle, or 0 when no table could be made.
gis::LayerHandle BuildBalanceTable(const gis::RuralCode* codes, db::RowSource& changes, short level,
                                   TableGuard& table, LeftOut& left_out) {
  if (codes == nullptr) return 0;
  table.Set(gis::CreateTable("平衡表", {}));
  BuildBalanceStruct(codes, table.Get(), level);
  BalanceCells cells(table.Get());
  const ChangeColumns at(changes);
  while (changes.Next()) {
    const std::string_view former_class = changes.Text(at.former_class);
    const std::string_view later_class = changes.Text(at.later_class);
    if (former_class.empty() || later_class.empty()) continue;  // no class to book
    const std::string former = ChangeKey(former_class, level);
    const std::string later = ChangeKey(later_class, level);
    if (former == later) continue;  // stays in its class at this level
    const char* former_owner = OwnershipClass(changes.Text(at.former_owner));
    const char* later_owner = OwnershipClass(changes.Text(at.later_owner));
    const std::string area_text(changes.Text(at.area));
    const std::optional<double> countable = CountableArea(area_text);
    if (!countable) {
      if (left_out.bad_areas++ == 0) {
        left_out.first_bad_area =
            fmt::format("{} {} to {} {}, '{}'", changes.Text(at.former_place), former_class,
                        changes.Text(at.later_place), later_class, area_text);
      }
      continue;
    }
    // Rounded once, then entered whole into every cell it touches: each
    // cell that takes the change takes the same figure, with either sign.
    const double area = RoundToDecimals(*countable, kCellDecimals);
    if (!FillBalanceRows(cells, former, later, former_owner, later_owner, area) &&
        left_out.count++ == 0) {
      left_out.first = fmt::format("{} {} to {} {}, {} m2", changes.Text(at.former_place),
                                   former_class, changes.Text(at.later_place), later_class, area);
    }
  }
  cells.WriteBack();
  return table.Get();
}

// The land-class codes of the code table, in its order.
short CollectLandClassCodes(const gis::RuralCode* codes, std::vector<std::string>& classes) {
  classes.clear();
  if (codes == nullptr || codes->m_ai <= 0) return 0;
  const long count = gis::RecordCount(codes->m_ai, gis::EntityKind::kTable);
  if (count <= 0) return 0;
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(codes->m_ai, gis::EntityKind::kTable, number, record)) continue;
    if (record.Text("代码类型").find("地类代码") == std::string::npos) continue;
    classes.push_back(record.Text("代码"));
  }
  return 1;
}

// "SUM(土地总面积) as 土地总面积,SUM(BM011) as D011,...".
std::string BuildSumFieldList(const std::vector<std::string>& classes) {
  std::string list = "SUM(土地总面积) as 土地总面积,";
  for (std::size_t i = 0; i < classes.size(); ++i) {
    list += fmt::format("{}SUM(BM{}) as D{}", i > 0 ? "," : "", classes[i], classes[i]);
  }
  return list;
}

// Adds the current row of `sums` into the records `rows`: each column named
// D + a class that the table has (names compared without regard to ASCII
// case, as a server gives them in lower case) into that column, 土地总面积
// into 合计; written with 5 decimals, unrounded.
void AddSumRow(gis::LayerHandle table, const db::RowSource& sums,
               std::initializer_list<long> rows) {
  std::vector<std::pair<int, int>> pairs;  // result column, table field
  const auto& columns = sums.Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string name = text::ToUpperAscii(columns[i].name);
    const int field = name == "土地总面积"      ? gis::FieldIndex(table, kBalanceTotalField)
                      : name.rfind('D', 0) == 0 ? gis::FieldIndex(table, name)
                                                : -1;
    if (field >= 0) pairs.emplace_back(static_cast<int>(i), field);
  }
  for (long number : rows) {
    gis::Record record;
    if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
    for (const auto& [column, field] : pairs) {
      record.SetText(field, fmt::format("{:.5f}", record.Number(field) + sums.Number(column)));
    }
    gis::WriteRecord(table, record);
  }
}

// The ownership parts of the level-table sums and the records each adds to.
struct OwnershipPart {
  const char* condition;
  long row;
};
// A base-year row's ownership class: 1 state-owned (10, 20 ...), else 2;
// the sums read only rows of 1 to 4, so an ownership of neither kind counts
// nowhere.
constexpr const char* kOwnershipClassSql =
    "(case when 权属性质 like '1%' or 权属性质 like '2%' then 1 else 2 end)";

// The base-year sums of the region's rows of `base_table` added into the
// base-year and current records and the current record of each ownership.
// One pass over the base year gives the sums of both ownerships.
short AddBaseYearSums(gis::LayerHandle table, db::Connection& connection, const std::string& code,
                      const std::string& base_table, const gis::RuralCode* codes) {
  if (codes == nullptr || table <= 0) return 0;
  std::vector<std::string> classes;
  CollectLandClassCodes(codes, classes);
  // Class codes become column names of the statement: letters and digits only.
  if (classes.empty() || !std::all_of(classes.begin(), classes.end(), host::IsClassCode)) return 0;
  const std::string sql = fmt::format(
      "SELECT {0} as 权属类, {1} FROM {2} WHERE 座落单位代码 like ? AND (权属性质 "
      "like '1%' OR 权属性质 like '2%' OR 权属性质 like '3%' OR 权属性质 like '4%') "
      "GROUP BY {0} ORDER BY 1",
      kOwnershipClassSql, BuildSumFieldList(classes), connection.QuoteTable(base_table));
  try {
    const std::unique_ptr<db::RowSource> sums = connection.Scan(sql, {code + "%"});
    while (sums->Next()) {
      const long owned = sums->Number(0) == 1 ? kCurrentStateRow : kCurrentCollectiveRow;
      AddSumRow(table, *sums, {kBaseYearRow, kCurrentRow, owned});
    }
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    return 0;
  }
  return 1;
}

// Removes the class records of the town classes 05 to 09 and their children.
short DropTownClassRows(gis::LayerHandle table) {
  if (table <= 0 || gis::LayerKind(table) != gis::EntityKind::kTable) return 0;
  const long count = gis::RecordCount(table, gis::EntityKind::kTable);
  if (count <= 0) return 0;
  static const std::array<std::string_view, 5> kTown = {"D05", "D06", "D07", "D08", "D09"};
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
    const std::string key = record.Text(kBalanceKeyField).substr(0, 3);
    if (std::find(kTown.begin(), kTown.end(), key) != kTown.end()) gis::DeleteRecord(table, number);
  }
  return 1;
}

// The per-level statistics tables by administrative level.
const char* LevelTable(short level) {
  switch (level) {
    case 2:
      return "Stat_city";
    case 3:
      return "Stat_county";
    case 4:
      return "stat_village";
    case 5:
      return "stat_hamlet";
    case 6:
      return "stat_group";
    default:
      return "Stat_province";
  }
}

// The first row of the level table's state-owned and collective rows of
// `code` added like the base-year sums. 0 when the state-owned rows are
// none (nothing added) or the collective ones are none (state-owned added).
short SumBalanceByLevel(gis::LayerHandle table, db::Connection& connection, const std::string& code,
                        short level, const std::string& prefix) {
  if (code.empty() || table <= 0) return 0;
  const std::string select = "select * from " + connection.QuoteTable(prefix + LevelTable(level)) +
                             " where 座落单位代码 = ? and ";
  const OwnershipPart parts[] = {
      {"(权属性质 = '10' or 权属性质 = '20')", kCurrentStateRow},
      {"(Left(权属性质,1) = '3' or Left(权属性质,1) = '4')", kCurrentCollectiveRow}};
  for (const OwnershipPart& part : parts) {
    const std::unique_ptr<db::RowSource> rows = connection.Scan(select + part.condition, {code});
    if (!rows->Next()) return 0;
    AddSumRow(table, *rows, {kBaseYearRow, kCurrentRow, part.row});
  }
  return 1;
}

// Adds 坐落位置 and ID, and names each record that carries an ownership code.
short AddLocationNames(gis::LayerHandle table, const gis::RuralCode* codes) {
  if (table <= 0 || codes == nullptr) return 0;
  gis::AddField(table, {kBalanceLocationField, gis::FieldType::kText, 30, 0});
  gis::AddField(table, {kBalanceNumberField, gis::FieldType::kText, 5, 0});
  const long count = gis::RecordCount(table, gis::EntityKind::kTable);
  if (count <= 0) return 0;
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
    const std::string owner = record.Text(kBalanceOwnerField);
    std::string name;
    if (owner.empty() || codes->GetCode("行政代码", owner.c_str(), "代码名称", name) <= 0) continue;
    record.SetText(kBalanceLocationField, name);
    gis::WriteRecord(table, record);
  }
  return 1;
}

// Writes each record's number into ID.
short NumberBalanceRows(gis::LayerHandle table) {
  if (table <= 0) return 0;
  if (gis::FieldIndex(table, kBalanceNumberField) < 0) {
    gis::AddField(table, {kBalanceNumberField, gis::FieldType::kText, 5, 0});
  }
  const long count = gis::RecordCount(table, gis::LayerKind(table));
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
    record.SetText(kBalanceNumberField, std::to_string(number));
    gis::WriteRecord(table, record);
  }
  return 1;
}

// Every change whose former or new location lies in the region, summed per
// locations, ownerships and classes, in a fixed order so that both engines
// enter them alike.
std::string ChangeQuery(db::Connection& connection, const std::string& change_table) {
  static const char* const kGroup =
      "变更前座落代码, 变更后座落代码, 变更前权属性质, 变更后权属性质, 变更前地类号, 变更后地类号";
  return fmt::format(
      "SELECT {0}, sum(变更面积) AS 变更面积 FROM {1} where 变更前座落代码 like ? or "
      "变更后座落代码 "
      "like ? GROUP BY {0} ORDER BY {0}",
      kGroup, connection.QuoteTable(change_table));
}

short Failed(BalanceNotes* notes, const std::string& why) {
  host::yDebugStr("change balance table: " + why);
  if (notes) notes->failure = why;
  return 0;
}

}  // namespace

short GetBalanceAi(const gis::RuralCode* codes, db::Connection* current, db::Connection* base_year,
                   const std::string& base_table, const std::string& current_table,
                   const std::string& change_table, const std::string&, const std::string& region,
                   int single_connection, BalanceNotes* notes) {
  if (current == nullptr || !current->IsOpen() || codes == nullptr || region.empty() ||
      base_table.empty() || current_table.empty() || change_table.empty()) {
    return Failed(notes, "a connection, the code table, the region or a table name is missing");
  }
  if (single_connection == 0 && (base_year == nullptr || !base_year->IsOpen())) {
    return Failed(notes, "last year's database is not open");
  }
  if (!host::IsAdminCode(region)) return Failed(notes, "the region code " + region + " is no code");
  short level = kBalanceLevelFirst;
  GetTableLandLevel(&level);
  db::Connection& base = single_connection != 0 ? *current : *base_year;
  TableGuard table;
  try {
    LeftOut left_out;
    {
      const std::unique_ptr<db::RowSource> changes =
          current->Scan(ChangeQuery(*current, change_table), {region + "%", region + "%"});
      if (BuildBalanceTable(codes, *changes, level, table, left_out) <= 0) {
        return Failed(notes, "the balance table cannot be made");
      }
    }
    if (AddBaseYearSums(table.Get(), base, region, base_table, codes) <= 0) {
      return Failed(notes, "the base-year sums of " + base_table + " cannot be read");
    }
    DropTownClassRows(table.Get());
    AddLocationNames(table.Get(), codes);
    NumberBalanceRows(table.Get());
    if (notes) notes->notice = left_out.Notice();
    return table.Release();
  } catch (const std::exception& error) {
    return Failed(notes, error.what());
  }
}

short GetBalanceDataRst(const gis::RuralCode* codes, db::Connection* connection, const char* code,
                        const char* prefix) {
  if (codes == nullptr || code == nullptr || connection == nullptr || !connection->IsOpen()) {
    return 0;
  }
  const std::string table_prefix = prefix ? prefix : "";
  if (!table_prefix.empty() && !PlainTableName(table_prefix)) return 0;
  short level = kBalanceLevelFirst;
  GetTableLandLevel(&level);
  short admin_level = 0;
  if (codes->GetAdmiCodeLevel(code, admin_level) <= 0) return 0;
  TableGuard table;
  try {
    LeftOut left_out;
    {
      const std::unique_ptr<db::RowSource> changes =
          connection->Scan("select * from " + connection->QuoteTable(table_prefix + "ndchange") +
                               " where 变更前座落代码 like ? or 变更后座落代码 like ?",
                           {std::string(code) + "%", std::string(code) + "%"});
      if (BuildBalanceTable(codes, *changes, level, table, left_out) <= 0) return 0;
    }
    try {
      SumBalanceByLevel(table.Get(), *connection, code, admin_level, table_prefix);
    } catch (const db::DbError& error) {
      host::yDebugStr(error.what());  // the table keeps what the changes entered
    }
    AddLocationNames(table.Get(), codes);
    NumberBalanceRows(table.Get());
    return table.Release();
  } catch (const std::exception& error) {
    host::yDebugStr(std::string("change balance table: ") + error.what());
    return 0;
  }
}

short AreaTypeConv(short table, short unit) {
  if (unit == kSquareMetre) return 1;
  const double factor = unit == kMu ? 0.0015 : 0.0001;
  try {
    const long count = gis::RecordCount(table, gis::EntityKind::kTable);
    if (count <= 0) return 0;
    const std::vector<gis::FieldDef> fields = gis::LayerFields(table);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (!gis::ReadRecord(table, gis::EntityKind::kTable, number, record)) continue;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].type != gis::FieldType::kDouble) continue;
        const int field = static_cast<int>(i);
        record.SetText(field,
                       fmt::format("{:.2f}", RoundToDecimals(record.Number(field) * factor, 2)));
      }
      gis::WriteRecord(table, record);
    }
    return 1;
  } catch (const std::exception& error) {
    host::yDebugStr(std::string("area conversion of a table: ") + error.what());
    return 0;
  }
}

}  // namespace landstat::report
