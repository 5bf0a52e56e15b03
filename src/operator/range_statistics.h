#pragma once

// The statistics of a range: a small project cut out of a county's layers,
// in a folder of its own. The statistics go into the range database
// "RangeStat.sqlite" in that folder (made when missing, reused otherwise),
// always with plain table names, and a copy of the code table is written
// beside it as "CODE.WB". The land-use and farmland runs first repair the
// clipped layers (clip_analyse). range_run.h is the host's way in; these
// are the exported forms and the lot and house copies.

#include <string>

#include "platform/db/connection.h"
#include "platform/gis/rural_code.h"

namespace landstat {

// The range database and the code file of a range folder.
extern const char* const kRangeDatabaseName;  // "RangeStat.sqlite"
extern const char* const kRangeCodeFileName;  // "CODE.WB"
extern const char* const kRangeLogName;       // "RangeStatLog.txt"

// The exported runs. Each gives 0 when it ends before the range folder is
// touched (a null path, an empty title, a project that does not open, a
// required layer missing) or when the run failed (the range database then
// keeps what an earlier run stored); 1 when it completed. `county` is the
// second table-name prefix part (plain names leave it out of the tables).
//
// LandUseRangeStat: land use, every summary of the range.
// LandUseRangeStatByTbl: the base data when the database lacks them, the
// code table QSDMB and the tables of the report of that title.
// LandJBNTRangeStat: basic farmland.
// LandCZZDRangeStat: town lots, every summary, the land-use run first when
// the database has no land-use base table, then the lot and house
// information of the data source.
// LandCZZDRangeStatByTbl: the tables of the town report of that title; it
// needs the house layer too.
short LandUseRangeStat(const char* project_path, gis::RuralCode* codes, const std::string& county);
short LandUseRangeStatByTbl(const char* project_path, const std::string& title,
                            gis::RuralCode* codes, const std::string& county);
short LandJBNTRangeStat(const char* project_path, gis::RuralCode* codes, const std::string& county);
short LandCZZDRangeStat(const char* project_path, gis::RuralCode* codes, const std::string& county);
short LandCZZDRangeStatByTbl(const char* project_path, const std::string& title,
                             gis::RuralCode* codes, const std::string& county);

// The lot information ZDXX (from the data source's table approve, by 地籍号)
// and the house information FWXX (from FW_QLR, by 隶属宗地 and, where both
// carry one, 房屋编号) of the records of a lot or house layer, copied into
// the range database: the table is made again, and for each record the
// first source row that matches gives the values of the columns the two
// tables share. 1 when the table was written; 0 when the layer or a
// connection is missing or closed, the layer is empty, or a database error
// stopped the copy (rows added before it stay; the error goes to the trace).
short RangeStatZDInfo(short lot_layer, db::Connection* range, db::Connection* source);
short RangeStatFWInfo(short house_layer, db::Connection* range, db::Connection* source);

}  // namespace landstat
