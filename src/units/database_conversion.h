#pragma once

#include <string>

#include "platform/gis/rural_code.h"
#include "units/conversion_run.h"

namespace landstat {

// The conversion of a county's stored statistics to another area unit. The
// unit-less summary tables (TDLY_YJFL, NCTDLY_EJFL, NCTDLY_QSYJFL,
// FRDTDLY_YJFL, GDPDMJHZ ...) hold the statistics in the unit of the last
// conversion; the area-unit table records, per year, the unit of each of
// them (its TYPE is the table's name), so a table is always converted from
// the unit it really holds.
//
// Arguments common to the exports: the code table, the statistics
// database's connection, the naming mode (0 stand-alone, 1 or 2 a server),
// the year and county code, the target unit (0 hectare, 1 mu, 2 square
// metre), the decimals of the converted figures (negative: those configured
// for the target unit), the group-level flag of the statistics (negative:
// as the run made its tables), and the log file (written when it exists).
// The base table is taken to be in the unit its run recorded (else the
// configured source unit). Each returns 1 when done and 0 when the
// database, the code table or the base table could not be used, or the
// target is no unit (said in a message).

// The decimals the configuration gives a unit ("PointLen" of the unit's
// place in "AreaUnit"); those of the source unit for a unit not configured.
short ConfiguredDecimals(short unit);

// The unit recorded for a kind of statistics ("土地利用", "基本农田",
// "城镇宗地") or a converted table ("TDLY_YJFL") in a year: 0, 1 or 2; -1
// when none is recorded or the database cannot be read. With several (the
// unit copies of a run) the first of hectares, mu and square metres.
short GetStatDataAreaUnit(const std::string& connection, short db_mode, const std::string& year,
                          const std::string& county, const std::string& kind);

// Rebuilds the extension base table statdataex in the target unit (the base
// table converted, rounded and balanced like a unit copy, or copied from the
// run's copy in that unit where it holds just that), then the
// unit-less summary tables from it and from the base table, and records the
// unit of each.
short LandConvertAreaUnit(gis::RuralCode* codes, const std::string& connection, short db_mode,
                          const std::string& year, const std::string& county, short target,
                          short decimals, int group_level, const std::string& log_path);

// Converts every stored unit-less summary table in place from its recorded
// unit to the target (a table already in the target unit is only rounded to
// the decimals; one without a recorded unit is logged and left), records the
// unit, and balances the tables again: by level, then the slope table and
// the farmland tables.
short LandConvertAreaUnit1(gis::RuralCode* codes, const std::string& connection, short db_mode,
                           const std::string& year, const std::string& county, short target,
                           short decimals, int group_level, const std::string& log_path);

// The whole conversion as the dialog and the command-line host run it: the
// rebuild, then the conversion in place and the balancing.
short ConvertStatDatabase(gis::RuralCode* codes, const std::string& connection, short db_mode,
                          const std::string& year, const std::string& county, short target,
                          short decimals, int group_level, const std::string& log_path);

// Every form works like ConvertStatistics (conversion_run.h).

}  // namespace landstat
