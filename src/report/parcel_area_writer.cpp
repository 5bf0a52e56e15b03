// The parcel area table: every parcel of a village or village group with
// its summed areas, its ownership kind, its farmland mark and its slope
// grade, each followed by its detail rows (its own class area, its ridge
// deduction, its linear and scattered features), built in a work table from
// the base table and dropped again.
//
// The base table is only read: its columns are addressed by name (the
// optional 描述说明 shifts every position), parcels are told apart by the
// text of 图斑编号 ("0012" stays "0012", as statdata_jbnt holds it), and the
// ownership, farmland mark and slope grade go into the parcel's own record,
// whichever of its rows carries them.

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "engine/database_helpers.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace {

constexpr const char* kBaseTable = "statdata";
constexpr const char* kFarmlandBase = "statdata_jbnt";
constexpr std::size_t kVillageCodeLength = 12;
constexpr const char* kLevelMessage = "图斑面积表须选择村或村民小组级行政单位";
constexpr const char* kNoParcelMessage = "您选择的 行政区可能无对应图斑";
// The base columns the work table carries start at 来源; those copied into
// the detail records and summed per parcel at 城镇用地.
constexpr const char* kFirstCarried = "来源";
constexpr const char* kFirstCopied = "城镇用地";
constexpr const char* kParcelSource = "地类图斑";

// The work table's own columns, then the base columns, then the row order.
enum Fixed { kNumber, kLabel, kArea, kOwnership, kFarmland, kSlope, kFixedCount };
constexpr const char* kFixedColumns[kFixedCount][2] = {
    {"图斑编号", "varchar(60)"}, {"图斑中各地类编号", "varchar(60)"}, {"图斑面积", "double"},
    {"权属", "varchar(60)"},     {"是否基本农田", "varchar(60)"},     {"坡度级", "int"}};
constexpr const char* kOrderColumn = "序号";

// The detail kinds by 来源, in the order they follow their parcel record;
// a label ending in '#' is counted per parcel from 1.
struct DetailKind {
  const char* source;
  const char* label;
};
constexpr DetailKind kDetailKinds[] = {
    {"地类图斑", "图斑地类面积"}, {"地类图斑扣除", "田坎"}, {"线状地物", "X#"}, {"零星地物", "L#"}};

std::optional<std::size_t> IndexOf(const std::vector<db::ColumnInfo>& columns,
                                   const std::string& name) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (text::IEquals(columns[i].name, name)) return i;
  }
  return std::nullopt;
}

std::size_t Required(const std::vector<db::ColumnInfo>& columns, const std::string& name,
                     const std::string& table) {
  const std::optional<std::size_t> index = IndexOf(columns, name);
  if (!index) throw std::runtime_error("the table " + table + " has no column " + name);
  return *index;
}

// The base columns the work table carries: from 来源 to the last.
std::vector<db::ColumnInfo> CarriedColumns(db::Connection& connection, const std::string& base) {
  const std::vector<db::ColumnInfo> columns = connection.Columns(base);
  if (columns.empty()) throw std::runtime_error("no base table " + base);
  std::vector<db::ColumnInfo> carried(
      columns.begin() + static_cast<std::ptrdiff_t>(Required(columns, kFirstCarried, base)),
      columns.end());
  carried.erase(std::remove_if(carried.begin(), carried.end(),
                               [](const db::ColumnInfo& c) {
                                 if (text::IEquals(c.name, kOrderColumn)) return true;
                                 return std::any_of(
                                     std::begin(kFixedColumns), std::end(kFixedColumns),
                                     [&](const auto& f) { return text::IEquals(c.name, f[0]); });
                               }),
                carried.end());
  return carried;
}

const char* TypeOf(const db::ColumnInfo& column) {
  switch (column.type) {
    case db::FieldType::kInteger:
      return "int";
    case db::FieldType::kDouble:
      return "double";
    default:
      return "varchar(255)";
  }
}

bool Numeric(const db::ColumnInfo& column) {
  return column.type == db::FieldType::kInteger || column.type == db::FieldType::kDouble;
}

// The base rows of one parcel, and how they turn into work-table records.
class ParcelRecords {
 public:
  // `base` the columns of the base rows, `written` those of the work table.
  ParcelRecords(const std::vector<db::ColumnInfo>& base, const std::string& table,
                const std::vector<std::string>& written)
      : base_(base), work_columns_(written.size()) {
    number_ = Required(base, "图斑编号", table);
    location_ = Required(base, "座落单位代码", table);
    source_ = Required(base, kFirstCarried, table);
    ownership_ = Required(base, "权属性质", table);
    slope_ = Required(base, "耕地坡度级", table);
    total_ = Required(base, "土地总面积", table);
    first_copied_ = Required(base, kFirstCopied, table);
    for (std::size_t i = first_copied_; i < base.size(); ++i) {
      const auto found =
          std::find_if(written.begin() + kFixedCount, written.end() - 1,
                       [&](const std::string& w) { return text::IEquals(w, base[i].name); });
      if (found != written.end() - 1) copied_.emplace_back(i, found - written.begin());
    }
  }

