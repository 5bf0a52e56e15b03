#include "mongolia/mg_stat_context.h"

#include "engine/database_helpers.h"
#include "engine/run_workspace.h"
#include "engine/stat_config.h"
#include "platform/db/db_error.h"

namespace landstat {

const std::vector<std::string> kMgGroupColumns = {"县名称",
                                                  "县级代码",
                                                  "类别名称",
                                                  "类别码",
                                                  "管局级名称",
                                                  "管局级码",
                                                  "管局下属二级单位名称",
                                                  "管局下属二级单位码",
                                                  "内蒙古权属单位名称",
                                                  "内蒙古权属单位代码",
                                                  "座落单位名称",
                                                  "座落单位代码",
                                                  "权属性质",
                                                  "耕地类型",
                                                  "耕地坡度级"};

const std::vector<std::string> kMgFixedColumns = {"县名称",
                                                  "县级代码",
                                                  "类别名称",
                                                  "类别码",
                                                  "管局级名称",
                                                  "管局级码",
                                                  "管局下属二级单位名称",
                                                  "管局下属二级单位码",
                                                  "内蒙古权属单位名称",
                                                  "内蒙古权属单位代码",
                                                  "座落单位名称",
                                                  "座落单位代码",
                                                  "图斑编号",
                                                  "权属性质",
                                                  "耕地类型",
                                                  "来源",
                                                  "城镇用地",
                                                  "地类备注",
                                                  "耕地坡度级",
                                                  "土地总面积"};

CMgStatContext::CMgStatContext(short district_layer, short parcel_layer, short line_layer,
                               short point_layer, gis::RuralCode* codes, const std::string& year,
                               const std::string& county, const std::string& log_path,
                               int level_switch)
    : StatRunLog(log_path),
      m_aiXzq(district_layer),
      m_aiParcel(parcel_layer),
      m_aiLine(line_layer),
      m_aiPoint(point_layer),
      m_pRuralCode(codes),
      m_strPrefix1(year),
      m_strPrefix2(county),
      m_nLevelSwitch(level_switch),
      m_names(0, year, county) {}

CMgStatContext::~CMgStatContext() {
  try {
    if (m_pConn.IsOpen()) m_pConn.Close();
  } catch (const db::DbError&) {
    // Closing is the last thing the context does; nothing is left to undo.
  }
}

// Unit 1 is hectares, mu or else square metres; units 2 and 3 are one of
// the three or none. The decimals follow the unit.
void CMgStatContext::SetUnit(int slot, const std::string& text, bool first) {
  short unit = UnitOfText(text);
  if (unit == kNoUnit && first) unit = kSquareMetre;
  short* const codes[3] = {&m_nUnit1, &m_nUnit2, &m_nUnit3};
  short* const decimals[3] = {&m_nDec1, &m_nDec2, &m_nDec3};
  *codes[slot] = unit;
  *decimals[slot] = unit == kNoUnit ? kNoUnit : unit == kHectare ? 2 : 1;
  m_strStatTblUnit[slot] = unit == kNoUnit ? std::string() : UnitCopyTable(unit);
  if (unit == kHectare) m_bGq = true;
  if (unit == kMu) m_bMu = true;
  if (unit == kSquareMetre) m_bPm = true;
}

short CMgStatContext::InitUnits(const std::string& connection, short naming_mode) {
  m_strConnect = connection;
  m_nDbMode = naming_mode;
  m_names = TableNames(naming_mode, m_strPrefix1, m_strPrefix2);
  m_strStatTbl = StatDataTable();
  std::string units[3];
  GetUnit(units[0], units[1], units[2]);
  m_bPm = m_bGq = m_bMu = false;
  for (int slot = 0; slot < 3; ++slot) SetUnit(slot, units[slot], slot == 0);
  int scope = 0;
  GetStatType(scope);
  m_nStatType = static_cast<short>(scope);
  try {
    m_pConn.Open(connection);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("设置汇总数据库参数", "连接数据库失败", error);
    return 0;
  }
}

short CMgStatContext::LoadCodes() {
  m_arrClassCodes.clear();
  m_arrClass1Codes.clear();
  m_arrStatFields.clear();
  m_mapCodeName.clear();
  if (!m_pRuralCode || !gis::IsLayerValid(m_pRuralCode->m_ai)) return 0;
  std::vector<gis::CODESTRUCT> entries;
  m_pRuralCode->GetCode(nullptr, &entries, 0, nullptr);
  if (entries.empty()) return 0;
  m_arrStatFields = kMgFixedColumns;
  for (const gis::CODESTRUCT& entry : entries) {
    if (entry.type.find("行政代码") != std::string::npos) {
      m_mapCodeName[entry.code] = entry.name;
    } else if (entry.type.find("地类代码") != std::string::npos) {
      m_arrClassCodes.push_back(entry.code);
      m_arrStatFields.push_back("BM" + entry.code);
      if (entry.code.size() == 2) m_arrClass1Codes.push_back(entry.code);
    }
  }
  m_bOracle = m_names.IsServer() && m_aiParcel > 0 && gis::IsLayerValid(m_aiParcel) &&
              gis::DataSourceKind(m_aiParcel) == 0x1100;
  return 1;
}

std::string CMgStatContext::GetCodeName(const std::string& code) const {
  const auto found = m_mapCodeName.find(code);
  return found == m_mapCodeName.end() ? std::string() : found->second;
}

std::vector<std::string> CMgStatContext::FigureColumns() const {
  if (m_arrStatFields.size() <= kMgTextColumns) return {};
  return {m_arrStatFields.begin() + kMgTextColumns, m_arrStatFields.end()};
}

mg::MgCopy& CMgStatContext::HeldCopy(short unit) {
  auto found = m_copies.find(unit);
  if (found == m_copies.end()) {
    found =
        m_copies.emplace(unit, mg::ReadCopy(m_pConn, UnitCopyTable(unit), FigureColumns(), m_texts))
            .first;
  }
  return found->second;
}

short CMgStatContext::IsTableExist(const std::string& table) {
  return m_pConn.IsOpen() ? IsTblExist(m_pConn, table) : 0;
}

short CMgStatContext::DropTable(const std::string& table) {
  return m_pConn.IsOpen() ? DeleteTbl(m_pConn, table) : 0;
}

void CMgStatContext::SetAside(const std::string& table) {
  if (IsTableExist(table)) m_setAside.SetAside(m_pConn, table);
}

short CMgStatContext::DropSetAside() {
  try {
    m_setAside.DropAll(m_pConn);
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("删除旧表", "删除被替换的内蒙古表失败", error);
    return 0;
  }
}

db::DbKind CMgStatContext::DialectKind() const {
  // The run names its tables plainly on any database; its statements are
  // those of the database it reaches, so plain names on a server never
  // send the file engine's SQL there.
  if (m_bOracle) return db::DbKind::kOracle;
  return m_pConn.IsOpen() ? m_pConn.Kind() : db::DbKind::kEmbedded;
}

std::vector<short> CMgStatContext::WantedUnits() const {
  std::vector<short> units;
  if (m_bGq) units.push_back(kHectare);
  if (m_bMu) units.push_back(kMu);
  if (m_bPm) units.push_back(kSquareMetre);
  return units;
}

std::vector<CMgStatContext::UnitSlot> CMgStatContext::ConfiguredUnits() const {
  std::vector<UnitSlot> slots;
  for (const UnitSlot slot :
       {UnitSlot{m_nUnit1, m_nDec1}, UnitSlot{m_nUnit2, m_nDec2}, UnitSlot{m_nUnit3, m_nDec3}}) {
    if (slot.unit != kNoUnit) slots.push_back(slot);
  }
  return slots;
}

namespace {
// The share of free pages, in percent, from which a compaction pays.
constexpr long long kCompactFreeShare = 10;
}  // namespace

short CMgStatContext::CompactWorkingCopy() {
  // Only a file is compacted; on a server the statement would mean nothing
  // and the file name taken from its connection string would be no file.
  if (!m_pConn.IsOpen() || m_pConn.Kind() != db::DbKind::kEmbedded) return 1;
  // Work on the file itself is one transaction, which closing would undo;
  // the pages it frees are taken again by what it writes.
  if (m_pConn.InTransaction()) return 1;
  // A loss the connection met goes with it: the job ends here instead.
  EndIfStopped("压缩数据库");
  try {
    const long long free_pages = m_pConn.Scalar("PRAGMA freelist_count").AsInteger();
    const long long pages = m_pConn.Scalar("PRAGMA page_count").AsInteger();
    if (free_pages * 100 < pages * kCompactFreeShare) return 1;
    const std::string file = m_pConn.FilePath();
    const std::string connection = m_pConn.ConnectionString();
    m_pConn.Close();
    const short compacted = CompactMdb(file);
    m_pConn.Open(connection);
    RunWorkspace::SpeedUpWorkingCopy(m_pConn);
    return compacted;
  } catch (const db::DbError& error) {
    LogFailure("压缩数据库", "压缩数据库失败", error);
    return 0;
  }
}

}  // namespace landstat
