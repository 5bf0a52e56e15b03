// The farmland slope summary JBNTPDMJHZ: for the county, each township,
// village and unit the farmland area of the parcels-only table of a unit,
// split into cultivated land by slope grade and cultivation type, the
// adjustable land (地类备注 'K') of the classes 02, 031/033 (by grade), 042
// and 114, and the rest. Each level's groups are read ordered by the level
// code and summed into one row per code in memory.

#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/coded_rows.h"
#include "engine/slope_grades.h"
#include "engine/stat_context.h"
#include "farmland/farmland_families.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"

namespace landstat {
namespace {

constexpr char kBase[] = "JBNTPDMJHZ";
constexpr char kTitle[] = "基本农田坡度情况";

// The area columns, in table order.
const std::vector<std::string> kAreaColumns = {
    "JBNTMJ",  "B01",      "B01PD",    "B01HJ2",   "B01T2",    "B01P2",  "B01HJ6", "B01T6",
    "B01P6",   "B01HJ15",  "B01T15",   "B01P15",   "B01HJ25",  "B01T25", "B01P25", "B02K",
    "B02KPD",  "B02KHJ2",  "B02KHJ6",  "B02KHJ15", "B02KHJ25", "B03K",   "B03KPD", "B03KHJ2",
    "B03KHJ6", "B03KHJ15", "B03KHJ25", "B04K",     "B114K",    "BOTHER"};

// The column ending of a grade 2 to 5; grade 1 and no grade are "PD".
std::string GradeEnding(int grade) {
  static const char* const kEndings[] = {"PD", "PD", "2", "6", "15", "25"};
  return kEndings[grade];
}

// The level's code and name columns (index 4 county .. 1 unit).
const char* const kLevelColumns[] = {"", "座落单位代码,座落单位名称", "村级代码,村名称",
                                     "乡级代码,乡名称", "县级代码,县名称"};

// Adds a group's area to the columns of the first rule that takes it.
void AddGroup(std::map<std::string, double>& areas, const std::string& code,
              const std::string& remark, int grade, bool terraced, double area) {
  const bool adjustable = remark == "K";
  const std::string ending = GradeEnding(grade);
  if ((code == "031" || code == "033") && adjustable) {
    areas[grade < 2 ? "B03KPD" : "B03KHJ" + ending] += area;
    areas["B03K"] += area;
  } else if (code == "042" && adjustable) {
    areas["B04K"] += area;
  } else if (code == "114" && adjustable) {
    areas["B114K"] += area;
  } else if (code.compare(0, 2, "01") == 0) {
    if (grade < 2) {
      areas["B01PD"] += area;
    } else {
      areas[(terraced ? "B01T" : "B01P") + ending] += area;
      areas["B01HJ" + ending] += area;
    }
    areas["B01"] += area;
  } else if (code.compare(0, 2, "02") == 0 && adjustable) {
    areas[grade < 2 ? "B02KPD" : "B02KHJ" + ending] += area;
    areas["B02K"] += area;
  } else {
    areas["BOTHER"] += area;
  }
  areas["JBNTMJ"] += area;
}

}  // namespace

short CStatContext::CreateJbntPdMjHzTable(const std::string& name) {
  if (IsTableExist(name)) DropTable(name);
  // The row number: an identity column, a plain number on Oracle (the fill
  // numbers the rows there).
  std::string statement = "Create Table " + name + "(ID " + Dialect().IdentityColumn() +
                          " ,XZQDM varchar(19) ,XZQMC varchar(60)";
  for (const std::string& column : kAreaColumns) statement += "," + column + " double default 0.00";
  try {
    m_pConn.Execute(TypeWords(statement + ")"));
    m_arrCreatedTbls.push_back(name);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立基本农田坡度汇总表", name + " 建立基本农田坡度汇总表失败", error);
    return 0;
  }
}

short CStatContext::CreateJbntPdMjHzTables() {
  // By location only.
  if (m_nStatScope != 0 && m_nStatScope != 2) return 1;
  for (short unit : {kSquareMetre, kMu, kHectare}) {
    if (WantsSummaryUnit(unit)) CreateJbntPdMjHzTable(m_names.Summary('Z', unit, kBase));
  }
  return 1;
}

short CStatContext::FillJbntPdMjHzTables() {
  if (m_nStatScope != 0 && m_nStatScope != 2) return 1;
  for (short unit : {kSquareMetre, kHectare, kMu}) {
    if (!WantsSummaryUnit(unit)) continue;
    for (short level : {short{4}, short{3}, short{2}, short{1}}) {
      SumJbntPdMjHz(level, m_names.Summary('Z', unit, kBase), JbntOnlyTable(unit),
                    DecimalsOf(unit));
    }
  }
  return 1;
}

std::string CStatContext::JbntPdMjHzQuery(short level, const std::string& source) const {
  const std::string keys =
      std::string(kLevelColumns[level]) + ",地类编码,地类备注,耕地坡度级,耕地类型";
  const std::string code = level == 1 ? "座落单位代码" : keys.substr(0, keys.find(','));
  // Only the 19-character units of the county.
  const std::string condition = level == 1 ? " where 座落单位代码 like " + GroupCodesLike() : "";
  // Ordered by the code: a row is begun whenever the code changes, and a
  // server returns the groups in no order of its own.
  return "select " + keys + ",SUM(土地总面积) AS JBNTMJ FROM " + source + condition + " GROUP BY " +
         keys + " ORDER BY " + code;
}

short CStatContext::SumJbntPdMjHz(short level, const std::string& target, const std::string& source,
                                  int decimals) {
  long next_id = 0;
  try {
    next_id = static_cast<long>(m_pConn.Scalar("SELECT count(*) AS TT FROM " + target).AsInteger());
  } catch (const db::DbError& error) {
    LogFailure(kTitle, target + " 计算汇总数据失败", error);
    return 0;
  }
  std::vector<CodedRow> rows;
  try {
    // Streamed: the unit level brings a group per unit, class, remark,
    // grade and type.
    enum Column { kCode, kName, kClass, kRemark, kGrade, kType, kArea };
    const std::unique_ptr<db::RowSource> groups = m_pConn.Scan(JbntPdMjHzQuery(level, source));
    while (groups->Next()) {
      const double area = groups->Number(kArea);
      if (groups->IsNull(kClass) || std::fabs(area) < 0.001) continue;
      const std::string_view code = groups->Text(kCode);
      if (rows.empty() || rows.back().code != code) {
        rows.push_back({std::string(code), std::string(groups->Text(kName)), {}});
      }
      AddGroup(rows.back().areas, std::string(groups->Text(kClass)),
               std::string(groups->Text(kRemark)), SlopeGradeOf(std::string(groups->Text(kGrade))),
               IsTerracedType(std::string(groups->Text(kType))), area);
    }
  } catch (const db::DbError& error) {
    LogFailure(kTitle, target + " 选择数据失败 (" + source + ")", error);
    return 0;
  }
  const CodedRowsForm form{.decimals = decimals,
                           .names = true,
                           .first_id = m_bOracle ? std::optional<long>(next_id) : std::nullopt};
  return WriteCodedRows(*this, target, rows, form, kTitle, target + " 保存数据失败");
}

}  // namespace landstat

namespace landstat::farmland {

std::vector<TableFamily> SlopeSummaryFamilies() {
  const auto create = [](CStatContext& c) { return c.CreateJbntPdMjHzTables(); };
  const auto fill = [](CStatContext& c) { c.FillJbntPdMjHzTables(); };
  // Each right after the parcels-only tables it is summed from, guarded as
  // they are.
  return {
      {.base = kBase,
       .stage = 2640,
       .builds = [](const RunVariant& run) { return run.Rural() && run.Has("广西"); },
       .create = [create](CStatContext& c) { return c.m_nJbntBaseData > 0 ? create(c) : short{0}; },
       .fill = fill,
       .after = {"JBNTONLY"}},
      {.base = kBase,
       .stage = 3110,
       .builds = [](const RunVariant& run) { return run.Duda() && !run.Has("广西"); },
       .create = [create](CStatContext& c) { return c.m_aiJbntParcel > 0 ? create(c) : short{0}; },
       .fill = fill,
       .after = {"JBNTONLY"}},
  };
}

}  // namespace landstat::farmland