  // Whether `row` belongs to the parcel being gathered (or none is).
  bool SameParcel(const std::vector<db::Value>& row) const {
    return rows_.empty() || (row[number_].AsText() == rows_.front()[number_].AsText() &&
                             row[location_].AsText() == rows_.front()[location_].AsText());
  }
  void Add(std::vector<db::Value> row) { rows_.push_back(std::move(row)); }
  bool Empty() const { return rows_.empty(); }
  const std::vector<db::Value>& First() const { return rows_.front(); }
  std::string Key() const {
    return rows_.front()[location_].AsText() + '\x1f' + rows_.front()[number_].AsText();
  }

  // Writes the parcel record and its details; `farmland` tells whether the
  // parcel has exactly one farmland parcel row. Clears the rows.
  void Write(db::RowWriter& writer, bool farmland, long& order) {
    std::vector<db::Value> record(work_columns_);
    record[kNumber] = rows_.front()[number_];
    double area = 0;
    for (const auto& row : rows_) area += row[total_].AsDouble();
    record[kArea] = area;
    for (const auto& [from, to] : copied_) {
      if (!Numeric(base_[from])) continue;
      double sum = 0;
      for (const auto& row : rows_) sum += row[from].AsDouble();
      record[to] = sum;
    }
    const auto parcel = std::find_if(rows_.begin(), rows_.end(), [&](const auto& row) {
      return row[source_].AsText() == kParcelSource;
    });
    if (parcel != rows_.end()) {
      const std::string kind = (*parcel)[ownership_].AsText();
      record[kOwnership] = std::string(kind == "10" || kind == "20" ? "国" : "集");
      record[kFarmland] = std::string(farmland ? "是" : "否");
      record[kSlope] = static_cast<long>((*parcel)[slope_].AsDouble());
    }
    Store(writer, record, order);
    for (const DetailKind& kind : kDetailKinds) {
      long counter = 0;
      for (const auto& row : rows_) {
        if (row[source_].AsText() != kind.source) continue;
        std::string label = kind.label;
        if (label.back() == '#')
          label = label.substr(0, label.size() - 1) + std::to_string(++counter);
        std::vector<db::Value> detail(work_columns_);
        detail[kLabel] = label;
        for (const auto& [from, to] : copied_) detail[to] = row[from];
        Store(writer, detail, order);
      }
    }
    rows_.clear();
  }

 private:
  void Store(db::RowWriter& writer, std::vector<db::Value>& record, long& order) {
    record.back() = ++order;
    writer.Add(record);
  }

  const std::vector<db::ColumnInfo>& base_;
  std::size_t work_columns_;
  std::size_t number_, location_, source_, ownership_, slope_, total_, first_copied_;
  // The base columns copied into the records, and their work columns.
  std::vector<std::pair<std::size_t, std::ptrdiff_t>> copied_;
  std::vector<std::vector<db::Value>> rows_;
};

// For each parcel (location code and number) of the region, the number of
// its farmland parcel rows, in one query.
std::map<std::string, long> FarmlandCounts(db::Connection& connection, const std::string& table,
                                           const std::string& region) {
  if (!connection.TableExists(table)) {
    throw std::runtime_error("no farmland base table " + table + " for the farmland marks");
  }
  std::map<std::string, long> counts;
  auto rows =
      connection.Scan("select 座落单位代码,图斑编号,count(*) from " + connection.QuoteTable(table) +
                          " where 座落单位代码 like ? and 来源 = ? group by 座落单位代码,图斑编号",
                      {region + "%", std::string(kParcelSource)});
  for (std::vector<db::Value> row; rows->Fetch(row);) {
    counts[row[0].AsText() + '\x1f' + row[1].AsText()] = static_cast<long>(row[2].AsInteger());
  }
  return counts;
}

// The location keys from the first base row: county, township, village and,
// when the region is a village group, the group's name.
void SetLocationPairs(std::vector<sheet::SWhiteParam>& pairs,
                      const std::vector<db::ColumnInfo>& columns, const std::vector<db::Value>& row,
                      const std::string& region) {
  const auto value = [&](const char* name) {
    const std::optional<std::size_t> index = IndexOf(columns, name);
    return index ? row[*index].AsText() : std::string();
  };
  for (sheet::SWhiteParam& pair : pairs) {
    if (pair.key == "村民小组") {
      pair.value = region.size() > kVillageCodeLength ? value("座落单位名称") : "";
    } else if (pair.key != "图幅号") {
      pair.value = value(pair.key.c_str());
    }
  }
}

