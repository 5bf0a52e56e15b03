#pragma once

#include <string>
#include <vector>

#include "lots/zd_stat_context.h"
#include "platform/db/grouped_sums.h"

namespace landstat {

// One family of town summary tables: what differs between them. The
// pattern they share (CZdStatContext::CreateTownTables and the rest) names
// the tables, drops and creates each wanted unit's table, then fills it
// from that unit's sources; the dated twin the same from the extension
// table.
struct TownSummary {
  const char* base;            // "CZTDLY_YJFLZD"
  const char* create_title;    // logged when a create fails
  const char* create_message;  // ... with this message
  // The column definitions between "Create Table %s(" and ")", with the
  // word "double" for area columns (the dialect's type word replaces it).
  std::string (*columns)(const CZdStatContext& context);
  // Fills `target`; 1, or 0 after a logged failure.
  short (*fill)(CZdStatContext& context, const std::string& target, const TownSources& sources);
  // The dated twin's fill, where it differs from `fill`; null: `fill`.
  short (*dated_fill)(CZdStatContext& context, const std::string& target,
                      const TownSources& sources) = nullptr;
};

// The create statement of a family's table `name`, with the dialect's type
// words.
std::string TownCreateStatement(const CZdStatContext& context, const TownSummary& family,
                                const std::string& name);

// The leading columns of the tables by level (code, name, total area),
// then one area column "BM" + code per code.
std::string TownLevelColumns(const std::vector<std::string>& codes);

// Where the groupings of a lot table, in the unit and decimals of
// `sources`, are kept for the families that read it.
std::string LotTableKey(const TownSources& sources);

// The groupings of a lot table that the use-right table reads (one per
// level), and the one the lot-area table reads.
std::vector<db::GroupedSumsQuery> UseRightGroupings(const TownSources& sources);
db::GroupedSumsQuery LotAreaGrouping(const TownSources& sources);

// The families of the land-use classes, the use-right types and the lot
// areas.
extern const TownSummary kTownYjflzd, kTownEjflzd, kTownSyqzd, kTownZdmjhz;

}  // namespace landstat
