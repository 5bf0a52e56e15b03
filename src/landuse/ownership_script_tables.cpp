// The rural table by ownership nature at every class level, NCTDLY_QSSJFL,
// made by the installation's SQL scripts: the administrative code table
// NCTDLYQS the scripts join for names, the generated column lists, and on
// the embedded database three partial tables joined into one (a view on a
// server).

#include <fmt/printf.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "landuse/land_use_families.h"
#include "platform/db/backend.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr char kFailed[] = "生成汇总农村土地利用按权属分类二三级表失败";
// The embedded database's partial tables: totals, state-owned, collective.
// They live only until the joined table is made, as the connection's
// temporary tables: neither they nor their indexes are written into the
// database file, each statement's commit syncing it, only to be freed.
constexpr const char* kWorkTables[] = {"tempyji", "tempeji", "tempsji"};

// The three kinds of column of each class, in the embedded and the server
// spelling ("%s" takes the code twice).
struct ColumnKind {
  const char* embedded;
  const char* server;
  const char* classified;  // on the embedded database, of a source of this kind's rows only
};

const ColumnKind kColumnKinds[] = {
    {"SUM(a.BM%s) AS BM%sHJ", "SUM(a.BM%s) AS BM%sHJ", "SUM(a.BM%s) AS BM%sHJ"},
    {"SUM(iif(a.权属性质 LIKE '1%%' OR a.权属性质 LIKE '2%%' ,a.BM%s , 0 )) AS BM%sG",
     "SUM(CASE WHEN a.权属性质 LIKE '1%%' OR a.权属性质 LIKE '2%%' THEN a.BM%s ELSE 0 END) AS "
     "BM%sG",
     "SUM(a.BM%s) AS BM%sG"},
    {"SUM(iif(a.权属性质 LIKE '3%%' OR a.权属性质 LIKE '4%%' ,a.BM%s , 0 )) AS BM%sJ",
     "SUM(CASE WHEN a.权属性质 LIKE '3%%' OR a.权属性质 LIKE '4%%' THEN a.BM%s ELSE 0 END) AS "
     "BM%sJ",
     "SUM(a.BM%s) AS BM%sJ"},
};

// The embedded database's sources of the scripts, one table a script, each
// holding the rows its list counts (OwnershipScriptSources).
constexpr const char* kScriptSources[] = {"landstat_ownership_hj", "landstat_ownership_g",
                                          "landstat_ownership_j"};

// The scripts of the table, which exist only as files beside the
// configuration: the embedded database's totals, state-owned and
// collective; a server's one.
std::vector<const char*> OwnershipScriptNames(bool server) {
  if (server) return {"NCQSYJFL"};
  return {"NCQSYJFL", "NCQSYJFL2", "NCQSYJFL3"};
}

// The indexes of the codes of the state-owned and collective work tables,
// which the join looks up a row of the totals at a time; they go with the
// tables.
std::vector<std::string> WorkTableIndexes() {
  std::vector<std::string> statements;
  for (std::size_t i = 1; i < 3; ++i) {
    statements.push_back(fmt::format("CREATE INDEX {0}_xzqdm ON {0}(XZQDM)", kWorkTables[i]));
  }
  return statements;
}

// Drops the partial tables a join was made from (or a failed one left).
void DropWorkTables(db::Connection& conn) {
  for (const char* table : kWorkTables)
    conn.Execute(std::string("DROP TABLE IF EXISTS temp.") + table);
}

// Joins entries with ",\r\n" and ends the list with "\r\n".
std::string JoinColumns(const std::vector<std::string>& entries) {
  std::string list;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    list += entries[i] + (i + 1 < entries.size() ? ",\r\n" : "\r\n");
  }
  return list;
}

}  // namespace

std::vector<std::string> CStatContext::OwnershipColumnLists(bool server, bool classified) const {
  std::vector<std::vector<std::string>> entries(server ? 1 : 3);
  for (const std::string& code : m_arrClassCodes) {
    if (!IsRuralClassCode(code)) continue;
    for (std::size_t kind = 0; kind < 3; ++kind) {
      const ColumnKind& form = kColumnKinds[kind];
      // Every row of a classified source passes its list's test: the sum
      // of the areas alone is the same.
      const char* text = server ? form.server : classified ? form.classified : form.embedded;
      entries[server ? 0 : kind].push_back(fmt::sprintf(text, code, code));
    }
  }
  std::vector<std::string> lists;
  for (const auto& list : entries) lists.push_back(JoinColumns(list));
  return lists;
}

