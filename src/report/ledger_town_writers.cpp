// The enclave, ledger and town report writers, and the Inner Mongolia
// ledger with its work table.

#include <algorithm>
#include <stdexcept>

#include "mongolia/mg_table_names.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sql_quote.h"
#include "platform/text/ascii_text.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace {

// The ledger's sheet: its columns are not those of the general ledger,
// whose report name it shares.
constexpr const char* kMgLedgerSheet = "内蒙古农村土地利用台帐";

}  // namespace

bool HasColumn(const std::vector<db::ColumnInfo>& columns, const std::string& name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const db::ColumnInfo& c) { return text::IEquals(c.name, name); });
}

std::string BuildUnitSelectSql(db::Connection& connection, const std::string& table, short unit,
                               int decimals) {
  const std::string from = " from " + connection.QuoteTable(table) + " ";
  if (unit == kSquareMetre) return "select *" + from;
  if (unit != kHectare && unit != kMu) {
    throw std::invalid_argument("no area unit " + std::to_string(unit));
  }
  std::string list;
  for (const db::ColumnInfo& column : connection.Columns(table)) {
    const std::string name = db::QuoteName(column.name);
    if (!list.empty()) list += ",";
    if (column.type != db::FieldType::kDouble) {
      list += name;
    } else if (unit == kHectare) {
      list += "round(" + name + "/10000," + std::to_string(decimals) + ") as " + name;
    } else {
      list += "round(" + name + "*3/2000," + std::to_string(decimals) + ") as " + name;
    }
  }
  if (list.empty()) throw std::runtime_error("the table " + table + " has no columns");
  return "select " + list + from;
}

// The writers that read the report's table by location, its rows whose
// `column` starts with the region code, in an order that leaves no two rows
// tied, so both engines give the same workbook.
CPrintStatDlg::WriterPlan CPrintStatDlg::PrefixPlan(VariantSet variants, const char* column,
                                                    RowOrder order) const {
  WriterPlan plan;
  plan.variants = variants;
  plan.query = [column, order](const WriterCall& call, const std::string& stat_tbl) {
    const std::string table = call.names.Summary('Z', call.unit, stat_tbl);
    return ReportQuery{"select * from " + call.connection.QuoteTable(table) + " where " + column +
                           " like ? order by " + order(db::SqlDialect::For(call.connection.Kind())),
                       {call.region_code + "%"},
                       table};
  };
  return plan;
}

short CPrintStatDlg::PrintFrdTable(db::Connection& connection, const std::string& output_folder,
                                   const std::string& template_path, const std::string& report_name,
                                   const std::string& region_code, int unit, int server_names,
                                   const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     PrefixPlan(VariantSet::kFour, "SZXZQDM", [](const db::SqlDialect&) {
                       return std::string("SZXZQDM,SSXZQDM");
                     }));
}

short CPrintStatDlg::PrintLedgerTable(db::Connection& connection, const std::string& output_folder,
                                      const std::string& template_path,
                                      const std::string& report_name,
                                      const std::string& region_code, int unit, int server_names,
                                      const std::string& year, const std::string& county) {
  return WriteReport(
      {connection, output_folder, template_path, report_name, region_code, static_cast<short>(unit),
       WriterTableNames(server_names, year, county)},
      // Each place's parcels by their numbers' natural order (9 before 10), then by
      // owner and ownership, the rows' whole key.
      PrefixPlan(VariantSet::kFour, "座落单位代码", [](const db::SqlDialect& dialect) {
        return "座落单位代码," + dialect.NaturalOrder("图斑编号") + ",权属单位代码,权属性质";
      }));
}

short CPrintStatDlg::PrintTownHoldingAreaTable(
    db::Connection& connection, const std::string& output_folder, const std::string& template_path,
    const std::string& report_name, const std::string& region_code, int unit, int server_names,
    const std::string& year, const std::string& county) {
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     PrefixPlan(VariantSet::kTwo, "DJH", [](const db::SqlDialect& dialect) {
                       return dialect.NaturalOrder("DJH");
                     }));
}

short CPrintStatDlg::PrintTownHouseTable(db::Connection& connection,
                                         const std::string& output_folder,
                                         const std::string& template_path,
                                         const std::string& report_name,
                                         const std::string& region_code, int unit, int server_names,
                                         const std::string& year, const std::string& county) {
  WriterPlan plan;
  plan.variants = VariantSet::kTwo;
  plan.query = [](const WriterCall& call, const std::string& stat_tbl) {
    // The house tables of hectares and mu hold areas converted already; the
    // select list converts the square-metre table, so it reads that one
    // while it exists (converting a converted table would divide twice).
    const std::string metres = call.names.Summary('Z', kSquareMetre, stat_tbl);
    const bool convert = call.connection.TableExists(metres);
    const std::string table = convert ? metres : call.names.Summary('Z', call.unit, stat_tbl);
    const db::SqlDialect& dialect = db::SqlDialect::For(call.connection.Kind());
    return ReportQuery{
        BuildUnitSelectSql(call.connection, table, convert ? call.unit : kSquareMetre,
                           ConvertedDecimals(call.unit)) +
            " where 隶属宗地 like ? order by " + dialect.NaturalOrder("隶属宗地") + "," +
            dialect.NaturalOrder("房屋编号"),
        {call.region_code + "%"},
        table};
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), WriterTableNames(server_names, year, county)},
                     plan);
}

