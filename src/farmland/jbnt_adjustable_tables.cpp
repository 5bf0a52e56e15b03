// The adjustable-farmland tables: the area of the farmland whose class
// remark is exactly 'K' or 'k', one K column per land class. JBNTKTZ sums it
// by village (and village group), township and county; BHKKTZ by protection
// block. Both are summed from the unit copies of the farmland base table,
// then completed with rows of 0 for every village, group or block of the
// copy that has no adjustable land, so that each of them is listed.

#include <fmt/printf.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

const char kJbntKtz[] = "JBNTKTZ";
const char kBhkKtz[] = "BHKKTZ";
const char kJbntCopy[] = "statdata_jbnt";

const char kLevelTitle[] = "汇总基本农田可调整地";
const char kGroupFailed[] = "汇总村民小组基本农田数据失败";
const char kAdjustable[] = "(地类备注 LIKE 'K' OR 地类备注 LIKE 'k')";
// The key columns of the two tables and the characters they hold.
constexpr std::size_t kCodeChars = 19;
constexpr std::size_t kBlockChars = 20;

// The class lists of both fills, in code-table order: the sums of the base
// columns, the sums of the K columns and the K columns (closed by ")").
struct KLists {
  std::string base_sums, k_sums, columns;
};

KLists KListsOf(const std::vector<std::string>& codes) {
  KLists lists;
  for (const std::string& code : codes) {
    const char* comma = lists.columns.empty() ? "" : ",";
    lists.base_sums += comma + ("SUM(BM" + code + ") ");
    lists.k_sums += comma + ("SUM(BM" + code + "K) ");
    lists.columns += comma + ("BM" + code + "K");
  }
  lists.columns += ")";
  return lists;
}

// The "山东" rule as a further condition.
std::string ShandongFilter(const CStatContext& c) {
  return farmland::LeavesTransferredOut(c) ? std::string("AND ") + farmland::kNotTransferredIn : "";
}

// Adds a row holding only its code (every area at its default 0) for each
// distinct code of the source that the target does not hold yet. Codes are
// compared by equality (a join, which the databases answer by an index or
// a hash rather than a search per code); NULL and empty codes are skipped
// (on Oracle the empty text is NULL).
std::string CompletionStatement(const CStatContext& c, const std::string& target,
                                const std::string& key, const std::string& source,
                                const std::string& code, const std::string& condition) {
  const std::string present = c.m_bOracle ? " is not null" : " <> ''";
  return fmt::sprintf(
      "insert into %s (%s) select d.code from (select distinct %s as code from %s where %s%s%s) "
      "d left join %s t on t.%s = d.code where t.%s is null",
      target, key, code, source, code, present, condition, target, key, key);
}

std::string KtzCreateStatement(const CStatContext& c, const std::string& name,
                               const char* key_column) {
  std::string sql = "Create Table " + name + "(" + key_column +
                    " ,XZQMC varchar(60) ,XZQZMJ double default 0.00,";
  for (std::size_t i = 0; i < c.m_arrClassCodes.size(); ++i) {
    sql += (i ? "," : "") + ("BM" + c.m_arrClassCodes[i] + "K double default 0.00");
  }
  if (sql.back() == ',') sql.pop_back();
  return c.TypeWords(sql + ")");
}

struct CreateWording {
  const char* title;
  const char* message;
  bool show;  // the database's own words shown to the operator as well
};

// Drops a table of that name, creates it empty and lists it as created.
short CreateKtzLayout(CStatContext& c, const std::string& name, const char* key_column,
                      const CreateWording& wording) {
  if (c.IsTableExist(name)) c.DropTable(name);
  try {
    c.m_pConn.Execute(KtzCreateStatement(c, name, key_column));
  } catch (const db::DbError& error) {
    if (wording.show) host::AfxMessageBox(error.what());
    c.LogFailure(wording.title, wording.message, error);
    return 0;
  }
  c.m_arrCreatedTbls.push_back(name);
  return 1;
}

