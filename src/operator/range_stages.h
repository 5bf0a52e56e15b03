#pragma once

// The stages of the range runs on their contexts (range_statistics.cpp),
// for the job frame of range_run.cpp.

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace landstat {

class CStatContext;
class CZdStatContext;

// Land use: without a `title`, the base data and every summary pair in
// their order; false when the base data failed (the later stages are
// skipped). With a title: the base data when the database has none, QSDMB
// and the pairs of that report; true. Each stage puts the base name of the
// tables it made into `made`, as do the others below.
bool BuildLandUseRange(CStatContext& context, const std::optional<std::string>& title,
                       std::set<std::string>& made);
// Basic farmland: the three pairs, the base pair first; false, the others
// skipped, when the base table's pieces lie in another county than the
// range's.
bool BuildFarmlandRange(CStatContext& context, std::set<std::string>& made);
// Town lots, as BuildLandUseRange; `land_use` runs the land-use range
// statistics and is called, before the intensity table, when the database
// has no land-use base table.
bool BuildTownRange(CZdStatContext& context, const std::optional<std::string>& title,
                    const std::function<void()>& land_use, std::set<std::string>& made);
// Whether the town report of that title reads the land-use base table
// (the intensity report).
bool TownTitleReadsLandUse(const std::string& title);
// The lot and house information from the data source of rivadoverid.ini
// ("数据源"/"名称"): without a title both tables, otherwise the one the
// title names ("宗地信息表", "房屋信息表"). Without a configured data source
// the step is left out (noticed); one that cannot be reached is logged.
void CopyLotAndHouseInfo(CZdStatContext& context, const std::optional<std::string>& title,
                         std::set<std::string>& made);

}  // namespace landstat
