// The town-lot tables' part of the unit conversion, registered with the
// conversion (engine/table_family.h): the rebuild of the unit-less town
// tables from the extension table statdata_czzdex in the target unit, their
// conversion in place, and the balancing of the three class tables, all on
// the grid of unit 1's decimals (Len1), whatever the conversion's. Each
// step works through a town-lot context on the conversion's own connection,
// so it is part of the conversion's workspace, and logs into the
// conversion's log.

#include <set>
#include <string>

#include "engine/run_record.h"
#include "engine/stat_context.h"
#include "engine/table_family.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "units/unit_conversion.h"

namespace landstat {
namespace {

// The log a step writes into: the conversion's, its count going on.
void CopyLog(const StatRunLog& from, StatRunLog& to) {
  to.m_nErrCount = from.m_nErrCount;
  to.m_arrFirstFailures = from.m_arrFirstFailures;
  to.m_arrNotices = from.m_arrNotices;
  to.m_strLogTitle = from.m_strLogTitle;
  to.m_strLogMsg = from.m_strLogMsg;
  to.m_strLogLine = from.m_strLogLine;
}

// A town-lot context on the conversion's connection and log for one step;
// both go back to the conversion when it ends, however it ends.
class TownStep {
 public:
  explicit TownStep(CStatContext& conversion)
      : conversion_(conversion),
        town_(std::move(conversion.m_pConn), conversion.m_pRuralCode, conversion.m_nDbMode,
              conversion.m_strPrefix1, conversion.m_strPrefix2) {
    // The town tables keep the grid of unit 1's decimals (Len1), which the
    // town context reads from the configuration, whatever the conversion's.
    CopyLog(conversion, town_);
    town_.m_fileLog = conversion.m_fileLog;
    town_.m_bLogOpen = conversion.m_bLogOpen;
  }
  ~TownStep() {
    conversion_.m_pConn = town_.ReleaseConnection();
    CopyLog(town_, conversion_);
    town_.m_fileLog = nullptr;  // the conversion's file, closed by the conversion
    town_.m_bLogOpen = false;
  }
  TownStep(const TownStep&) = delete;
  TownStep& operator=(const TownStep&) = delete;

  CZdStatContext& operator*() { return town_; }
  CZdStatContext* operator->() { return &town_; }