short CPrintStatDlg::FillMgLedgerTable(db::Connection& connection, const std::string& source,
                                       const std::string& work, const std::string& region_code) {
  // The class columns both tables have: the work table carries those of the
  // rural second-level table only.
  const std::vector<db::ColumnInfo> from = connection.Columns(source);
  const std::vector<db::ColumnInfo> into = connection.Columns(work);
  if (from.empty()) throw std::runtime_error("no Inner Mongolia ledger " + source);
  if (into.empty()) throw std::runtime_error("no Inner Mongolia ledger work table " + work);
  // A work table made by an earlier version holds the parcel number as an
  // integer, which would drop its leading zeros or refuse its letters.
  const auto number = std::find_if(into.begin(), into.end(), [](const db::ColumnInfo& c) {
    return text::IEquals(c.name, "图斑编号");
  });
  if (number != into.end() && number->type != db::FieldType::kText) {
    throw std::runtime_error("the Inner Mongolia ledger work table " + work +
                             " holds 图斑编号 as a number (made by an earlier version): run "
                             "landstat mongolia again to make it anew");
  }
  std::string columns, sums;
  for (const std::string& code : settings_.class_codes) {
    const std::string column = "BM" + code;
    if (!PlainTableName(column) || !HasColumn(from, column) || !HasColumn(into, column)) continue;
    columns += "," + column;
    sums += ",SUM(" + column + ")";
  }
  // The ledger's total area is stored as text.
  const std::string area = "CAST(土地总面积 AS double precision)";
  const std::string head = "insert into " + connection.QuoteTable(work) + "(XZQDM,XZQMC,XZQZMJ";
  const std::string table = connection.QuoteTable(source);
  const std::string filter = " where 内蒙古权属单位代码 like ?";
  const std::vector<db::Value> region = {region_code + "%"};
  db::Transaction transaction(connection);
  connection.Execute("delete from " + connection.QuoteTable(work));
  // The township and village sums on the square-metre grid, whatever order
  // the engine added the parcels in.
  const db::SqlDialect& dialect = db::SqlDialect::For(connection.Kind());
  for (const char* level : {"乡级代码,乡名称", "村级代码,村名称"}) {
    connection.Execute(
        dialect.RoundSums(head + columns + ") select " + level + ",SUM(" + area + ")" + sums +
                              " from " + table + filter + " group by " + level,
                          ConvertedDecimals(kSquareMetre)),
        region);
  }
  // The parcel number is copied as the ledger holds it: an identifier, not
  // a number ("0012" keeps its zeros, "12A" its letter).
  connection.Execute(head + ",图斑编号" + columns + ") select 座落单位代码,座落单位名称," + area +
                         ",图斑编号" + columns + " from " + table + filter,
                     region);
  transaction.Commit();
  return 1;
}

short CPrintStatDlg::BuildMgLedgerTables(db::Connection& connection, const TableNames& names,
                                         const std::string& region_code) {
  const TableNames mongolia = MgTableNames(names.Year(), names.County());
  return FillMgLedgerTable(connection, MgLedgerTable(mongolia), MgLedgerWorkTable(mongolia),
                           region_code);
}

// The Inner Mongolia tables exist in square metres only, whatever unit the
// dialog shows: the writer reads them for every unit, and its "单位" pair
// says "平方米" (the dialog's unit would mislabel every figure). They are
// named plainly on every database, as their run names them.
short CPrintStatDlg::PrintMgLedgerTable(db::Connection& connection,
                                        const std::string& output_folder,
                                        const std::string& template_path,
                                        const std::string& report_name,
                                        const std::string& region_code, int, int server_names,
                                        const std::string& year, const std::string& county) {
  if (settings_.class_codes.empty()) {
    return Refuse(report_name, "report " + report_name +
                                   ": no land-use class codes are loaded, so the ledger has no "
                                   "class columns to sum");
  }
  WriterPlan plan;
  plan.variants = VariantSet::kTwo;
  plan.unit_text = UnitText(kSquareMetre);
  plan.sheet = kMgLedgerSheet;
  plan.extra_pairs = {{"行政区名称", settings_.GetCodeName(region_code)}, {"代码", region_code}};
  plan.query = [this](const WriterCall& call, const std::string&) {
    BuildMgLedgerTables(call.connection, call.names, call.region_code);
    const std::string work =
        MgLedgerWorkTable(MgTableNames(call.names.Year(), call.names.County()));
    return ReportQuery{"select * from " + call.connection.QuoteTable(work) + " order by XZQDM," +
                           db::SqlDialect::For(call.connection.Kind()).NaturalOrder("图斑编号"),
                       {},
                       work};
  };
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      kSquareMetre, WriterTableNames(server_names, year, county)},
                     plan);
}

}  // namespace landstat::report
