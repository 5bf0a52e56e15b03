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

#define LANDSTAT_SUMMARY_DRIVER(Driver, base, layout, location_only)        \
  short CStatContext::Driver() {                                            \
    return CreateSummaryCopies(base, SummaryLayout::layout, location_only); \
  }

LANDSTAT_SUMMARY_DRIVER(CreateTdlyYjflTables, "TDLY_YJFL", kFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateTdlyEjflTables, "TDLY_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateTdlySjflTables, "TDLY_SJFL", kThirdLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyYjflTables, "NCTDLY_YJFL", kRuralFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyEjflTables, "NCTDLY_EJFL", kRuralSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlySjflTables, "NCTDLY_SJFL", kRuralThirdLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyQsYjflTables, "NCTDLY_QSYJFL", kRuralOwnership, false)
LANDSTAT_SUMMARY_DRIVER(CreateTdlyQsYjflTables, "TDLY_QSYJFL", kOwnership, false)
LANDSTAT_SUMMARY_DRIVER(CreateHdTdlyYjflTables, "HDTDLY_YJFL", kIslandFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateHdTdlyEjflTables, "HDTDLY_EJFL", kIslandSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcHdTdlyYjflTables, "NCHDTDLY_YJFL", kRuralIslandFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcHdTdlyEjflTables, "NCHDTDLY_EJFL", kRuralIslandSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateFrdTdlyYjflTables, "FRDTDLY_YJFL", kEnclaveFirstLevel, true)
LANDSTAT_SUMMARY_DRIVER(CreateFrdTdlyEjflTables, "FRDTDLY_EJFL", kEnclaveSecondLevel, true)
LANDSTAT_SUMMARY_DRIVER(CreateGdPdMjHzTables, "GDPDMJHZ", kSlope, false)
LANDSTAT_SUMMARY_DRIVER(CreateTdlyTzTables, "TDLYTZ", kLedger, true)
LANDSTAT_SUMMARY_DRIVER(CreateKtzTables, "KTZ", kAdjustable, false)
LANDSTAT_SUMMARY_DRIVER(CreatePewyYjflTables, "PEWY_YJFL", kFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreatePewyEjflTables, "PEWY_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreatePewyYjEjflTables, "PEWYYJ_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateWpxjEjflTables, "WPXJ_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreatePzyjEjflTables, "PZYJ_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(Create2009PEjflTables, "2009P_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(Create2009BEjflTables, "2009B_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(Create2010ZhEjflTables, "2010ZH_EJFL", kSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyYjflNohdTables, "NCTDLY_YJFLNOHD", kRuralFirstLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyEjflNohdTables, "NCTDLY_EJFLNOHD", kRuralSecondLevel, false)
LANDSTAT_SUMMARY_DRIVER(CreateNcTdlyQsYjflNohdTables, "NCTDLY_QSYJFLNOHD", kRuralOwnership, false)

#undef LANDSTAT_SUMMARY_DRIVER

#define LANDSTAT_CONVERTED_TWIN(Twin, base, layout)           \
  short CStatContext::Twin() {                                \
    return CreateConvertedTable(base, SummaryLayout::layout); \
  }

LANDSTAT_CONVERTED_TWIN(CreateTdlyYjflConvertedTable, "TDLY_YJFL", kFirstLevel)
LANDSTAT_CONVERTED_TWIN(CreateTdlyEjflConvertedTable, "TDLY_EJFL", kSecondLevel)
LANDSTAT_CONVERTED_TWIN(CreateNcTdlyYjflConvertedTable, "NCTDLY_YJFL", kRuralFirstLevel)
LANDSTAT_CONVERTED_TWIN(CreateNcTdlyEjflConvertedTable, "NCTDLY_EJFL", kRuralSecondLevel)
LANDSTAT_CONVERTED_TWIN(CreateNcTdlyQsYjflConvertedTable, "NCTDLY_QSYJFL", kRuralOwnership)
LANDSTAT_CONVERTED_TWIN(CreateTdlyQsYjflConvertedTable, "TDLY_QSYJFL", kOwnership)
LANDSTAT_CONVERTED_TWIN(CreateFrdTdlyYjflConvertedTable, "FRDTDLY_YJFL", kEnclaveFirstLevel)
LANDSTAT_CONVERTED_TWIN(CreateFrdTdlyEjflConvertedTable, "FRDTDLY_EJFL", kEnclaveSecondLevel)
LANDSTAT_CONVERTED_TWIN(CreateGdPdMjHzConvertedTable, "GDPDMJHZ", kSlope)

#undef LANDSTAT_CONVERTED_TWIN

}  // namespace landstat
