#include "engine/stat_context.h"

#include <algorithm>
#include <iterator>

#include "engine/shared_code_tables.h"
#include "engine/stat_config.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/gis/layers.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/input_checks.h"
#include "platform/host/trace.h"

namespace landstat {

const std::vector<std::string> kStatFixedFields = {
    "序号",         "图斑编号",     "省名称",       "省级代码",     "市名称",     "市级代码",
    "县名称",       "县级代码",     "乡名称",       "乡级代码",     "村名称",     "村级代码",
    "座落单位名称", "座落单位代码", "权属单位名称", "权属单位代码", "权属性质",   "耕地类型",
    "批准文号",     "来源",         "地类备注",     "城镇用地",     "耕地坡度级", "土地总面积"};

CStatContext::CStatContext(short district, short parcel, short line, short point, short jbnt_parcel,
                           short jbnt_line, short jbnt_point, short change, short reserve,
                           short dispute, gis::RuralCode* codes, const std::string& prefix1,
                           const std::string& prefix2, const std::string& log_path, int group_level,
                           const std::string& version)
    : StatRunLog(log_path),
      m_aiXzq(district),
      m_aiParcel(parcel),
      m_aiLine(line),
      m_aiPoint(point),
      m_aiJbntParcel(jbnt_parcel),
      m_aiJbntLine(jbnt_line),
      m_aiJbntPoint(jbnt_point),
      m_aiChange(change),
      m_aiGdhb(reserve),
      m_aiDispute(dispute),
      m_pRuralCode(codes),
      m_strPrefix1(prefix1),
      m_strPrefix2(prefix2),
      m_bGroupLevel(group_level != 0),
      m_strVersion(version.empty() ? "通用农村" : version) {
  host::_AdoInitDbEnv();
  m_nDbType = host::_AdoGetDbType(host::_ZRK_GetProfileString("数据源", "名称", ""));
}

CStatContext::~CStatContext() {
  CloseStatLogFile();
  CloseStatConnection();
}

void CStatContext::FixUnits() {
  const ConfiguredUnits configured = ReadConfiguredUnits();
  m_nUnitSrc = configured.units[0];
  m_nUnit1 = configured.units[1];
  m_nUnit2 = configured.units[2];
  m_nDecSrc = configured.decimals[0];
  m_nDec1 = configured.decimals[1];
  m_nDec2 = configured.decimals[2];
  m_nStatScope = configured.stat_type;
  m_bHasMssm = IsExistHDMSSM();
  m_bPm = configured.pm;
  m_bGq = configured.gq;
  m_bMu = configured.mu;
}

short CStatContext::InitUnits(const std::string& connection, short db_mode) {
  // The year and county code become part of table names and statement text.
  const bool yearless = m_bYearless && db_mode == 0 && m_strPrefix1.empty();
  const std::string problem =
      host::SurveyKeyProblem(yearless ? std::string("0000") : m_strPrefix1, m_strPrefix2);
  if (!problem.empty()) {
    LogFailure("设置汇总数据库参数", problem);
    return 0;
  }
  // Units that cannot be told apart stop the job; settings replaced by
  // defaults are told, but a job on defaults goes on.
  const std::vector<std::string> errors = StatConfigErrors();
  for (const std::string& error : errors) LogFailure("设置汇总数据库参数", error);
  if (!errors.empty()) return 0;
  for (const std::string& warning : StatConfigWarnings()) LogNotice("设置汇总数据库参数", warning);
  m_bUnitsRead = StatConfigRead();
  FixUnits();
  m_nDbMode = db_mode;
  m_strConnect = connection;
  m_names = TableNames(m_nDbMode, m_strPrefix1, m_strPrefix2);
  m_strStatTbl = m_names.Plain("statdata");
  m_strJbntTbl = m_names.Plain("statdata_jbnt");
  m_strStatTblSrc = m_names.UnitCopy(m_nUnitSrc, "statdata");
  m_strStatTblUnit1 = m_names.UnitCopy(m_nUnit1, "statdata");
  m_strStatTblUnit2 = m_names.UnitCopy(m_nUnit2, "statdata");
  m_strJbntTblSrc = m_names.UnitCopy(m_nUnitSrc, "statdata_jbnt");
  m_strJbntTblUnit1 = m_names.UnitCopy(m_nUnit1, "statdata_jbnt");
  m_strJbntTblUnit2 = m_names.UnitCopy(m_nUnit2, "statdata_jbnt");
  try {
    OpenStatConnection();
  } catch (const db::DbError& error) {
    LogFailure("设置汇总数据库参数", "连接数据库失败", error);
    return 0;
  }
  return 1;
}

short CStatContext::LoadCodes() {
  if (!m_pRuralCode || !gis::IsLayerValid(m_pRuralCode->m_ai)) {
    LogFailure("装载代码表", "没有可读的代码表");
    host::yDebug("no code table to read%s",
                 m_pRuralCode ? (": " + m_pRuralCode->Path()).c_str() : "");
    return 0;
  }
  std::vector<gis::CODESTRUCT> entries;
  m_pRuralCode->GetCode(nullptr, &entries, 0, nullptr);
  m_arrClassCodes.clear();
  m_arrClass1Codes.clear();
  m_mapCodeName.clear();
  for (const gis::CODESTRUCT& entry : entries) {
    if (entry.type.find("行政代码") != std::string::npos) {
      m_mapCodeName[entry.code] = entry.name;
    } else if (entry.type.find("地类代码") != std::string::npos) {
      m_arrClassCodes.push_back(entry.code);
      if (entry.code.size() == 2) m_arrClass1Codes.push_back(entry.code);
    }
  }
  m_arrStatFields.clear();
  if (m_bHasMssm) m_arrStatFields.push_back("描述说明");
  m_arrStatFields.insert(m_arrStatFields.end(), kStatFixedFields.begin(), kStatFixedFields.end());
  for (const std::string& code : m_arrClassCodes) m_arrStatFields.push_back("BM" + code);
  // A server whose parcels come from an Oracle source speaks Oracle.
  m_bOracle = m_nDbMode != 0 && (m_nDbMode == 2 || m_nDbType == 2 ||
                                 (m_aiParcel > 0 && gis::IsLayerValid(m_aiParcel) &&
                                  gis::DataSourceKind(m_aiParcel) == 0x1100));
  return WriteCodeTable(entries);
}

short CStatContext::WriteCodeTable(const std::vector<gis::CODESTRUCT>& entries) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(entries.size());
  for (const gis::CODESTRUCT& entry : entries) rows.push_back({entry.name, entry.type, entry.code});
  try {
    // Shared by the counties of a server database: this county's rows.
    RefreshCountyRows(m_pConn, kCodeTbl1Table, m_strPrefix2, rows);
  } catch (const db::DbError& error) {
    LogFailure("装载代码表", "创建CODETBL1失败", error);
    return 0;
  }
  return 1;
}

