// The per-unit copies of the Inner Mongolia base table: PMstatdataMG,
// MUstatdataMG, GQstatdataMG, one row per group of the fifteen hierarchy and
// ownership columns, converted from unit 1 into their own unit. They are
// made in memory from the groups the base fill kept and written once each.

#include "mongolia/mg_beside.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"
#include "units/converted_copies.h"
#include "units/unit_conversion.h"

namespace landstat {

namespace {

// The wanted units in the order the copies are made.
constexpr short kCopyOrder[] = {kSquareMetre, kMu, kHectare};
// And converted.
constexpr short kConversionOrder[] = {kHectare, kSquareMetre, kMu};

}  // namespace

short CMgStatContext::CreateUnitStatTables() {
  for (short unit : kCopyOrder) {
    if (Wants(unit) && CreateUnitStatTable(unit) <= 0) return 0;
  }
  return 1;
}

short CMgStatContext::CreateUnitStatTable(short unit) {
  const std::string table = UnitCopyTable(unit);
  m_copies.erase(unit);
  try {
    SetAside(table);
    m_pConn.Execute(UnitCopyStatement(table));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古扩展基础数据", table + " 建立失败", error);
    return 0;
  }
}

std::string CMgStatContext::UnitCopyStatement(const std::string& table,
                                              const std::string& options) const {
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    if (i > 0) statement += ",";
    statement +=
        m_arrStatFields[i] + (i < kMgTextColumns ? " varchar(40)" : " double default 0.00");
  }
  return Dialect().ApplyTypeWords(statement + ")" + options);
}

const mg::MgBesideSchema* CMgStatContext::BesideSchema() {
  if (m_besideTried) return m_besideSchema.get();
  m_besideTried = true;
  if (m_pConn.Kind() != db::DbKind::kServer) return nullptr;
  try {
    const std::string target = m_pConn.Scalar("select current_schema()").AsText();
    m_besideSchema =
        std::make_shared<mg::MgBesideSchema>(m_strConnect, target, m_strPrefix1, m_strPrefix2);
  } catch (const db::DbError& error) {
    LogNotice("数据库", std::string("无法另开连接同时写表, 在本连接上写 (") + error.what() + ")");
  }
  return m_besideSchema.get();
}

bool CMgStatContext::WriteCopyBeside(short unit) {
  const mg::MgBesideSchema* schema = BesideSchema();
  if (!schema) return false;
  if (!m_copiesBeside) {
    if (m_copiesBesideTried) return false;  // the run's own connection writes them
    m_copiesBesideTried = true;
    try {
      m_copiesBeside = std::make_shared<mg::MgBesideLane>(*schema);
    } catch (const db::DbError& error) {
      LogNotice("数据库",
                std::string("无法另开连接同时写扩展基础数据, 在本连接上写 (") + error.what() + ")");
      return false;
    }
  }
  const mg::MgCopy& copy = HeldCopy(unit);
  m_copiesBeside->Add(
      UnitCopyTable(unit),
      [this](const std::string& table, const std::string& options) {
        return UnitCopyStatement(table, options);
      },
      [this, &copy](db::Connection& connection, const std::string& table) {
        mg::WriteCopy(connection, table, copy, m_texts);
      });
  return true;
}

short CMgStatContext::MoveCopiesBeside() {
  if (!m_copiesBeside) return 1;
  for (const mg::MgBesideLane::Outcome& copy : m_copiesBeside->Finish()) {
    try {
      if (copy.create_failure) throw *copy.create_failure;
      if (copy.fill_failure) throw *copy.fill_failure;
      SetAside(copy.table);
      m_besideSchema->MoveInto(m_pConn, copy.table);
    } catch (const db::DbError& error) {
      LogFailure("平差内蒙古扩展基础数据", "平差分类面积失败", error);
      return 0;
    }
  }
  return 1;
}

short CMgStatContext::FillUnitStatTables() {
  if (!m_groups.Begun()) {
    LogFailure("汇总内蒙古扩展基础数据",
               "内蒙古基础汇总表不是本次汇总填写的, 无法生成扩展基础数据");
    return 0;
  }
  // The base rows were grouped once, as the fill wrote them: every copy
  // starts as those sums.
  std::vector<short> units;
  for (short unit : kCopyOrder) {
    if (Wants(unit)) units.push_back(unit);
  }
  mg::MgCopy grouped;
  try {
    grouped = m_groups.TakeCopy();
  } catch (const db::DbError& error) {
    LogFailure("汇总内蒙古扩展基础数据", "无法生成扩展基础数据", error);
    return 0;
  }
  for (std::size_t i = 0; i < units.size(); ++i) {
    m_copies[units[i]] = i + 1 < units.size() ? grouped : std::move(grouped);
  }
  host::yDebugTime("内蒙古扩展基础数据 汇总");
  try {
    ConvertUnitStatTables();
  } catch (const db::DbError& error) {
    LogFailure("转换内蒙古扩展基础数据", "转换失败", error);
    return 0;
  }
  host::yDebugTime("内蒙古扩展基础数据 转换");
  // The balancing writes every copy, unit 1's the reference.
  const short balanced = BalanceAndWrite(true);
  host::yDebugTime("内蒙古扩展基础数据 平差");
  return balanced;
}

void CMgStatContext::ConvertUnitStatTables() {
  for (short unit : kConversionOrder) {
    for (const UnitSlot& slot : ConfiguredUnits()) {
      const std::string factor = FactorText(m_nUnit1, unit);
      if (slot.unit != unit || unit == m_nUnit1 || factor.empty()) continue;
      const units::AreaConversion convert(factor, UnitFactor(m_nUnit1, unit), slot.decimals);
      for (double& figure : HeldCopy(unit).figures) figure = convert(figure);
    }
  }
}

}  // namespace landstat
