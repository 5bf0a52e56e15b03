#pragma once

// The names of the Inner Mongolia tables. Their run names them plainly on
// every database (they hold one year and county at a time); the run that
// writes them and the reports that read them take their names here.

#include <string>

#include "engine/table_names.h"

namespace landstat {

inline constexpr short kMgNamingMode = 0;

// The kind of job the record of jobs knows an Inner Mongolia run by: its
// newest completed one holds the tables.
inline constexpr char kMongoliaJob[] = "mongolia";

// The names of the Inner Mongolia tables of a year and county.
inline TableNames MgTableNames(const std::string& year, const std::string& county) {
  return TableNames(kMgNamingMode, year, county);
}

// The ledger and its work table, both in square metres only: their base
// names, and the tables "ZPMTDLYTZMG" and "ZPMTDLY_EJFLTZMG" of `names`
// (those of MgTableNames).
inline constexpr char kMgLedgerBase[] = "TDLYTZMG";
inline constexpr char kMgLedgerWorkBase[] = "TDLY_EJFLTZMG";
inline std::string MgLedgerTable(const TableNames& names) {
  return names.Summary('Z', kSquareMetre, kMgLedgerBase);
}
inline std::string MgLedgerWorkTable(const TableNames& names) {
  return names.Summary('Z', kSquareMetre, kMgLedgerWorkBase);
}

// The base table, the staging table earlier versions of the temporary fill
// wrote beside it, the area-unit table and the ownership-code table of
// `names`.
inline constexpr char kMgBaseTable[] = "statdataMG";
inline std::string MgStagingTable(const TableNames& names) {
  return names.Plain(kMgBaseTable) + "tbl";
}
inline std::string MgAreaUnitTable(const TableNames& names) {
  return names.AreaUnit() + "MG";
}
inline std::string MgQsdmbTable(const TableNames& names) {
  return names.IsServer() ? "D" + names.Year() + "QSDMBMG" : "QSDMBMG";
}

}  // namespace landstat