// The adjustable land of one level grouped in memory as its two statements
// group it: the K rows summed by the level's code, and the codes of the
// copy that each get a row of 0 where that sum gave none.
struct AdjustableLevel {
  db::GroupedSums* sums = nullptr;
  db::GroupedSums* listed = nullptr;
};

// The groupings a fill reads from one unit copy, in one scan, by name.
struct CopyGroupings {
  std::vector<std::unique_ptr<db::GroupedSums>> read;
  std::map<std::string, db::GroupedSums*> by_name;
  db::GroupedSums* operator[](const std::string& name) const { return by_name.at(name); }
};

// The K rows of `source` that `condition` keeps, summed by `key`: the total
// area and every class, rounded to `decimals` as the statement rounds them.
db::GroupedSumsQuery AdjustableSums(const CStatContext& c, const std::string& source,
                                    const std::string& key, const std::string& condition,
                                    int decimals) {
  std::vector<std::string> sums = {"土地总面积"};
  for (const std::string& code : c.m_arrClassCodes) sums.push_back("BM" + code);
  return {source, condition + kAdjustable + " " + ShandongFilter(c), {key}, sums, decimals};
}

// The codes of `source` the completion statement lists, in the order first
// met, as its DISTINCT lists them.
db::GroupedSumsQuery ListedCodes(const std::string& source, const std::string& code,
                                 const std::string& condition) {
  return {source, code + " <> ''" + condition, {code}, {}, -1};
}

// Reads `queries`, named by `names`, in one scan of their copy; none when the
// copy cannot be read that way (noticed: the statements then sum it) or a
// code is longer than `key_chars`, which the statements store and the rows
// written here would not.
CopyGroupings ReadCopyGroupings(CStatContext& c, const std::vector<std::string>& names,
                                const std::vector<db::GroupedSumsQuery>& queries,
                                std::size_t key_chars) {
  // The sums read the few adjustable rows, the listed codes every row but
  // only its codes: each in a scan of its own, so that neither reads what
  // only the other needs.
  CopyGroupings groupings;
  groupings.read.resize(queries.size());
  try {
    for (const bool summed : {true, false}) {
      std::vector<std::size_t> places;
      std::vector<db::GroupedSumsQuery> scanned;
      for (std::size_t i = 0; i < queries.size(); ++i) {
        if (queries[i].sums.empty() == summed) continue;
        places.push_back(i);
        scanned.push_back(queries[i]);
      }
      std::vector<std::unique_ptr<db::GroupedSums>> read =
          db::GroupedSums::ReadInOneScan(c.m_pConn, scanned);
      for (std::size_t i = 0; i < places.size(); ++i)
        groupings.read[places[i]] = std::move(read[i]);
    }
  } catch (const db::DbError& error) {
    c.LogNotice("汇总 " + queries.front().table,
                std::string("按级汇总未能在内存中完成, 逐级汇总 (") + error.what() + ")");
    return {};
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!farmland::KeysFit(*groupings.read[i], key_chars)) return {};
    groupings.by_name[names[i]] = groupings.read[i].get();
  }
  return groupings;
}

// Writes a level as its two statements would: the sums in the order of
// their codes, each under its K column (the total area as XZQZMJ), then a
// row of only its code for every listed code the table does not hold yet
// (`held`, which takes the codes written). A failure of either is logged
// under `title` and `message` (and shown to the operator when `shown`) and
// gives false.
bool WriteAdjustableLevel(CStatContext& c, const std::string& target, const std::string& key_column,
                          const AdjustableLevel& level, std::set<std::string>& held,
                          const char* title, const char* message, bool shown = false) {
  std::vector<db::GroupedSums::Column> columns = {{level.sums->Query().keys.front(), key_column},
                                                  {"土地总面积", "XZQZMJ"}};
  for (const std::string& code : c.m_arrClassCodes)
    columns.push_back({"BM" + code, "BM" + code + "K"});
  try {
    level.sums->WriteTo(c.m_pConn, target, columns, true, {}, [&](std::vector<db::Value>& row) {
      if (!row[0].IsNull()) held.insert(row[0].AsText());
    });
    db::RowWriter writer(c.m_pConn, target, {key_column});
    level.listed->VisitRows(level.listed->Columns(), false, {}, [&](std::vector<db::Value>& row) {
      if (held.insert(row[0].AsText()).second) writer.Add(row);
    });
    writer.Close();
    return true;
  } catch (const db::DbError& error) {
    if (shown) host::AfxMessageBox(error.what());
    c.LogFailure(title, message, error);
    return false;
  }
}

}  // namespace

