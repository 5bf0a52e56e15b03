// The adjustable-farmland tables: the area of the farmland whose class
// remark is exactly 'K' or 'k', one K column per land class. JBNTKTZ sums it
// by village (and village group), township and county; BHKKTZ by protection
// block. Both are summed from the unit copies of the farmland base table,
// then completed with rows of 0 for every village, group or block of the
// copy that has no adjustable land, so that each of them is listed.

#include <fmt/printf.h>

#include "farmland/farmland_families.h"
#include "farmland/farmland_rules.h"
#include "landuse/land_use_families.h"
#include "platform/db/db_error.h"
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

// Fills every wanted copy of a family from the unit copy of the farmland
// base table in the same unit, scope Z first; results are logged by the
// fills and do not stop the others.
void FillEachCopy(CStatContext& c, const char* base,
                  short (CStatContext::*sum)(const std::string&, short, const std::string&, int)) {
  c.ForEachSummaryTable(base, [&](const std::string& target, short scope, short unit) {
    (c.*sum)(target, scope, c.Names().UnitCopy(unit, kJbntCopy), c.DecimalsOf(unit));
  });
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
  return CreateKtzLayout(*this, name, "XZQDM varchar(19)",
                         {"建立基本农田可调整表", "建立基本农田可调整表失败", false});
}

short CStatContext::CreateBhkKtzTable(const std::string& name) {
  return CreateKtzLayout(*this, name, "JBNTBHKNO varchar(20)",
                         {"根据保护块建立可调整表", "根据保护块建立可调整表失败", true});
}

short CStatContext::StatJbntKtz() {
  FillEachCopy(*this, kJbntKtz, &CStatContext::SumJbntKtz);
  return 1;
}

short CStatContext::StatBhkKtz() {
  FillEachCopy(*this, kBhkKtz, &CStatContext::SumBhkKtz);
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

  // Townships from the table's own village rows, the county from its
  // township rows; then the names.
  RunLoggedStatement(LevelRollUp(head, lists.k_sums, target, 9, decimals), kLevelTitle,
                     kLevelMessages[1], true);
  RunLoggedStatement(LevelRollUp(head, lists.k_sums, target, 6, decimals), kLevelTitle,
                     kLevelMessages[0], true);
  FillXzqNames(target, "XZQDM", "XZQMC");
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