bool CStatContext::ReplaceTableForScript(const std::string& table) {
  if (IsTableExist(table) && DropTable(table) == 0) {
    // Said to be locked only when a lock is what the database reported; the
    // database's own text follows either way.
    LogFailure("删除旧表", fmt::sprintf(m_bDropLocked ? "%s 被其他用户锁定：%s" : "%s 无法删除：%s",
                                        table, m_strDropError));
    return false;
  }
  return true;
}

namespace {

struct AdministrativeCode {
  std::string code, name, type;
};

// The administrative codes of the code layer, in its order; of a code the
// layer holds twice, the last record only, where it stands.
std::vector<AdministrativeCode> AdministrativeCodes(gis::LayerHandle layer, long count) {
  std::vector<AdministrativeCode> codes;
  gis::Record record;
  for (long number = 0; number < count; ++number) {
    if (!gis::ReadRecord(layer, gis::EntityKind::kTable, number, record)) continue;
    std::string type = record.Text("代码类型");
    if (type.find("行政代码") == std::string::npos) continue;
    codes.push_back({record.Text("代码"), record.Text("代码名称"), std::move(type)});
  }
  std::set<std::string> later;
  std::vector<AdministrativeCode> last;
  for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
    if (later.insert(code->code).second) last.push_back(std::move(*code));
  }
  std::reverse(last.begin(), last.end());
  return last;
}

}  // namespace

short CStatContext::BuildNcTdlyQsCodeTable() {
  const gis::LayerHandle layer = m_pRuralCode ? m_pRuralCode->m_ai : 0;
  if (layer <= 0) return 0;
  const long count = gis::RecordCount(layer, gis::EntityKind::kTable);
  if (count <= 0) return 0;
  // The table is shared by every year and county of a server database, and
  // the ownership views of other years join it: it is never dropped once
  // made. This county's rows are replaced; other counties' stay.
  std::vector<std::vector<std::string>> rows;
  for (AdministrativeCode& code : AdministrativeCodes(layer, count)) {
    rows.push_back({std::move(code.name), std::move(code.code), std::move(code.type)});
  }
  try {
    db::Transaction transaction(m_pConn);
    RefreshCountyRows(m_pConn, kNcTdlyQsTable, m_strPrefix2, rows);
    transaction.Commit();
  } catch (const db::DbError& error) {
    LogFailureText(kNcTdlyQsTable.name, std::string("数据添加失败 ") + error.what() + "\r\n");
    return 0;
  }
  // The scripts join this county's rows only.
  m_strCodeTblSql = CountyRowsOf(kNcTdlyQsTable, m_strPrefix2);
  return 1;
}

short CStatContext::CreateNcTdlyQsSjflTables() {
  // Checked before the shared code table is touched; one failure, not one
  // per table.
  for (const char* name : OwnershipScriptNames(m_nDbMode != 0)) {
    if (!StatementScript(name, 0, "NCTDLY_QSSJFL")) return 0;
  }
  return BuildNcTdlyQsCodeTable();
}

std::string CStatContext::OwnershipScriptJoin(const std::string& target) {
  // The three partial tables share the unit columns; the joined table keeps
  // one pair of them, after the class columns.
  std::string select;
  const char* const aliases[] = {"a", "b", "c"};
  for (std::size_t i = 0; i < 3; ++i) {
    for (const db::ColumnInfo& column : m_pConn.Columns(kWorkTables[i])) {
      if (column.name == "XZQDM" || column.name == "XZQMC") continue;
      select += fmt::format("{}.{},", aliases[i], column.name);
    }
  }
  select += "a.XZQDM AS XZQDM,a.XZQMC AS XZQMC";
  // Joined one after the other (b's code is never null where c is joined,
  // so the rows and their order are those of joining b to c first): the
  // engine then looks each code up in the indexes of the two tables, where
  // the nested form copied b joined to c whole and indexed that copy.
  const std::string join = fmt::sprintf(
      "select %s from %s a left outer join %s b on a.XZQDM = b.XZQDM left outer join %s c on "
      "b.XZQDM = c.XZQDM",
      select, kWorkTables[0], kWorkTables[1], kWorkTables[2]);
  return fmt::sprintf("select * into %s from (%s) as tt", target, join);
}

short CStatContext::MakeNcTdlyQsSjfl(const std::string& target, const std::string& source,
                                     const std::string& code_table, int by_location, int decimals) {
  return MakeNcTdlyQsSjfl(target, std::vector<std::string>(3, source), code_table, by_location,
                          decimals);
}