short CStatContext::CreateJbntKtzTables() {
  for (const std::string& name : SummaryCopies(kJbntKtz, false)) CreateJbntKtzTable(name);
  return 1;
}

short CStatContext::CreateBhkKtzTables() {
  for (const std::string& name : SummaryCopies(kBhkKtz, false)) CreateBhkKtzTable(name);
  return 1;
}

short CStatContext::CreateJbntKtzTable(const std::string& name) {
  return CreateKtzLayout(*this, name, ("XZQDM varchar(" + std::to_string(kCodeChars) + ")").c_str(),
                         {"建立基本农田可调整表", "建立基本农田可调整表失败", false});
}

short CStatContext::CreateBhkKtzTable(const std::string& name) {
  return CreateKtzLayout(*this, name,
                         ("JBNTBHKNO varchar(" + std::to_string(kBlockChars) + ")").c_str(),
                         {"根据保护块建立可调整表", "根据保护块建立可调整表失败", true});
}

namespace {

// Whether the fills group the unit copies in memory: on the embedded engine,
// where the statements would read the copy four times a table and sort it.
bool GroupsInMemory(const CStatContext& c) {
  return c.m_pConn.Kind() == db::DbKind::kEmbedded && !c.m_bOracle;
}

// Townships from the table's own village rows, the county from its
// township rows; then the names.
void RollUpKtz(CStatContext& c, const std::string& target, int decimals) {
  const KLists lists = KListsOf(c.m_arrClassCodes);
  const std::string head = "insert into " + target + "(XZQDM,XZQZMJ," + lists.columns;
  c.RunLoggedStatement(c.LevelRollUp(head, lists.k_sums, target, 9, decimals), kLevelTitle,
                       kLevelMessages[1], true);
  c.RunLoggedStatement(c.LevelRollUp(head, lists.k_sums, target, 6, decimals), kLevelTitle,
                       kLevelMessages[0], true);
  c.FillXzqNames(target, "XZQDM", "XZQMC");
}

// The groupings of every wanted scope of JBNTKTZ from one unit copy: the
// villages by location and by owner and the villages listed, and, when the
// village groups are asked, the groups and the groups listed likewise.
CopyGroupings ReadKtzGroupings(CStatContext& c, const std::string& source, int decimals) {
  std::vector<std::string> names;
  std::vector<db::GroupedSumsQuery> queries;
  const auto add = [&](const std::string& name, db::GroupedSumsQuery query) {
    names.push_back(name);
    queries.push_back(std::move(query));
  };
  const std::string groups_like = c.GroupCodesLike() + " AND ";
  for (short scope : {short{0}, short{1}}) {
    if (c.m_nStatScope != 2 && c.m_nStatScope != scope) continue;
    const std::string tag = std::to_string(scope);
    add("village" + tag,
        AdjustableSums(c, source, scope == 0 ? "村级代码" : "left(权属单位代码,12)", "", decimals));
    if (!c.m_bGroupLevel) continue;
    const std::string group = scope == 0 ? "座落单位代码" : "权属单位代码";
    add("group" + tag, AdjustableSums(c, source, group, group + " like " + groups_like, decimals));
  }
  add("villages", ListedCodes(source, "村级代码", ""));
  if (c.m_bGroupLevel) {
    add("groups",
        ListedCodes(source, "座落单位代码", " and 座落单位代码 like '___________________'"));
  }
  return ReadCopyGroupings(c, names, queries, kCodeChars);
}

// JBNTKTZ of one scope from the groupings of its unit copy, as SumJbntKtz
// makes it.
short WriteJbntKtz(CStatContext& c, const std::string& target, short scope,
                   const CopyGroupings& groupings, int decimals) {
  const std::string tag = std::to_string(scope);
  std::set<std::string> held;
  WriteAdjustableLevel(c, target, "XZQDM", {groupings["village" + tag], groupings["villages"]},
                       held, kLevelTitle, kLevelMessages[2]);
  if (c.m_bGroupLevel &&
      !WriteAdjustableLevel(c, target, "XZQDM", {groupings["group" + tag], groupings["groups"]},
                            held, kLevelTitle, kGroupFailed)) {
    return 0;
  }
  RollUpKtz(c, target, decimals);
  return 1;
}

// Fills every wanted table of `base`: from the unit copy's groupings read
// once for both scopes where they are read in memory, else by `sum`'s
// statements.
void FillFromGroupings(
    CStatContext& c, const char* base,
    short (CStatContext::*sum)(const std::string&, short, const std::string&, int),
    const std::function<CopyGroupings(const std::string& source, int decimals)>& read,
    const std::function<void(const std::string& target, short scope, const CopyGroupings&,
                             int decimals)>& write) {
  std::map<short, CopyGroupings> grouped;
  c.ForEachSummaryTable(base, [&](const std::string& target, short scope, short unit) {
    const std::string source = c.Names().UnitCopy(unit, kJbntCopy);
    const int decimals = c.DecimalsOf(unit);
    if (GroupsInMemory(c) && !grouped.count(unit)) grouped[unit] = read(source, decimals);
    const CopyGroupings& groupings = grouped[unit];
    if (groupings.by_name.empty()) {
      (c.*sum)(target, scope, source, decimals);
    } else {
      write(target, scope, groupings, decimals);
    }
  });
}

}  // namespace

