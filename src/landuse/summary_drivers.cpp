// The create drivers of the land-use summary tables: every wanted copy of a
// family (per scope and unit) created empty, and the unit-less twins that
// the unit conversion refills.

#include "engine/stat_context.h"

namespace landstat {
std::vector<std::string> CStatContext::SummaryCopies(const std::string& base,
                                                     bool location_only) const {
  std::vector<std::string> names;
  const auto add_scope = [&](char scope) {
    for (short unit : {kSquareMetre, kMu, kHectare}) {
      if (WantsSummaryUnit(unit)) names.push_back(m_names.Summary(scope, unit, base));
    }
  };
  if (location_only || m_nStatScope == 0 || m_nStatScope == 2) add_scope('Z');
  if (!location_only && (m_nStatScope == 1 || m_nStatScope == 2)) add_scope('Q');
  return names;
}

short CStatContext::CreateSummaryCopies(const std::string& base, SummaryLayout layout,
                                        bool location_only) {
  for (const std::string& name : SummaryCopies(base, location_only)) {
    CreateSummaryTable(layout, name);
  }
  return 1;
}

short CStatContext::CreateConvertedTable(const std::string& base, SummaryLayout layout) {
  return CreateSummaryTable(layout, m_names.Plain(base), false);
}

// The create drivers named on the context: each the copies of one base name
// in one layout.

short CStatContext::CreateTdlyYjflTables() {
  return CreateSummaryCopies("TDLY_YJFL", SummaryLayout::kFirstLevel, false);
}
short CStatContext::CreateTdlyEjflTables() {
  return CreateSummaryCopies("TDLY_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::CreateTdlySjflTables() {
  return CreateSummaryCopies("TDLY_SJFL", SummaryLayout::kThirdLevel, false);
}
short CStatContext::CreateNcTdlyYjflTables() {
  return CreateSummaryCopies("NCTDLY_YJFL", SummaryLayout::kRuralFirstLevel, false);
}
short CStatContext::CreateNcTdlyEjflTables() {
  return CreateSummaryCopies("NCTDLY_EJFL", SummaryLayout::kRuralSecondLevel, false);
}
short CStatContext::CreateNcTdlySjflTables() {
  return CreateSummaryCopies("NCTDLY_SJFL", SummaryLayout::kRuralThirdLevel, false);
}
short CStatContext::CreateNcTdlyQsYjflTables() {
  return CreateSummaryCopies("NCTDLY_QSYJFL", SummaryLayout::kRuralOwnership, false);
}
short CStatContext::CreateTdlyQsYjflTables() {
  return CreateSummaryCopies("TDLY_QSYJFL", SummaryLayout::kOwnership, false);
}
short CStatContext::CreateHdTdlyYjflTables() {
  return CreateSummaryCopies("HDTDLY_YJFL", SummaryLayout::kIslandFirstLevel, false);
}
short CStatContext::CreateHdTdlyEjflTables() {
  return CreateSummaryCopies("HDTDLY_EJFL", SummaryLayout::kIslandSecondLevel, false);
}
short CStatContext::CreateNcHdTdlyYjflTables() {
  return CreateSummaryCopies("NCHDTDLY_YJFL", SummaryLayout::kRuralIslandFirstLevel, false);
}
short CStatContext::CreateNcHdTdlyEjflTables() {
  return CreateSummaryCopies("NCHDTDLY_EJFL", SummaryLayout::kRuralIslandSecondLevel, false);
}
short CStatContext::CreateFrdTdlyYjflTables() {
  return CreateSummaryCopies("FRDTDLY_YJFL", SummaryLayout::kEnclaveFirstLevel, true);
}
short CStatContext::CreateFrdTdlyEjflTables() {
  return CreateSummaryCopies("FRDTDLY_EJFL", SummaryLayout::kEnclaveSecondLevel, true);
}
short CStatContext::CreateGdPdMjHzTables() {
  return CreateSummaryCopies("GDPDMJHZ", SummaryLayout::kSlope, false);
}
short CStatContext::CreateTdlyTzTables() {
  return CreateSummaryCopies("TDLYTZ", SummaryLayout::kLedger, true);
}
short CStatContext::CreateKtzTables() {
  return CreateSummaryCopies("KTZ", SummaryLayout::kAdjustable, false);
}
short CStatContext::CreatePewyYjflTables() {
  return CreateSummaryCopies("PEWY_YJFL", SummaryLayout::kFirstLevel, false);
}
short CStatContext::CreatePewyEjflTables() {
  return CreateSummaryCopies("PEWY_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::CreatePewyYjEjflTables() {
  return CreateSummaryCopies("PEWYYJ_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::CreateWpxjEjflTables() {
  return CreateSummaryCopies("WPXJ_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::CreatePzyjEjflTables() {
  return CreateSummaryCopies("PZYJ_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::Create2009PEjflTables() {
  return CreateSummaryCopies("2009P_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::Create2009BEjflTables() {
  return CreateSummaryCopies("2009B_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::Create2010ZhEjflTables() {
  return CreateSummaryCopies("2010ZH_EJFL", SummaryLayout::kSecondLevel, false);
}
short CStatContext::CreateNcTdlyYjflNohdTables() {
  return CreateSummaryCopies("NCTDLY_YJFLNOHD", SummaryLayout::kRuralFirstLevel, false);
}
short CStatContext::CreateNcTdlyEjflNohdTables() {
  return CreateSummaryCopies("NCTDLY_EJFLNOHD", SummaryLayout::kRuralSecondLevel, false);
}
short CStatContext::CreateNcTdlyQsYjflNohdTables() {
  return CreateSummaryCopies("NCTDLY_QSYJFLNOHD", SummaryLayout::kRuralOwnership, false);
}

short CStatContext::CreateTdlyYjflConvertedTable() {
  return CreateConvertedTable("TDLY_YJFL", SummaryLayout::kFirstLevel);
}
short CStatContext::CreateTdlyEjflConvertedTable() {
  return CreateConvertedTable("TDLY_EJFL", SummaryLayout::kSecondLevel);
}
short CStatContext::CreateNcTdlyYjflConvertedTable() {
  return CreateConvertedTable("NCTDLY_YJFL", SummaryLayout::kRuralFirstLevel);
}
short CStatContext::CreateNcTdlyEjflConvertedTable() {
  return CreateConvertedTable("NCTDLY_EJFL", SummaryLayout::kRuralSecondLevel);
}
short CStatContext::CreateNcTdlyQsYjflConvertedTable() {
  return CreateConvertedTable("NCTDLY_QSYJFL", SummaryLayout::kRuralOwnership);
}
short CStatContext::CreateTdlyQsYjflConvertedTable() {
  return CreateConvertedTable("TDLY_QSYJFL", SummaryLayout::kOwnership);
}
short CStatContext::CreateFrdTdlyYjflConvertedTable() {
  return CreateConvertedTable("FRDTDLY_YJFL", SummaryLayout::kEnclaveFirstLevel);
}
short CStatContext::CreateFrdTdlyEjflConvertedTable() {
  return CreateConvertedTable("FRDTDLY_EJFL", SummaryLayout::kEnclaveSecondLevel);
}
short CStatContext::CreateGdPdMjHzConvertedTable() {
  return CreateConvertedTable("GDPDMJHZ", SummaryLayout::kSlope);
}

}  // namespace landstat
