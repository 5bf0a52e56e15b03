#include "lots/zd_stat_context.h"

#include "engine/database_helpers.h"
#include "engine/stat_config.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/gis/layers.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/notifier.h"

namespace landstat {

const std::vector<std::string> kTownLotFixedFields = {
    "地籍号",   "省名称",   "省级代码",   "市名称",     "市级代码", "县名称",           "县级代码",
    "街道名称", "街道代码", "街坊名称",   "街坊代码",   "土地座落", "使用权类型",       "权属性质",
    "土地级别", "建筑密度", "建筑容积率", "宗地总面积", "占地面积", "宗地建筑占地面积", "建筑面积"};

CZdStatContext::CZdStatContext(short lot_layer, short house_layer, gis::RuralCode* codes,
                               const std::string& connection, short db_mode,
                               const std::string& year, const std::string& county,
                               const std::string& log_path)
    : StatRunLog(log_path),
      m_aiZd(lot_layer),
      m_aiHouse(house_layer),
      m_pRuralCode(codes),
      m_strConnect(connection),
      m_nDbMode(db_mode),
      m_strPrefix1(year),
      m_strPrefix2(county),
      m_names(db_mode, year, county) {
  try {
    m_pConn.Open(m_strConnect);
  } catch (const db::DbError& error) {
    // Told once; the run's first statement then fails and ends the run.
    host::AfxMessageBox(error.what());
  }
  SetUp();
}

CZdStatContext::CZdStatContext(db::Connection&& connection, gis::RuralCode* codes, short db_mode,
                               const std::string& year, const std::string& county)
    : m_pRuralCode(codes),
      m_nDbMode(db_mode),
      m_strPrefix1(year),
      m_strPrefix2(county),
      m_pConn(std::move(connection)),
      m_names(db_mode, year, county) {
  m_strConnect = m_pConn.ConnectionString();
  SetUp();
}

void CZdStatContext::SetUp() {
  // The kind of database the installation is configured for decides the
  // dialect of a server.
  host::_AdoInitDbEnv();
  m_nDbType = host::_AdoGetDbType(host::_ZRK_GetProfileString("数据源", "名称", ""));
  LoadCodes();
}

CZdStatContext::~CZdStatContext() {
  try {
    if (m_pConn.IsOpen()) m_pConn.Close();
  } catch (const db::DbError&) {
    // Closing is the last thing the context does; nothing is left to undo.
  }
}

short CZdStatContext::LoadCodes() {
  if (!m_pRuralCode || !gis::IsLayerValid(m_pRuralCode->m_ai)) return 0;
  std::vector<gis::CODESTRUCT> entries;
  m_pRuralCode->GetCode(nullptr, &entries, 0, nullptr);
  m_arrClass1Codes.clear();
  m_arrClassCodes.clear();
  m_arrAllClassCodes.clear();
  m_arrStatFields = kTownLotFixedFields;
  for (const gis::CODESTRUCT& entry : entries) {
    // One record can be of more than one kind: each test stands alone.
    if (entry.type.find("行政代码") != std::string::npos) m_mapAdminName[entry.code] = entry.name;
    if (entry.type.find("房屋结构") != std::string::npos) {
      m_mapHouseStructure[entry.code] = entry.name;
    }
    if (entry.type.find("地类代码") == std::string::npos) continue;
    m_mapLandUseName[entry.code] = entry.name;
    if (entry.code.compare(0, 2, "20") == 0) continue;  // no column of its own
    m_arrAllClassCodes.push_back(entry.code);
    m_arrStatFields.push_back("BM" + entry.code);
    if (entry.code.size() == 2 || entry.code.size() == 3) m_arrClassCodes.push_back(entry.code);
    if (entry.code.size() == 2) m_arrClass1Codes.push_back(entry.code);
  }
  FixUnits();
  return 1;
}

void CZdStatContext::FixUnits() {
  const ConfiguredUnits configured = ReadConfiguredUnits();
  m_nUnitSrc = configured.units[0];
  m_nUnit1 = configured.units[1];
  m_nUnit2 = configured.units[2];
  // A second or third unit that is unit 1 again would copy the lots twice
  // into unit 1's table and has no conversion: it is left out.
  if (m_nUnit1 == m_nUnitSrc) m_nUnit1 = kNoUnit;
  if (m_nUnit2 == m_nUnitSrc || m_nUnit2 == m_nUnit1) m_nUnit2 = kNoUnit;
  m_nDecSrc = configured.decimals[0];
  m_nDec1 = configured.decimals[1];
  m_nDec2 = configured.decimals[2];
  m_nStatType = configured.stat_type;
  m_bPm = configured.pm;
  m_bGq = configured.gq;
  m_bMu = configured.mu;
  const auto table_of = [&](short unit) {
    return unit == kNoUnit ? std::string() : m_names.UnitCopy(unit, "statdata_czzd");
  };
  m_strStatTblSrc = table_of(m_nUnitSrc);
  m_strStatTblUnit1 = table_of(m_nUnit1);
  m_strStatTblUnit2 = table_of(m_nUnit2);
}

std::vector<CZdStatContext::UnitTable> CZdStatContext::UnitTables() const {
  std::vector<UnitTable> tables;
  if (!m_strStatTblSrc.empty()) tables.push_back({m_nUnitSrc, m_nDecSrc, m_strStatTblSrc});
  if (!m_strStatTblUnit1.empty()) tables.push_back({m_nUnit1, m_nDec1, m_strStatTblUnit1});
  if (!m_strStatTblUnit2.empty()) tables.push_back({m_nUnit2, m_nDec2, m_strStatTblUnit2});
  return tables;
}

namespace {

std::string Lookup(const std::unordered_map<std::string, std::string>& map, const std::string& code,
                   const std::string& fallback) {
  auto found = map.find(code);
  return found == map.end() ? fallback : found->second;
}

}  // namespace

std::string CZdStatContext::GetAdminName(const std::string& code) const {
  return Lookup(m_mapAdminName, code, {});
}

std::string CZdStatContext::GetLandUseName(const std::string& code) const {
  return Lookup(m_mapLandUseName, code, {});
}

std::string CZdStatContext::GetHouseStructureName(const std::string& code) const {
  return Lookup(m_mapHouseStructure, code, code);
}

short CZdStatContext::IsTableExist(const std::string& table) {
  return m_pConn.IsOpen() ? IsTblExist(m_pConn, table) : 0;
}

short CZdStatContext::DropTable(const std::string& table) {
  return m_pConn.IsOpen() ? DeleteTbl(m_pConn, table) : 0;
}

db::DbKind CZdStatContext::DialectKind() const {
  db::DbKind kind = m_nDbMode == 0 ? db::DbKind::kEmbedded : db::DbKind::kServer;
  if (m_pConn.IsOpen()) kind = m_pConn.Kind();
  // A server configured as Oracle speaks Oracle.
  if (kind == db::DbKind::kServer && m_nDbType == 2) kind = db::DbKind::kOracle;
  return kind;
}

std::string CZdStatContext::LotTableStatement(const std::string& table,
                                              const std::vector<std::string>& columns,
                                              std::size_t text_columns,
                                              const std::string& options) const {
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    statement += columns[i] + (i < text_columns ? " varchar(60)" : " double default 0.00");
    if (i + 1 < columns.size()) statement += ",";
  }
  return TypeWords(statement + ")" + options);
}

std::string CZdStatContext::TypeWords(const std::string& statement) const {
  return Dialect().ApplyTypeWords(statement);
}

}  // namespace landstat