short CStatContext::StatJbntKtz() {
  FillFromGroupings(
      *this, kJbntKtz, &CStatContext::SumJbntKtz,
      [this](const std::string& source, int decimals) {
        return ReadKtzGroupings(*this, source, decimals);
      },
      [this](const std::string& target, short scope, const CopyGroupings& groupings, int decimals) {
        WriteJbntKtz(*this, target, scope, groupings, decimals);
      });
  return 1;
}

short CStatContext::StatBhkKtz() {
  // The same rows for both scopes: a block has no owner of its own.
  FillFromGroupings(
      *this, kBhkKtz, &CStatContext::SumBhkKtz,
      [this](const std::string& source, int decimals) {
        return ReadCopyGroupings(*this, {"blocks", "listed"},
                                 {AdjustableSums(*this, source, "保护片编号", "", decimals),
                                  ListedCodes(source, "保护片编号", "")},
                                 kBlockChars);
      },
      [this](const std::string& target, short, const CopyGroupings& groupings, int) {
        std::set<std::string> held;
        WriteAdjustableLevel(*this, target, "JBNTBHKNO", {groupings["blocks"], groupings["listed"]},
                             held, "汇总根据保护块分类可调整地", "汇总根据保护块分类村级数据失败",
                             true);
      });
  return 1;
}

