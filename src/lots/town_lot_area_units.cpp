// The town-lot rows ("城镇宗地") of the area-unit table: the unit each
// year's town-lot tables are in.

#include "engine/shared_code_tables.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

constexpr const char* kTownLotType = "城镇宗地";
// The unit of the extension table statdata_czzdex and of the unit-less town
// tables a conversion builds from it: a row of its own, so that the town
// run's rows keep saying which unit copies the run made.
constexpr const char* kDatedType = "statdata_czzdex";

}  // namespace

short CZdStatContext::CreateAreaUnitTable() {
  // The table keeps the units of every year and kind of the database: it is
  // made when missing and never dropped. The general run may have made it
  // with a wider 年度, which serves as well.
  const std::string table = m_names.AreaUnit();
  try {
    CreateSharedTable(
        m_pConn, table,
        "Create Table " + table + "(年度 varchar(4), TYPE varchar(20) ,AREAUNIT varchar(20))");
    return 1;
  } catch (const db::DbError&) {
    LogFailure("面积单位表", "建立面积单位表失败");
    return 0;
  }
}

short CZdStatContext::AddAreaUnit(const std::string& type, const std::string& unit) {
  const std::string table = m_names.AreaUnit();
  if (!IsTableExist(table)) return -1;
  try {
    const std::vector<db::Value> key = {db::Value(type), db::Value(m_strPrefix1), db::Value(unit)};
    const db::Value present = m_pConn.Scalar(
        "select count(*) from " + table + " where TYPE=? and 年度=? and AREAUNIT=?", key);
    if (present.AsInteger() == 0) {
      m_pConn.Execute("insert into " + table + " (TYPE, 年度, AREAUNIT) values (?, ?, ?)", key);
    }
    return 1;
  } catch (const db::DbError&) {
    LogFailure("面积单位表", "记录面积单位 " + unit + " 失败");
    return 0;
  }
}

short CZdStatContext::SetAreaUnit(short unit) {
  const char* text = unit == kHectare ? "公顷" : unit == kMu ? "亩" : "平方米";
  const std::string table = m_names.AreaUnit();
  if (!IsTableExist(table)) return -1;
  try {
    m_pConn.Execute("update " + table + " set AREAUNIT=? where TYPE=? AND 年度=?",
                    {db::Value(text), db::Value(kTownLotType), db::Value(m_strPrefix1)});
    return 1;
  } catch (const db::DbError&) {
    LogFailure("面积单位表", std::string("设置面积单位 ") + text + " 失败");
    return 0;
  }
}

short CZdStatContext::GetAreaUnit() {
  const std::string table = m_names.AreaUnit();
  if (!IsTableExist(table)) return kNoUnit;
  try {
    // The rows were added hectares, mu, square metres: the first of them
    // in that order, on every engine.
    const db::Value unit = m_pConn.Scalar(
        "select AREAUNIT from " + table +
            " where TYPE=? AND 年度=? order by case AREAUNIT when '公顷' then 0 when '亩' then 1 "
            "else 2 end",
        {db::Value(kTownLotType), db::Value(m_strPrefix1)});
    return unit.IsNull() ? kNoUnit : UnitOfText(unit.AsText());
  } catch (const db::DbError& error) {
    // Read as no unit recorded, which its callers report; the cause goes to
    // the trace.
    host::yDebugStr(error.what());
    return kNoUnit;
  }
}

short CZdStatContext::RecordDatedUnit(short unit) {
  if (CreateAreaUnitTable() <= 0) return 0;
  const std::string table = m_names.AreaUnit();
  try {
    const std::vector<db::Value> key = {db::Value(m_strPrefix1), db::Value(kDatedType)};
    m_pConn.Execute("delete from " + table + " where 年度=? and TYPE=?", key);
    if (unit == kNoUnit) return 1;
    m_pConn.Execute("insert into " + table + " (年度, TYPE, AREAUNIT) values (?, ?, ?)",
                    {key[0], key[1], db::Value(UnitText(unit))});
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("面积单位表", std::string("记录城镇汇总表面积单位 ") + UnitText(unit) + " 失败",
               error);
    return 0;
  }
}

short CZdStatContext::DatedUnit() {
  const std::string table = m_names.AreaUnit();
  if (!IsTableExist(table)) return kNoUnit;
  const db::Value unit =
      m_pConn.Scalar("select AREAUNIT from " + table + " where 年度=? and TYPE=?",
                     {db::Value(m_strPrefix1), db::Value(kDatedType)});
  return unit.IsNull() ? kNoUnit : UnitOfText(unit.AsText());
}

}  // namespace landstat