std::unique_ptr<CStatContext> CStatContext::NewHelper() const {
  auto helper = std::make_unique<CStatContext>(
      m_aiXzq, m_aiParcel, m_aiLine, m_aiPoint, m_aiJbntParcel, m_aiJbntLine, m_aiJbntPoint,
      m_aiChange, m_aiGdhb, m_aiDispute, m_pRuralCode, m_strPrefix1, m_strPrefix2, std::string(),
      m_bGroupLevel ? 1 : 0, m_strVersion);
  CStatContext& h = *helper;
  h.m_nJbntBaseData = m_nJbntBaseData;
  h.m_nJbntGdBaseData = m_nJbntGdBaseData;
  h.m_bJbntExBuilt = m_bJbntExBuilt;
  h.m_setRunFamilies = m_setRunFamilies;
  h.m_setLeftOutFamilies = m_setLeftOutFamilies;
  std::copy(std::begin(m_strClassFld), std::end(m_strClassFld), std::begin(h.m_strClassFld));
  h.m_strConnect = m_strConnect;
  h.m_nDbMode = m_nDbMode;
  h.m_bOracle = m_bOracle;
  h.m_nDbType = m_nDbType;
  h.m_nStatScope = m_nStatScope;
  h.m_bPm = m_bPm;
  h.m_bGq = m_bGq;
  h.m_bMu = m_bMu;
  h.m_bNoPmTables = m_bNoPmTables;
  h.m_nUnitSrc = m_nUnitSrc;
  h.m_nUnit1 = m_nUnit1;
  h.m_nUnit2 = m_nUnit2;
  h.m_nDecSrc = m_nDecSrc;
  h.m_nDec1 = m_nDec1;
  h.m_nDec2 = m_nDec2;
  h.m_bUnitsRead = m_bUnitsRead;
  h.m_strStatTbl = m_strStatTbl;
  h.m_strStatTblSrc = m_strStatTblSrc;
  h.m_strStatTblUnit1 = m_strStatTblUnit1;
  h.m_strStatTblUnit2 = m_strStatTblUnit2;
  h.m_strJbntTbl = m_strJbntTbl;
  h.m_strJbntTblSrc = m_strJbntTblSrc;
  h.m_strJbntTblUnit1 = m_strJbntTblUnit1;
  h.m_strJbntTblUnit2 = m_strJbntTblUnit2;
  h.m_arrClassCodes = m_arrClassCodes;
  h.m_arrClass1Codes = m_arrClass1Codes;
  h.m_mapCodeName = m_mapCodeName;
  h.m_arrStatFields = m_arrStatFields;
  h.m_bHasMssm = m_bHasMssm;
  h.m_strCodeTblSql = m_strCodeTblSql;
  h.m_bWorkingCopy = m_bWorkingCopy;
  h.m_bYearless = m_bYearless;
  h.m_bRepairedRange = m_bRepairedRange;
  h.m_names = m_names;
  h.HoldLines();
  h.OpenStatConnection();
  return helper;
}

std::string CStatContext::CountyCodesLike() const {
  return db::QuoteText(m_strPrefix2 + "%");
}

bool CStatContext::PiecesLieInCounty(const std::string& table) {
  if (m_pConn
          .Scalar("select count(*) from " + table + " where 座落单位代码 like " + CountyCodesLike())
          .AsInteger() > 0) {
    return true;
  }
  const db::Value first = m_pConn.Scalar("select min(座落单位代码) from " + table);
  if (first.IsNull()) return true;
  LogNoPieceInCounty(first.AsText());
  return false;
}

void CStatContext::LogNoPieceInCounty(const std::string& code) {
  LogFailure("县级行政区代码 " + m_strPrefix2,
             "没有图斑座落于县 " + m_strPrefix2 + ", 图斑座落于县 " + code.substr(0, 6));
}

std::string CStatContext::GroupCodesLike() const {
  return db::QuoteText(m_strPrefix2 + "_____________");
}

std::string CStatContext::VillageCodesLike() const {
  return db::QuoteText(m_strPrefix2 + "______");
}

db::DbKind CStatContext::DialectKind() const {
  if (m_nDbMode == 0) return db::DbKind::kEmbedded;
  return m_bOracle ? db::DbKind::kOracle : db::DbKind::kServer;
}

std::string CStatContext::TypeWords(const std::string& statement) const {
  return Dialect().ApplyTypeWords(statement);
}

}  // namespace landstat