short CStatContext::MakeNcTdlyQsSjfl(const std::string& target,
                                     const std::vector<std::string>& sources,
                                     const std::string& code_table, int by_location, int decimals) {
  const bool server = m_nDbMode != 0;
  const bool classified =
      !server && std::equal(sources.begin(), sources.end(), std::begin(kScriptSources),
                            std::end(kScriptSources));
  const std::vector<std::string> lists = OwnershipColumnLists(server, classified);
  std::vector<std::string> scripts;
  for (const char* name : OwnershipScriptNames(server)) {
    std::optional<std::string> script = StatementScript(name, 0, target);
    if (!script) return 0;
    scripts.push_back(std::move(*script));
  }
  const char* const list_placeholders[] = {"ALLFIELD", "ALLBZFIELD", "ALLBZLFIELD"};
  std::vector<std::string> statements;
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    std::string statement =
        server
            ? fmt::sprintf(m_bOracle ? "create or replace view %s as %s" : "create view %s as %s",
                           target, scripts[i])
            : fmt::sprintf("select * into temp.%s from (%s) as tt", kWorkTables[i], scripts[i]);
    if (!by_location) statement = ReplaceAll(statement, "座落单位代码", "权属单位代码");
    statement = ReplaceAll(statement, "TBLSOURCE", sources[i]);
    statement = ReplaceAll(statement, "CODETBL", code_table);
    statement = ReplaceAll(statement, list_placeholders[i], lists[i]);
    statements.push_back(Dialect().RoundSums(statement, decimals));
  }
  std::string current = statements[0];
  try {
    if (!ReplaceTableForScript(target)) return 0;
    if (!server) {
      // Tables of that name an earlier run left in the database go too.
      for (const char* table : kWorkTables) {
        if (!ReplaceTableForScript(table)) return 0;
      }
      DropWorkTables(m_pConn);
    }
    if (server) {
      m_pConn.Execute(current);
      SaveStatSqlScript(target, current, "");
      return 1;
    }
    for (std::size_t i = 0; i < 3; ++i) {
      current = statements[i];  // the statement saved when it fails
      m_pConn.Execute(current);
    }
    for (std::size_t i = 0; i < 3; ++i) SaveStatSqlScript(kWorkTables[i], statements[i], "");
    for (const std::string& index : WorkTableIndexes()) {
      current = index;
      m_pConn.Execute(current);
    }
    current = OwnershipScriptJoin(target);
    m_pConn.Execute(current);
    SaveStatSqlScript(target, current, "");
    DropWorkTables(m_pConn);
    return 1;
  } catch (const db::DbError& error) {
    LogFailureText(target, std::string(kFailed) + " " + error.what() + "\r\n");
    SaveStatSqlScript(target, current, "");
    return 0;
  }
}

namespace {

// One unit's sums for the scripts' sources, by class column: of every row,
// of the state-owned rows (nature "1..." or "2...") and of the collective
// rows ("3..." or "4..."). A sum is null, as SQL's SUM is, while every
// value it took was null; a row of another class adds 0 to the state-owned
// and collective sums, as the lists' tests do.
struct UnitSums {
  std::vector<double> sums[3];
  std::vector<bool> seen[3];
};

enum NatureClass { kAll, kState, kCollective };

// The class of a nature by the lists' tests: LIKE '1%' OR LIKE '2%' and
// LIKE '3%' OR LIKE '4%'.
int NatureClassOf(bool null, std::string_view nature) {
  if (null || nature.empty()) return kAll;
  if (nature[0] == '1' || nature[0] == '2') return kState;
  if (nature[0] == '3' || nature[0] == '4') return kCollective;
  return kAll;
}

// The scripts' sources made from `summed`: each has a row per unit code of
// the scope (`unit_column`, in its order) with the areas its script adds up
// and a nature its list counts: all the areas for the totals; for
// state-owned and collective land the areas of that class, the sum of the
// same terms the list would add row by row. One pass over `summed`.
void MakeScriptSources(db::Connection& conn, const std::string& summed, const char* unit_column,
                       const std::vector<std::string>& class_codes) {
  std::vector<std::string> columns;
  for (const std::string& code : class_codes) {
    if (IsRuralClassCode(code)) columns.push_back("BM" + code);
  }
  std::string list;
  for (const std::string& column : columns) list += "," + column;
  std::map<std::optional<std::string>, UnitSums> units;
  {
    const auto rows =
        conn.Scan(fmt::format("SELECT {},权属性质{} FROM {}", unit_column, list, summed));
    while (rows->Next()) {
      std::optional<std::string> unit;
      if (!rows->IsNull(0)) unit = std::string(rows->Text(0));
      UnitSums& sums = units[unit];
      if (sums.sums[kAll].empty()) {
        for (int kind = 0; kind < 3; ++kind) {
          sums.sums[kind].assign(columns.size(), 0.0);
          sums.seen[kind].assign(columns.size(), false);
        }
      }
      const int nature = NatureClassOf(rows->IsNull(1), rows->Text(1));
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const int field = static_cast<int>(c) + 2;
        // The class sums take 0 from every row outside their class.
        for (int kind : {kState, kCollective}) {
          if (kind != nature) sums.seen[kind][c] = true;
        }
        if (rows->IsNull(field)) continue;
        const double value = rows->Number(field);
        sums.sums[kAll][c] += value;
        sums.seen[kAll][c] = true;
        if (nature != kAll) {
          sums.sums[nature][c] += value;
          sums.seen[nature][c] = true;
        }
      }
    }
  }
  const char* const natures[] = {nullptr, "1", "3"};
  std::vector<std::string> names = {unit_column, "权属性质"};
  names.insert(names.end(), columns.begin(), columns.end());
  for (int kind = 0; kind < 3; ++kind) {
    conn.Execute(fmt::format("CREATE TEMPORARY TABLE {} AS SELECT {},权属性质{} FROM {} WHERE 1=0",
                             kScriptSources[kind], unit_column, list, summed));
    db::RowWriter writer(conn, kScriptSources[kind], names);
    std::vector<db::Value> values(names.size());
    for (const auto& [unit, sums] : units) {
      values[0] = unit ? db::Value(*unit) : db::Value();
      values[1] = natures[kind] ? db::Value(std::string(natures[kind])) : db::Value();
      for (std::size_t c = 0; c < columns.size(); ++c) {
        values[c + 2] = sums.seen[kind][c] ? db::Value(sums.sums[kind][c]) : db::Value();
      }
      writer.Add(values);
    }
    writer.Close();
  }
}

}  // namespace

