// The ownership-unit code table QSDMB and the administrative-district table
// ZB_XZXQ, which the island, enclave and ledger tables read.

#include <map>
#include <utility>
#include <vector>

#include "engine/field_needs.h"
#include "engine/layer_checks.h"
#include "engine/shared_code_tables.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/host/trace.h"

namespace landstat {

namespace {

// A code filled up on the right with "0" to nineteen characters.
std::string PaddedCode(const std::string& code) {
  return code.size() >= 19 ? code : code + std::string(19 - code.size(), '0');
}

}  // namespace

short CStatContext::CreateQsdmbTable() {
  // The same plain name in every naming mode: the statements that read it
  // name it so. Shared by the counties of a server database, it is never
  // dropped; the fill refreshes this county's rows.
  try {
    CreateSharedTable(m_pConn, kQsdmbTable.name, kQsdmbTable.create);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立权属单位代码表", "建立权属单位代码表失败", error);
    return 0;
  }
}

short CStatContext::FillQsdmbTable() {
  std::vector<std::vector<std::string>> units;
  if (m_pRuralCode) {
    std::vector<gis::CODESTRUCT> all;
    m_pRuralCode->GetCode(nullptr, &all, 0, nullptr);
    for (const gis::CODESTRUCT& entry : all) {
      for (const char* type : gis::kAdminCodeTypes) {
        if (entry.type == type) units.push_back({PaddedCode(entry.code), entry.name});
      }
    }
  }
  if (units.empty()) LogFailure("填充权属单位代码表", "代码表中没有行政代码");
  try {
    RefreshCountyRows(m_pConn, kQsdmbTable, m_strPrefix2, units);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("填充权属单位代码表", "填充权属单位代码表失败", error);
    return 0;
  }
}

short CStatContext::CreateXzxqTable() {
  const std::string table = m_names.Plain("ZB_XZXQ");
  if (IsTableExist(table)) DropTable(table);
  // Without either field no village is known as an island: the table is
  // not made, and the families that read it are left out.
  if (m_aiXzq > 0 && gis::IsLayerValid(m_aiXzq)) {
    const std::vector<const char*> readers = DistrictReaders(m_bHasMssm);
    const std::vector<std::string> left = FamiliesReading(m_setRunFamilies, readers);
    std::string message = "不生成行政辖区表 " + table;
    for (const std::string& base : left) message += ", " + base;
    LayerChecks checks(*this, m_aiXzq);
    if (!checks.HasFields({"行政区代码", "描述说明"}, message)) {
      m_setLeftOutFamilies.insert(left.begin(), left.end());
      return 0;
    }
  }
  try {
    m_pConn.Execute("Create Table " + table + "(行政区代码 varchar(60),描述说明 varchar(60))");
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立行政辖区表", "建立行政辖区表失败", error);
    return 0;
  }
}

short CStatContext::FillXzxqTable() {
  if (m_aiXzq <= 0 || !gis::IsLayerValid(m_aiXzq)) return 1;  // nothing to copy
  // One row per village: a village drawn in several parts would otherwise
  // count its land once per part wherever the table is joined. A village is
  // an island when any of its parts is marked so.
  std::vector<std::pair<std::string, std::string>> villages;
  std::map<std::string, std::size_t> index;
  const long count = gis::RecordCount(m_aiXzq, gis::EntityKind::kTable);
  gis::Record district;
  for (long number = 1; number < count; ++number) {
    if (!gis::ReadRecord(m_aiXzq, gis::EntityKind::kTable, number, district)) continue;
    const std::string code = district.Text("行政区代码");
    const std::string remark = district.Text("描述说明");
    const auto [at, added] = index.emplace(code, villages.size());
    if (added) {
      villages.emplace_back(code, remark);
    } else if (remark == "01") {
      villages[at->second].second = remark;
    }
  }
  try {
    db::Recordset rows(m_pConn, "select * from " + m_names.Plain("ZB_XZXQ") + " where 1<>1");
    for (const auto& [code, remark] : villages) {
      rows.AddNew();
      rows.SetField("行政区代码", code);
      rows.SetField("描述说明", remark);
    }
    rows.Update();
    rows.Close();
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("填充行政辖区表", "填充行政辖区表失败", error);
    return 0;
  }
}

}  // namespace landstat
