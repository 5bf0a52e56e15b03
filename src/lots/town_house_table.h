#pragma once

#include <optional>
#include <string>
#include <vector>

namespace landstat {

// The factor that converts a house area from unit `from` to unit `to`
// (0 hectare, 1 mu, 2 square metre) at full precision: 1 for the same unit,
// nothing for a pair that has no conversion.
std::optional<double> HouseAreaFactor(short from, short to);

// The names of a house layer's attribute ("RRA") and region ("REG") tables
// where the layer is stored as tables of the statistics database: the
// layer's name, less its last three characters when it holds a dot.
std::string HouseAttributeTable(const std::string& layer_name);
std::string HouseRegionTable(const std::string& layer_name);

// The two statements that fill the house table `table` from those tables:
// the live houses with their areas converted and rounded to `decimals`,
// then the row of the three sums. Empty for a unit pair without a factor.
std::vector<std::string> HouseTableStatements(const std::string& table,
                                              const std::string& attributes,
                                              const std::string& regions, short source_unit,
                                              short unit, short decimals);

}  // namespace landstat
