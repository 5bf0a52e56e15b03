// The Inner Mongolia land-use ledger ZPMTDLYTZMG (one row per parcel number
// of each ownership and location unit, in square metres, with the names of
// its location's levels from QSDMB) and the ledger's second-level work table
// ZPMTDLY_EJFLTZMG, which the report output fills. The ledger's rows are
// the sums the base fill kept, written once.

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_map>

#include "mongolia/mg_beside.h"
#include "mongolia/mg_stat_context.h"
#include "mongolia/mg_table_names.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/host/progress.h"
#include "platform/text/number_text.h"
#include "platform/text/text_encoding.h"

namespace landstat {

namespace {

constexpr const char* kLedgerTexts[] = {"省名称",
                                        "省级代码",
                                        "市名称",
                                        "市级代码",
                                        "县名称",
                                        "县级代码",
                                        "乡名称",
                                        "乡级代码",
                                        "村名称",
                                        "村级代码",
                                        "内蒙古权属单位名称",
                                        "内蒙古权属单位代码",
                                        "座落单位名称",
                                        "座落单位代码",
                                        "图斑编号",
                                        "土地总面积"};

// A level of the location code: its name and code columns and its length.
struct LedgerLevel {
  const char* name;
  const char* code;  // nullptr: the unit itself, whose code is the row's own
  int length;
};
constexpr LedgerLevel kLedgerLevels[] = {{"省名称", "省级代码", 2},  {"市名称", "市级代码", 4},
                                         {"县名称", "县级代码", 6},  {"乡名称", "乡级代码", 9},
                                         {"村名称", "村级代码", 12}, {"座落单位名称", nullptr, 19}};

// QSDMB's codes are filled up with "0" to nineteen characters.
constexpr int kPaddedCode = 19;

}  // namespace

namespace {

// The ledger table's statement; `options` follow its columns.
std::string LedgerStatement(const CMgStatContext& context, const std::string& table,
                            const std::string& options = {}) {
  std::string statement = "Create Table " + table + "(";
  for (const char* column : kLedgerTexts) statement += std::string(column) + " varchar(40),";
  for (std::size_t i = 0; i < context.m_arrClassCodes.size(); ++i) {
    statement += (i ? "," : "") + ("BM" + context.m_arrClassCodes[i]) + " double default 0.00";
  }
  return context.Dialect().ApplyTypeWords(statement + ")" + options);
}

// QSDMB's names by code, the first row of a code where several hold it.
std::unordered_map<std::string, std::string> QsdmbNames(db::Connection& connection) {
  std::unordered_map<std::string, std::string> names;
  std::unique_ptr<db::RowSource> rows = connection.Scan("select QSDWDM, QSDWMC from QSDMB");
  while (rows->Next()) {
    if (!rows->IsNull(0) && !rows->IsNull(1)) names.emplace(rows->Text(0), rows->Text(1));
  }
  return names;
}

// The ledger's rows from the base rows the fill grouped, stored in `table`
// through `connection`, the names of their location's levels from QSDMB,
// read once; when QSDMB cannot be read, the rows go in unnamed and
// `unnamed` says why. Raises DbError when the rows cannot be stored. Reads
// the groupings and the texts only, so that it may run beside the run's
// own work on them (which reads them too).
void WriteLedgerRows(CMgStatContext& context, db::Connection& connection, const std::string& table,
                     std::optional<db::DbError>& unnamed) {
  const mg::MgBaseGroups& groups = context.BaseGroups();
  const mg::MgTexts& texts = context.Texts();
  // The names of the location's levels: the level's row of QSDMB is the
  // location code's prefix filled up with zeros to nineteen characters.
  std::unordered_map<std::string, std::string> names;
  try {
    names = QsdmbNames(connection);
  } catch (const db::DbError& error) {
    unnamed = error;  // the rows go in unnamed, and the run is told
  }
  std::vector<std::string> columns = {"图斑编号", "内蒙古权属单位代码", "内蒙古权属单位名称",
                                      "座落单位代码", "土地总面积"};
  for (const LedgerLevel& level : kLedgerLevels) {
    columns.push_back(level.name);
    if (level.code) columns.push_back(level.code);
  }
  const std::vector<std::string>& figures = groups.Figures();
  std::vector<int> class_place(figures.size(), -1);  // by figure: its place in the row
  for (const std::string& code : context.m_arrClassCodes) {
    const auto found = std::find(figures.begin(), figures.end(), "BM" + code);
    if (found == figures.end()) continue;
    class_place[found - figures.begin()] = static_cast<int>(columns.size());
    columns.push_back("BM" + code);
  }
  // The levels' names and codes of each location, worked out once.
  std::unordered_map<std::uint32_t, std::vector<db::Value>> levels;
  const auto levels_of = [&](std::uint32_t location) -> const std::vector<db::Value>& {
    auto [found, added] = levels.try_emplace(location);
    if (!added) return found->second;
    // A null location has null levels.
    const bool null = location == mg::MgTexts::kNull;
    for (const LedgerLevel& level : kLedgerLevels) {
      const std::string prefix(text::FirstCharacters(texts.Text(location), level.length));
      const auto name = names.find(prefix + std::string(kPaddedCode - level.length, '0'));
      found->second.push_back(null || name == names.end() ? db::Value() : db::Value(name->second));
      if (level.code) found->second.push_back(null ? db::Value() : db::Value(prefix));
    }
    return found->second;
  };
  // The total column is text: an embedded database stores the number as
  // its CAST writes it; a server is given the text its CAST writes, the
  // same digits for the sums a ledger holds.
  const bool server = connection.Kind() != db::DbKind::kEmbedded;
  // The rows are made here while a thread of the pipe stores them.
  db::RowPipe pipe(connection, table, columns);
  for (const auto& [key, sums] : groups.Ledger()) {
    // Cancelled: the job ends once the rows made are stored.
    if (host::JobCancelled()) break;
    // Every column is set, the classes cleared of what a row before left.
    std::vector<db::Value>& row = pipe.Row();
    if (row.size() != columns.size()) row.assign(columns.size(), db::Value(0.0));
    for (int place : class_place) {
      if (place >= 0) row[place] = 0.0;
    }
    row[0] = key.number == "\x1e" ? db::Value() : db::Value(key.number);
    row[1] = texts.ValueOf(key.owner_code);
    row[2] = texts.ValueOf(key.owner_name);
    row[3] = texts.ValueOf(key.location);
    const double total = text::RoundDecimal(sums.total, 1);
    row[4] = server ? db::Value(text::DoubleToText(total)) : db::Value(total);
    const std::vector<db::Value>& named = levels_of(key.location);
    std::copy(named.begin(), named.end(), row.begin() + 5);
    groups.ForEachClass(sums, [&](std::uint16_t figure, double sum) {
      if (class_place[figure] >= 0) row[class_place[figure]] = text::RoundDecimal(sum, 1);
    });
    pipe.Add();
  }
  pipe.Close();
}

}  // namespace

void CMgStatContext::StartLedgerBeside() {
  if (!m_bPm || m_arrClassCodes.empty() || !m_groups.Begun()) return;
  const mg::MgBesideSchema* schema = BesideSchema();
  if (!schema) return;
  try {
    m_ledgerBeside = std::make_shared<mg::MgBesideLane>(*schema);
    m_ledgerBeside->Add(
        MgLedgerTable(Names()),
        [this](const std::string& table, const std::string& options) {
          return LedgerStatement(*this, table, options);
        },
        [this](db::Connection& connection, const std::string& table) {
          WriteLedgerRows(*this, connection, table, m_ledgerUnnamed);
          // Stored: its rows go while the run goes on, which never reads
          // them again (the ledger is written once, here).
          m_groups.ReleaseLedger();
        });
  } catch (const db::DbError& error) {
    LogNotice("数据库", std::string("无法另开连接同时汇总内蒙古台帐 (") + error.what() + ")");
  }
}

short CMgStatContext::CreateTdlyTzTables() {
  if (!m_bPm) return 0;
  if (!m_ledgerBeside) return CreateTdlyTzTable(MgLedgerTable(Names()));
  const mg::MgBesideLane::Outcome& ledger = m_ledgerBeside->Finish().front();
  const auto failed = [&](const db::DbError& error) {
    LogFailure("创建蒙古土地利用统计台帐", "创建蒙古土地利用统计台帐表失败", error);
    return short{0};
  };
  if (ledger.create_failure) return failed(*ledger.create_failure);
  try {
    SetAside(ledger.table);
    m_besideSchema->MoveInto(m_pConn, ledger.table);
    return 1;
  } catch (const db::DbError& error) {
    return failed(error);
  }
}

short CMgStatContext::CreateTdlyTzTable(const std::string& table) {
  try {
    SetAside(table);
  } catch (const db::DbError& error) {
    LogFailure("创建蒙古土地利用统计台帐", "创建蒙古土地利用统计台帐表失败", error);
    return 0;
  }
  if (m_arrClassCodes.empty()) return 0;
  try {
    m_pConn.Execute(LedgerStatement(*this, table));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("创建蒙古土地利用统计台帐", "创建蒙古土地利用统计台帐表失败", error);
    return 0;
  }
}

std::string CMgStatContext::GeneralRuralSecondLevelTable() const {
  // The general run names its tables with the year and county on a server.
  const bool server = m_pConn.IsOpen() && m_pConn.Kind() != db::DbKind::kEmbedded;
  return TableNames(server ? 1 : 0, m_strPrefix1, m_strPrefix2)
      .Summary('Z', kSquareMetre, "NCTDLY_EJFL");
}

short CMgStatContext::CreateTdlyEjflTzTable() {
  if (!m_bPm) return 0;
  return MakeTdlyEjflTzTable(MgLedgerWorkTable(Names()));
}

short CMgStatContext::MakeTdlyEjflTzTable(const std::string& table) {
  const std::string source = GeneralRuralSecondLevelTable();
  try {
    // Made anew: an earlier run's table is dropped first, also when this
    // run cannot make it again.
    if (IsTableExist(table)) m_pConn.Execute("drop table " + table);
    if (!IsTableExist(source)) {
      LogNotice(table, "没有表 " + source + " (尚未统计), 未生成");
      return 0;
    }
    m_pConn.Execute(Dialect().CopyStructure(table, source));
    // A parcel number is an identifier: text as the layer holds it ("0012",
    // "12A"), as wide as the ledger's.
    m_pConn.Execute("ALTER TABLE " + table + " ADD COLUMN 图斑编号 varchar(40)");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("创建蒙古土地利用台帐工作表", table + " 建立失败", error);
    return 0;
  }
}

short CMgStatContext::StatTdlyTz() {
  short filled = 0;
  if (m_bPm && m_ledgerBeside) {
    filled = LedgerFilled(m_ledgerBeside->Finish().front().fill_failure, m_ledgerUnnamed);
  } else if (m_bPm) {
    filled = SumTdlyTz(MgLedgerTable(Names()));
  }
  CompactWorkingCopy();
  return filled > 0 ? 1 : 0;
}

short CMgStatContext::SumTdlyTz(const std::string& table) {
  if (!m_groups.Begun()) {
    LogFailure("汇总蒙古土地利用台帐", "内蒙古基础汇总表不是本次汇总填写的, 台帐未汇总");
    return 0;
  }
  std::optional<db::DbError> failure, unnamed;
  LendConnection(true);
  try {
    WriteLedgerRows(*this, m_pConn, table, unnamed);
  } catch (const db::DbError& error) {
    failure = error;
  }
  LendConnection(false);
  return LedgerFilled(failure, unnamed);
}

short CMgStatContext::LedgerFilled(const std::optional<db::DbError>& failure,
                                   const std::optional<db::DbError>& unnamed) {
  if (failure) {
    LogFailure("汇总蒙古土地利用台帐", "汇总蒙古土地利用台帐失败", *failure);
    return 0;
  }
  EndIfStopped("汇总蒙古土地利用台帐");
  if (unnamed) {
    LogFailure("汇总蒙古土地利用台帐", "汇总蒙古土地利用台帐失败", *unnamed);
    return 0;
  }
  return 1;
}

}  // namespace landstat
