// The change balance sheet: the balance table of this year's changes and
// last year's base data, converted to the unit and written as a report.

#include <filesystem>
#include <memory>

#include "engine/database_helpers.h"
#include "engine/run_record.h"
#include "platform/db/db_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/notifier.h"
#include "report/balance_units.h"
#include "report/change_balance.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace {

namespace fs = std::filesystem;

// The messages of the balance sheet; the first two differ only in their
// exclamation mark: last year's database cannot be opened, or lacks its
// data.
constexpr const char* kNoBaseYearFile = "上年度的汇总数据不存在!";
constexpr const char* kNoBaseYearData = "上年度的汇总数据不存在！";
constexpr const char* kNoCurrentData = "本年度汇总数据不存在！";
constexpr const char* kBalanceFailed = "出平衡表失败!";
// The survey layer a run copies the change records from.
constexpr const char* kChangeLayer = "变更汇总";

// The rows of a balance table, which they own and close.
class BalanceRows : public sheet::SheetRows {
 public:
  explicit BalanceRows(gis::LayerHandle table) : table_(table), rows_(table) {}
  ~BalanceRows() override { gis::CloseLayer(table_); }
  BalanceRows(const BalanceRows&) = delete;
  BalanceRows& operator=(const BalanceRows&) = delete;
  const std::vector<std::string>& ColumnNames() const override { return rows_.ColumnNames(); }
  bool Next(std::vector<db::Value>& row) override { return rows_.Next(row); }

 private:
  gis::LayerHandle table_;
  sheet::AttributeTableRows rows_;
};

// The year before `year`; -1 for a year that is no year.
int BaseYearOf(const std::string& year) {
  return host::IsSurveyYear(year) ? std::stoi(year) - 1 : -1;
}

// Why last year's statistics cannot be read, empty when they can: its
// last run did not finish, or the database holds another year or county.
std::string BaseYearProblem(db::Connection& base, const std::string& year,
                            const std::string& county) {
  try {
    if (auto last = LastRunRecord(base, year, county); last && !last->Finished()) {
      return "the last statistics run of " + year + " for " + county +
             " did not finish; run it again first";
    }
    return HeldStatisticsProblem(base, year, county);
  } catch (const db::DbError& error) {
    return error.what();
  }
}

}  // namespace

std::string CPrintStatDlg::BaseYearFile(db::Connection& database, const std::string& base_year,
                                        const std::string& county) const {
  if (!settings_.base_year_database.empty()) return settings_.base_year_database;
  return (fs::path(database.FilePath()).parent_path() / (base_year + county + ".sqlite")).string();
}

std::string CPrintStatDlg::BalanceSheetInputsMissing(db::Connection& database,
                                                     const TableNames& names) const {
  const std::string& year = names.Year();
  const std::string base_year = std::to_string(BaseYearOf(year));
  if (!database.TableExists(names.Plain("ndChange"))) {
    return "no change records of " + year + " (" + names.Plain("ndChange") +
           "): the survey has no layer " + kChangeLayer;
  }
  const TableNames base_names(names.IsServer() ? 1 : 0, base_year, names.County());
  const std::string base_table = base_names.UnitCopy(kSquareMetre, "statdata");
  const std::string missing = "no statistics of " + base_year + " (" + base_table + ")";
  if (names.IsServer()) return database.TableExists(base_table) ? "" : missing;
  const std::string file = BaseYearFile(database, base_year, names.County());
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return missing + ": no file " + file;
  try {
    db::Connection base(file);
    return base.TableExists(base_table) ? "" : missing + " in " + file;
  } catch (const db::DbError& failure) {
    return missing + ": " + file + ": " + failure.what();
  }
}

short CPrintStatDlg::PrintBalanceSheet(db::Connection& connection, const std::string& output_folder,
                                       const std::string& template_path,
                                       const std::string& report_name,
                                       const std::string& region_code, int unit, int server_names,
                                       const std::string& year, const std::string& county) {
  const std::string base_year = std::to_string(BaseYearOf(year));
  const TableNames names(server_names != 0 ? 1 : 0, year, county);
  const TableNames base_names(server_names != 0 ? 1 : 0, base_year, county);
  const auto refuse = [&](const char* message, const std::string& why) {
    return Refuse(report_name, std::string(message) + " (report " + report_name + ": " + why + ")");
  };
  // Last year's database: a file of its own beside this year's, or the server.
  db::Connection own;
  db::Connection* base = &connection;
  if (server_names == 0) {
    const std::string file = BaseYearFile(connection, base_year, county);
    std::error_code missing;
    try {
      if (!fs::is_regular_file(file, missing)) throw db::DbError("there is no such file");
      own.Open(file);
    } catch (const db::DbError& error) {
      return refuse(kNoBaseYearFile,
                    "no statistics database of " + base_year + " at " + file + ": " + error.what());
    }
    base = &own;
  }
  const std::string base_table = base_names.UnitCopy(kSquareMetre, "statdata");
  if (IsTblExist(*base, base_table) == 0) {
    return refuse(kNoBaseYearData,
                  base_year + " has no table " + base_table + " in " + base->Location());
  }
  if (const std::string problem = BaseYearProblem(*base, base_year, county); !problem.empty()) {
    return refuse(kNoBaseYearData, problem);
  }
  const std::string current_table = names.UnitCopy(kSquareMetre, "statdata");
  const std::string change_table = names.Plain("ndChange");
  for (const std::string& table : {current_table, change_table}) {
    if (IsTblExist(connection, table) == 0) {
      return refuse(
          kNoCurrentData,
          year + " has no table " + table + " in " + connection.Location() +
              (table == change_table
                   ? std::string(": no change records were copied from the layer ") + kChangeLayer
                   : std::string()));
    }
  }
  BalanceNotes notes;
  const short table =
      GetBalanceAi(settings_.codes, &connection, server_names != 0 ? nullptr : base, base_table,
                   current_table, change_table, county, region_code, server_names, &notes);
  if (own.IsOpen()) own.Close();
  if (table <= 0) return refuse(kBalanceFailed, notes.failure);
  if (!notes.notice.empty()) host::AfxMessageBox(notes.notice);
  WriterPlan plan;
  plan.rows = std::make_shared<BalanceRows>(table);
  // The unit's own decimals, as its class tables have them.
  if (BalanceTableInUnit(table, static_cast<short>(unit),
                         ConvertedDecimals(static_cast<short>(unit))) == 0) {
    return refuse(kBalanceFailed, "the table cannot be converted to the unit");
  }
  return WriteReport({connection, output_folder, template_path, report_name, region_code,
                      static_cast<short>(unit), names},
                     plan);
}

}  // namespace landstat::report
