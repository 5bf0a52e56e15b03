#pragma once

// The change balance table in the unit of a print: converted, rounded to
// the unit's decimals and balanced, so that the printed sheet adds up as the
// square-metre table does.

#include "platform/gis/layers.h"

namespace landstat::report {

// Converts every area of a balance table that GetBalanceAi made (square
// metres) to `unit` (mu x 0.0015, hectares x 0.0001, square metres as they
// are), rounds it half away from zero to `decimals`, and steps the rounded
// figures by one unit of the last decimal (the step rule of the unit copies,
// the largest figure of a record first, never a figure that is 0) so that
// the sums the square-metre table holds, to a tenth of that unit, hold
// exactly:
// - in every column 上年末面积 - 本年减少 + 本年增加 = 本年末面积 =
//   本年末国有 + 本年末集体 (本年末面积 and 本年末集体 are made so);
// - in every record the lowest classes add up to 合计, and a class with
//   columns of its own classes is their sum (in 本年增加 less the moves
//   within the class, as far as 本年减少 has them);
// - a class record's 合计 is that class's 本年减少;
// - a figure that is 0 in square metres stays 0: a class gone by the end
//   of the year loses in 本年减少 all it had and gained, a class without
//   collective land is state-owned whole.
// A table already on the grid in square metres is left as it is. Returns
// 1; 0 when the table lacks 合计 or the six fixed records, or cannot be
// read or written (it may then be converted in part). Never raises.
short BalanceTableInUnit(gis::LayerHandle table, short unit, int decimals);

}  // namespace landstat::report
