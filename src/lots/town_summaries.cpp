// The pattern the town summary tables share: names, create-all, fill-all
// and the dated twins of the unit conversion's road.

#include "lots/town_summary_family.h"
#include "platform/db/db_error.h"

namespace landstat {

std::vector<short> CZdStatContext::WantedUnits() const {
  std::vector<short> units;
  if (m_bGq) units.push_back(kHectare);
  if (m_bMu) units.push_back(kMu);
  if (m_bPm) units.push_back(kSquareMetre);
  return units;
}

std::string CZdStatContext::TownSummaryTable(short unit, const std::string& base) const {
  return m_names.Summary('Z', unit, base);
}

std::string CZdStatContext::DatedTable(const std::string& base) const {
  return m_names.Plain(base);
}

TownSources CZdStatContext::UnitSources(short unit) const {
  return {m_names.UnitCopy(unit, "statdata_czzd"), m_names.UnitCopy(unit, "statdata"),
          DecimalsOf(unit)};
}

int CZdStatContext::DecimalsOf(short unit) const {
  for (const UnitTable& table : UnitTables()) {
    if (table.unit == unit) return table.decimals;
  }
  return -1;
}

// The dated tables are rebuilt after a conversion on the source decimals.
TownSources CZdStatContext::DatedSources() const {
  return {m_names.Plain("statdata_czzdex"), m_names.Plain("statdataex"), m_nDecSrc};
}

short CZdStatContext::CreateTownTables(const TownSummary& family) {
  for (short unit : WantedUnits()) CreateTownTable(family, TownSummaryTable(unit, family.base));
  return 1;
}

std::string TownCreateStatement(const CZdStatContext& context, const TownSummary& family,
                                const std::string& name) {
  return context.TypeWords("Create Table " + name + "(" + family.columns(context) + ")");
}

std::string TownLevelColumns(const std::vector<std::string>& codes) {
  std::string columns = "XZQDM varchar(19) ,XZQMC varchar(60) ,XZQZMJ double default 0.00,";
  for (std::size_t i = 0; i < codes.size(); ++i) {
    columns += (i ? ",BM" : "BM") + codes[i] + " double default 0.00";
  }
  return columns;
}

short CZdStatContext::CreateTownTable(const TownSummary& family, const std::string& name) {
  if (IsTableExist(name)) DropTable(name);
  try {
    m_pConn.Execute(TownCreateStatement(*this, family, name));
    return 1;
  } catch (const db::DbError&) {
    LogFailure(family.create_title, family.create_message);
    return 0;
  }
}

short CZdStatContext::SumTownTables(const TownSummary& family) {
  for (short unit : WantedUnits()) {
    family.fill(*this, TownSummaryTable(unit, family.base), UnitSources(unit));
  }
  return 1;
}

short CZdStatContext::CreateTownTableDated(const TownSummary& family) {
  return CreateTownTable(family, DatedTable(family.base));
}

short CZdStatContext::SumTownTableDated(const TownSummary& family) {
  const auto fill = family.dated_fill ? family.dated_fill : family.fill;
  return fill(*this, DatedTable(family.base), DatedSources());
}

std::string LotTableKey(const TownSources& sources) {
  return sources.lots + "/" + std::to_string(sources.decimals);
}

std::map<std::string, CZdStatContext::Groupings> CZdStatContext::FeedLotGroupings(
    const TownSources& sources, const std::vector<std::string>& columns) const {
  std::map<std::string, Groupings> groupings;
  for (db::GroupedSumsQuery& query : UseRightGroupings(sources)) {
    groupings[kTownSyqzd.base].push_back(std::make_unique<db::GroupedSums>(query, columns));
  }
  groupings[kTownZdmjhz.base].push_back(
      std::make_unique<db::GroupedSums>(LotAreaGrouping(sources), columns));
  return groupings;
}

void CZdStatContext::KeepLotGroupings(const TownSources& sources,
                                      std::map<std::string, Groupings> groupings) {
  for (auto& [family, kept] : groupings) {
    m_lotGroupings[family + "/" + LotTableKey(sources)] = std::move(kept);
  }
}

CZdStatContext::Groupings CZdStatContext::TakeLotGroupings(const std::string& family,
                                                           const TownSources& sources) {
  const auto kept = m_lotGroupings.find(family + "/" + LotTableKey(sources));
  if (kept == m_lotGroupings.end()) return {};
  Groupings groupings = std::move(kept->second);
  m_lotGroupings.erase(kept);
  return groupings;
}

}  // namespace landstat