// Fills the work table `work` from the base rows of the region, one parcel
// at a time in one ordered query, and the location keys of `pairs` from the
// first row. Raises with the no-parcel message when the region has none.
void FillParcelAreaWorkTable(db::Connection& connection, const std::string& work,
                             const std::string& base, const std::string& farmland_table,
                             const std::string& region, std::vector<sheet::SWhiteParam>& pairs) {
  const std::vector<db::ColumnInfo> carried = CarriedColumns(connection, base);
  const std::map<std::string, long> farmland = FarmlandCounts(connection, farmland_table, region);
  const db::SqlDialect& dialect = db::SqlDialect::For(connection.Kind());
  auto rows = connection.Scan(
      "select * from " + connection.QuoteTable(base) + " where 座落单位代码 like ? order by " +
          dialect.NaturalOrder("图斑编号") + ",座落单位代码," + dialect.NaturalOrder("序号"),
      {region + "%"});
  const std::vector<db::ColumnInfo> columns = rows->Columns();
  std::vector<std::string> written;
  for (const auto& fixed : kFixedColumns) written.push_back(fixed[0]);
  for (const db::ColumnInfo& column : carried) written.push_back(column.name);
  written.push_back(kOrderColumn);
  ParcelRecords parcel(columns, base, written);
  db::RowWriter writer(connection, work, written);
  long order = 0;
  const auto flush = [&] {
    const auto found = farmland.find(parcel.Key());
    parcel.Write(writer, found != farmland.end() && found->second == 1, order);
  };
  for (std::vector<db::Value> row; rows->Fetch(row);) {
    if (order == 0 && parcel.Empty()) SetLocationPairs(pairs, columns, row, region);
    if (!parcel.SameParcel(row)) flush();
    parcel.Add(row);
  }
  if (parcel.Empty()) throw std::runtime_error(kNoParcelMessage);
  flush();
  writer.Close();
}

}  // namespace

short CPrintStatDlg::CreateParcelAreaWorkTable(db::Connection& connection, const std::string& table,
                                               const std::string& base) {
  if (IsTblExist(connection, table) > 0 && DeleteTbl(connection, table) == 0) {
    throw std::runtime_error("the old work table " + table + " cannot be dropped");
  }
  std::string columns;
  for (const auto& [name, type] : kFixedColumns) {
    columns += std::string(columns.empty() ? "" : ",") + name + " " + type;
  }
  for (const db::ColumnInfo& column : CarriedColumns(connection, base)) {
    columns += "," + db::QuoteName(column.name) + " " + TypeOf(column);
  }
  columns += std::string(",") + kOrderColumn + " int";
  connection.Execute(db::SqlDialect::For(connection.Kind())
                         .ApplyTypeWords("create table " + table + "(" + columns + ")"));
  return 1;
}

short CPrintStatDlg::PrintParcelAreaTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  if (region_code.size() < kVillageCodeLength) {
    return Refuse(report_name, std::string(kLevelMessage) + " (" + region_code + ")");
  }
  WriterPlan plan;
  plan.file_prefix = region_code + settings_.GetCodeName(region_code);
  // The values of the location keys come from the first parcel; the query
  // sets them before the pairs are made (WriteReport makes them after it).
  plan.extra_pairs = {
      {"图幅号", ""}, {"县名称", ""}, {"乡名称", ""}, {"村名称", ""}, {"村民小组", ""}};
  // The work table's name, once the query has made it.
  auto made = std::make_shared<std::string>();
  plan.query = [this, &plan, made](const WriterCall& call, const std::string& stat_tbl) {
    const std::string work = call.names.Plain(stat_tbl);
    *made = work;
    const std::string base = call.names.Plain(kBaseTable);
    CreateParcelAreaWorkTable(call.connection, work, base);
    FillParcelAreaWorkTable(call.connection, work, base, call.names.Plain(kFarmlandBase),
                            call.region_code, plan.extra_pairs);
    return ReportQuery{
        "select * from " + call.connection.QuoteTable(work) + " order by " + kOrderColumn,
        {},
        work};
  };
  plan.cleanup = [made](const WriterCall& call) {
    const std::string& work = *made;
    if (!work.empty() && IsTblExist(call.connection, work) > 0 &&
        DeleteTbl(call.connection, work) == 0) {
      throw std::runtime_error("the work table " + work + " cannot be dropped");
    }
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

}  // namespace landstat::report
