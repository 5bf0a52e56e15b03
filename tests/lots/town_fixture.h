#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "lots/zd_stat_context.h"

namespace landstat::testing {

// A small town written by hand: a code table with the administrative units
// of survey_fixture.h, the land uses 05 (051, 052), 07 (071, 072) and 20
// (201), and the house structures 1 and 2; lot and house layers with the
// fields the town-lot base fill reads.
std::vector<gis::CODESTRUCT> TownCodeEntries();

extern const std::vector<FixtureField> kLotFields;
extern const std::vector<FixtureField> kHouseFields;

// Writes the lot layer (named `lot_layer`) and, when `houses` is given, the
// house layer "房屋层" into the GeoPackage at `path`, beside what is there.
// Each feature is a square of its own.
void WriteTownLayers(const std::string& path, const std::vector<FieldValues>& lots,
                     const std::vector<FieldValues>* houses = nullptr,
                     const std::string& lot_layer = "城镇权属层");

// A town-lot context of year 2009 and the county kCountyCode on the database
// of `connection` (naming `mode`), its codes and units loaded. Throws when
// its connection does not open.
std::unique_ptr<CZdStatContext> TownContext(gis::RuralCode* codes, const std::string& connection,
                                            short mode, short lot_layer = 0, short house_layer = 0);

}  // namespace landstat::testing
