// The unit-less class summaries that the unit conversion rebuilds from the
// base tables in their new unit: TDLY_YJFL and NCTDLY_YJFL from statdataex,
// TDLY_EJFL and NCTDLY_EJFL from statdata, by location only.

#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// The summaries rebuilt from the extension are all of the first level
// (those of the second read statdata): its sums by level and by pair need
// only the total and the first-level classes, a fraction of its columns.
bool FeedsFirstLevelOnly(const std::string& base) {
  return base == "statdataex";
}

// "土地总面积" and the columns of the classes `codes`.
std::vector<std::string> ClassAreaColumns(const std::vector<std::string>& codes) {
  std::vector<std::string> columns = {"土地总面积"};
  for (const std::string& code : codes) columns.push_back("BM" + code);
  return columns;
}

// The code and name columns each level of a converted class summary
// groups by, county first.
constexpr const char* kLevelKeys[4][2] = {{"县级代码", "县名称"},
                                          {"乡级代码", "乡名称"},
                                          {"村级代码", "村名称"},
                                          {"座落单位代码", "座落单位名称"}};

}  // namespace

std::optional<CStatContext::SummedRequest> CStatContext::ConvertedSumsRequest(
    ConvertedSums sums, const std::string& base) const {
  const std::string table = m_names.Plain(base);
  // The class columns the summaries read of the base table.
  const std::vector<std::string> areas =
      ClassAreaColumns(FeedsFirstLevelOnly(base) ? m_arrClass1Codes : m_arrClassCodes);
  switch (sums) {
    case ConvertedSums::kLevels: {
      SummedRequest request = LevelSums(table, "landstat_levels_" + base);
      request.query.sums = areas;
      return request;
    }
    // Oracle's statements read the table itself (they are text only).
    case ConvertedSums::kSlope:
      if (!m_bOracle) return SlopeSums(table);
      break;
    case ConvertedSums::kEnclavePairs:
      if (!m_bOracle) return EnclavePairSums(table, areas);
      break;
    case ConvertedSums::kNone:
      break;
  }
  return std::nullopt;
}

std::string CStatContext::ConvertedSource(ConvertedSums sums, const std::string& base) {
  const std::string table = m_names.Plain(base);
  const std::optional<SummedRequest> request = ConvertedSumsRequest(sums, base);
  if (!request) return table;
  PrepareSummedTables({*request});
  return PreparedOr(request->key, table);
}

// The statements of the summaries by location, on the unit-less tables.
std::vector<std::string> CStatContext::ConvertedClassStatements(short kind, bool rural) {
  const std::string target =
      m_names.Plain(std::string(rural ? "NCTDLY_" : "TDLY_") + (kind == 1 ? "YJFL" : "EJFL"));
  const std::string source =
      ConvertedSource(ConvertedSums::kLevels, kind == 1 ? "statdataex" : "statdata");
  return rural ? NcTdlyClassStatements(kind, source, target, 0)
               : TdlyClassStatements(kind, source, target, 0);
}

std::optional<short> CStatContext::SumConvertedClassInMemory(short kind, bool rural,
                                                             const LevelPolicy& policy) {
  // A level statement sums each group's rows in the order they are stored
  // and writes its groups in the order of their keys; the groupings of one
  // scan do the same, so the figures are those of the statements, to the
  // bit. The total is the first sum: a column, or the sum of a row's
  // first-level columns, which the engine adds up as the statement does.
  const ClassLists lists = ClassSumLists(kind, rural);
  std::vector<std::string> sums = {rural ? lists.row_total : std::string("土地总面积")};
  sums.insert(sums.end(), lists.classes.begin(), lists.classes.end());
  const std::string source =
      ConvertedSource(ConvertedSums::kLevels, kind == 1 ? "statdataex" : "statdata");
  std::vector<db::GroupedSumsQuery> queries;
  for (const auto& [code, name] : kLevelKeys) {
    if (queries.size() == 3 && !m_bGroupLevel) break;
    const std::string filter =
        queries.size() == 3 ? std::string(code) + " like " + GroupCodesLike() : std::string();
    queries.push_back({source, filter, {code, name}, sums, -1});
  }
  std::vector<std::unique_ptr<db::GroupedSums>> levels;
  try {
    levels = db::GroupedSums::ReadInOneScan(m_pConn, queries);
  } catch (const db::DbError& error) {
    LogNotice("汇总 " + source,
              std::string("按级汇总未能在内存中完成, 逐级汇总 (") + error.what() + ")");
    return std::nullopt;
  }
  const std::string target =
      m_names.Plain(std::string(rural ? "NCTDLY_" : "TDLY_") + (kind == 1 ? "YJFL" : "EJFL"));
  std::vector<db::GroupedSums::Column> columns = {
      {kLevelKeys[0][0], "XZQDM"}, {kLevelKeys[0][1], "XZQMC"}, {sums.front(), "XZQZMJ"}};
  for (const std::string& column : lists.classes) columns.push_back({column, {}});
  for (std::size_t level = 0; level < levels.size(); ++level) {
    columns[0].name = kLevelKeys[level][0];
    columns[1].name = kLevelKeys[level][1];
    try {
      levels[level]->WriteTo(m_pConn, target, columns, true);
    } catch (const db::DbError& error) {
      LogFailure(policy.title, kLevelMessages[level], error);
      if (level == 3 || (level == 2 && policy.stop_after_village)) return short{0};
    }
  }
  return short{1};
}

short CStatContext::SumConvertedClass(short kind, bool rural) {
  if (kind != 1 && kind != 2) return 0;
  LevelPolicy policy;
  policy.title =
      rural ? "汇总农村土地利用现状一级分类面积表"
            : (kind == 1 ? "汇总土地利用现状一级分类面积" : "汇总土地利用现状二级分类面积");
  // The land-use rebuild stops at a failed village level and traces its
  // unit statement; the rural one goes on to the units.
  policy.stop_after_village = !rural;
  policy.trace_unit_statement = !rural;
  if (m_pConn.Kind() == db::DbKind::kEmbedded && !m_bOracle) {
    if (const std::optional<short> done = SumConvertedClassInMemory(kind, rural, policy)) {
      return *done;
    }
  }
  return RunLevelStatements(ConvertedClassStatements(kind, rural), policy);
}

short CStatContext::SumTdlyClassConverted(short kind) {
  return SumConvertedClass(kind, false);
}

short CStatContext::SumNcTdlyClassConverted(short kind) {
  return SumConvertedClass(kind, true);
}

}  // namespace landstat