void CStatContext::DropOwnershipScriptSources() {
  try {
    for (const char* table : kScriptSources) {
      m_pConn.Execute(std::string("DROP TABLE IF EXISTS ") + table);
    }
  } catch (const db::DbError& error) {
    // They end with the connection anyway; only their space is held longer.
    LogNotice(kScriptSources[0], std::string("临时表未能删除 (") + error.what() + ")");
  }
}

std::vector<std::string> CStatContext::OwnershipScriptSources(short unit, bool by_location) {
  const std::string summed = SummarySource(unit);
  // Each script reads its source four times, once per level, and tests the
  // nature for every class of every row: the copy summed by level still
  // holds a row per location unit, owner and nature. The shipped scripts
  // read only the unit code of the scope, the nature and the class areas;
  // summed to a row per unit for each script, their sources are a third to
  // a fifth as many rows, narrower, and each row passes its list's first
  // test.
  try {
    DropOwnershipScriptSources();
    MakeScriptSources(m_pConn, summed, by_location ? "座落单位代码" : "权属单位代码",
                      m_arrClassCodes);
  } catch (const db::DbError& error) {
    // The same figures, only slower: the scripts read the summed copy.
    LogNotice("汇总 " + summed,
              std::string("按权属性质汇总的临时表未能建立, 直接读取 (") + error.what() + ")");
    return std::vector<std::string>(3, summed);
  }
  return {std::begin(kScriptSources), std::end(kScriptSources)};
}

short CStatContext::StatNcTdlyQsSjfl() {
  for (short scope : {short{0}, short{1}}) {
    if (m_nStatScope != 2 && m_nStatScope != scope) continue;
    for (short unit : {kSquareMetre, kHectare, kMu}) {
      if (!WantsSummaryUnit(unit)) continue;
      const std::string target = m_names.Summary(scope ? 'Q' : 'Z', unit, "NCTDLY_QSSJFL");
      // The embedded database stores the result, so the scripts read the
      // copy summed to what they group and add up (the same sums, far fewer
      // rows); a server's view must name the copy itself.
      if (m_nDbMode == 0) {
        MakeNcTdlyQsSjfl(target, OwnershipScriptSources(unit, scope == 0), m_strCodeTblSql,
                         scope == 0 ? 1 : 0, DecimalsOf(unit));
      } else {
        MakeNcTdlyQsSjfl(target, m_names.UnitCopy(unit, "statdata"), m_strCodeTblSql,
                         scope == 0 ? 1 : 0, DecimalsOf(unit));
      }
    }
  }
  if (m_nDbMode == 0) DropOwnershipScriptSources();
  return 1;
}

}  // namespace landstat

namespace landstat::landuse {

std::vector<TableFamily> OwnershipScriptFamilies() {
  return {{.base = "NCTDLY_QSSJFL",
           .stage = 610,
           .builds = Rural,
           .create = [](C& c) { return c.CreateNcTdlyQsSjflTables(); },
           .fill = [](C& c) { c.StatNcTdlyQsSjfl(); },
           .reads_layers = true}};
}

}  // namespace landstat::landuse