 private:
  CStatContext& conversion_;
  CZdStatContext town_;
};

// The builders of the unit-less tables, in the order they run, each with
// the table it builds and the progress text shown before it (when it has
// one).
struct DatedStep {
  const char* progress;
  const char* base;
  short (CZdStatContext::*build)();
};
constexpr DatedStep kDatedSteps[] = {
    {"正在转换土地利用数据", "CZTDLY_YJFLZD", &CZdStatContext::CreateYjflzdTableDated},
    {nullptr, "CZTDLY_EJFLZD", &CZdStatContext::CreateEjflzdTableDated},
    {nullptr, "CZTDLY_YJFLZD", &CZdStatContext::SumYjflzdDated},
    {nullptr, "CZTDLY_EJFLZD", &CZdStatContext::SumEjflzdDated},
    {"正在转换使用权类型", "CZTDLY_SYQZD", &CZdStatContext::CreateSyqzdTableDated},
    {nullptr, "CZTDLY_SYQZD", &CZdStatContext::SumSyqzdDated},
    {"正在转换城镇宗地", "CZZDMJHZ", &CZdStatContext::CreateZdmjhzTableDated},
    {nullptr, "CZZDMJHZ", &CZdStatContext::SumZdmjhzDated},
    {"正在转换城镇土地利用强度调查表", "CZTDLY_QDDC", &CZdStatContext::CreateQddcTableDated},
    {nullptr, "CZTDLY_QDDC", &CZdStatContext::SumQddcDated},
};

// The town families the town-lot run left out (a layer lacked a field they
// need, so the lot table cannot give their figures): the conversion
// leaves them out too, named in one notice.
std::set<std::string> TownTablesLeftOut(CZdStatContext& town) {
  const std::set<std::string> run =
      FamiliesLeftOutByRun(town.m_pConn, town.m_strPrefix1, town.m_strPrefix2, FamilyKind::kTown);
  std::set<std::string> left;
  std::string listed;
  for (const DatedStep& step : kDatedSteps) {
    if (!run.count(step.base) || !left.insert(step.base).second) continue;
    listed += (listed.empty() ? "" : ", ") + std::string(step.base);
  }
  if (!listed.empty()) {
    town.LogNotice("城镇宗地", "汇总宗地时图层缺少这些表需要的字段, 不生成 " + listed);
  }
  return left;
}

// The unit-less town tables; they hold the unit recorded for the extension
// table they were built from.
constexpr const char* kTownTables[] = {"CZTDLY_YJFLZD", "CZTDLY_EJFLZD", "CZTDLY_SYQZD", "CZZDMJHZ",
                                       "CZTDLY_QDDC"};

// The extension table in the target unit, then every unit-less town table
// from it, and the new unit recorded. The builders log their own failures
// and do not stop the others; a table that fails keeps what it was made
// with.
void RebuildTownTables(CStatContext& conversion, short target) {
  TownStep town(conversion);
  const std::string base = town->StatDataTable();
  if (!town->IsTableExist(base)) {
    town->LogNotice("城镇宗地", "没有城镇宗地基础表 " + base + ", 城镇宗地汇总表未转换");
    return;
  }
  std::set<std::string> left;
  try {
    left = TownTablesLeftOut(*town);
  } catch (const db::DbError& error) {
    town->LogFailure("城镇宗地", "读取汇总宗地不生成的表失败, 城镇宗地汇总表未转换", error);
    return;
  }
  if (town->CreateStatDataExTable() <= 0 || town->ConvertStatDataEx(target) <= 0) return;
  for (const DatedStep& step : kDatedSteps) {
    if (left.count(step.base)) continue;
    if (step.progress) host::LindoDlgProgressSetText(step.progress);
    ((*town).*step.build)();
  }
  host::yDebugTime("town tables rebuilt");
  town->RecordDatedUnit(target);
}

// The stored unit-less town tables converted from their recorded unit to
// the target, and the new unit recorded, all or nothing.
void ConvertTownTables(CStatContext& conversion, short target) {
  TownStep town(conversion);
  std::vector<std::string> tables;
  for (const char* base : kTownTables) {
    const std::string name = town->Names().Plain(base);
    if (town->IsTableExist(name)) tables.push_back(name);
  }
  if (tables.empty()) return;
  short recorded = kNoUnit;
  try {
    recorded = town->DatedUnit();
  } catch (const db::DbError& error) {
    town->LogFailure("转换面积单位", "读取城镇宗地汇总表面积单位失败", error);
    return;
  }
  if (recorded == target) return;  // rebuilt in the target unit, on its grid
  if (recorded == kNoUnit) {
    town->LogFailure("转换面积单位", "城镇宗地汇总表没有记录面积单位, 未转换");
    return;
  }
  host::LindoDlgProgressSetText("正在转换城镇宗地汇总表");
  db::Transaction transaction(town->m_pConn);
  for (const std::string& name : tables) {
    if (ConvertAreaUnit(town->m_pConn, name, target, recorded, 0, town->m_nDecSrc) <= 0) {
      town->LogFailure("转换面积单位", name + " 转换失败, 城镇宗地汇总表未转换");
      return;
    }
  }
  if (town->RecordDatedUnit(target) <= 0) return;  // logged
  transaction.Commit();
}

// The three class tables balanced, each that exists, in order.
void BalanceTownTables(CStatContext& conversion) {
  struct Balance {
    const char* progress;
    const char* base;
    short (CZdStatContext::*balance)();
  };
  static constexpr Balance kBalances[] = {
      {"平差城镇宗地一级分类...", "CZTDLY_YJFLZD", &CZdStatContext::BalanceYjflzd},
      {"平差城镇宗地二级分类...", "CZTDLY_EJFLZD", &CZdStatContext::BalanceEjflzd},
      {"平差使用权类型...", "CZTDLY_SYQZD", &CZdStatContext::BalanceSyqzd},
  };
  TownStep town(conversion);
  for (const Balance& balance : kBalances) {
    if (!town->IsTableExist(town->Names().Plain(balance.base))) continue;
    host::LindoDlgProgressSetText(balance.progress);
    // What could not be balanced is logged or traced by the balancer.
    ((*town).*balance.balance)();
  }
}

// The extension table and the unit-less tables.
std::vector<std::string> TownTablesConverted(const TableNames& names) {
  std::vector<std::string> tables = {names.Plain("statdata_czzdex")};
  for (const char* base : kTownTables) tables.push_back(names.Plain(base));
  return tables;
}

const TownConversionRegistration kTownConversion({RebuildTownTables, ConvertTownTables,
                                                  BalanceTownTables, TownTablesConverted});

}  // namespace
}  // namespace landstat