short CStatContext::SumJbntKtz(const std::string& target, short scope, const std::string& source,
                               int decimals) {
  const KLists lists = KListsOf(m_arrClassCodes);
  const std::string head = "insert into " + target + "(XZQDM,XZQZMJ," + lists.columns;
  const std::string filter = ShandongFilter(*this);

  // Villages: by the location village code, or by the first 12 characters
  // of the owner's code; every location village of the copy is listed.
  const std::string village = scope == 0  ? "村级代码"
                              : m_bOracle ? "substr(权属单位代码,0,12)"
                                          : "left(权属单位代码,12)";
  if (RunLoggedStatement(
          Dialect().RoundSums(
              head +
                  fmt::sprintf(" SELECT %s,SUM(土地总面积), %s FROM %s ", village, lists.base_sums,
                               source) +
                  fmt::sprintf("WHERE %s %s GROUP BY %s", kAdjustable, filter, village),
              decimals),
          kLevelTitle, kLevelMessages[2], true)) {
    RunLoggedStatement(CompletionStatement(*this, target, "XZQDM", source, "村级代码", ""),
                       kLevelTitle, kLevelMessages[2], true);
  }

  // Village groups of the county, never summed upwards; a failure here
  // ends the fill.
  if (m_bGroupLevel) {
    std::string statement;
    if (scope == 0) {
      statement =
          head +
          fmt::sprintf(
              " SELECT 座落单位代码,SUM(土地总面积), %s FROM %s where 座落单位代码 like %s",
              lists.base_sums, source, GroupCodesLike()) +
          fmt::sprintf(" AND( 地类备注 LIKE 'K' OR 地类备注 LIKE 'k') %s GROUP BY 座落单位代码",
                       filter);
    } else {
      statement = head +
                  fmt::sprintf(
                      " SELECT 权属单位代码,SUM(土地总面积), %s FROM %s WHERE  "
                      "%s.权属单位代码 LIKE %s%s",
                      lists.base_sums, source, source, GroupCodesLike(), m_bOracle ? " " : "") +
                  fmt::sprintf(m_bOracle ? " AND( 地类备注 LIKE 'K' OR 地类备注 LIKE 'k') %s "
                                           "GROUP BY 权属单位代码"
                                         : " AND(地类备注 LIKE 'K' OR 地类备注 LIKE 'k' ) %s "
                                           "GROUP BY 权属单位代码",
                               filter);
    }
    if (!RunLoggedStatement(Dialect().RoundSums(statement, decimals), kLevelTitle, kGroupFailed,
                            true) ||
        !RunLoggedStatement(CompletionStatement(*this, target, "XZQDM", source, "座落单位代码",
                                                " and 座落单位代码 like '___________________'"),
                            kLevelTitle, kGroupFailed, true)) {
      return 0;
    }
  }

  RollUpKtz(*this, target, decimals);
  return 1;
}

short CStatContext::SumBhkKtz(const std::string& target, short /*scope*/, const std::string& source,
                              int decimals) {
  // The same rows for both scopes: a block has no owner of its own.
  const KLists lists = KListsOf(m_arrClassCodes);
  std::string statement = Dialect().RoundSums(
      "insert into " + target + "(JBNTBHKNO,XZQZMJ," + lists.columns +
          fmt::sprintf(" SELECT 保护片编号,SUM(土地总面积), %s FROM %s ", lists.base_sums, source) +
          " WHERE " + kAdjustable + " " + ShandongFilter(*this) + " GROUP BY 保护片编号",
      decimals);
  try {
    host::yDebugStr(statement);
    m_pConn.Execute(statement);
    statement = CompletionStatement(*this, target, "JBNTBHKNO", source, "保护片编号", "");
    m_pConn.Execute(statement);
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::AfxMessageBox(error.what());
    LogFailure("汇总根据保护块分类可调整地", "汇总根据保护块分类村级数据失败", error);
    return 0;
  }
  return 1;
}

}  // namespace landstat

namespace landstat::farmland {

bool KeysFit(const db::GroupedSums& groups, std::size_t chars) {
  bool fits = true;
  std::vector<db::GroupedSums::Column> keys;
  for (const std::string& key : groups.Query().keys) keys.push_back({key, {}});
  groups.VisitRows(keys, false, {}, [&](std::vector<db::Value>& row) {
    for (const db::Value& key : row)
      fits = fits && (key.IsNull() || key.TextView().size() <= chars);
  });
  return fits;
}

std::vector<TableFamily> AdjustableFamilies() {
  using landuse::C;
  return {{.base = kJbntKtz,
           .stage = 2400,
           .builds = landuse::Rural,
           .create = [](C& c) { return c.m_nJbntBaseData > 0 ? c.CreateJbntKtzTables() : 0; },
           .fill = [](C& c) { c.StatJbntKtz(); },
           .progress = "汇总基本农田可调整表"},
          {.base = kBhkKtz,
           .stage = 2600,
           .builds = landuse::Rural,
           .create = [](C& c) { return c.m_nJbntBaseData > 0 ? c.CreateBhkKtzTables() : 0; },
           .fill = [](C& c) { c.StatBhkKtz(); },
           .progress = "根据保护块编号汇总可调整表"}};
}

}  // namespace landstat::farmland
