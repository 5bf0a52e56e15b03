// The unit copies of the Guangdong farmland base table: one per wanted
// unit, condensed by protection block, marks and administrative and
// ownership unit as the general farmland copies are, the target copies
// converted from the source unit and balanced (rows to the converted
// county total, classes to each row's total).

#include <string>

#include "engine/stat_context.h"

namespace landstat {
namespace {

constexpr char kGdBase[] = "statdata_jbntGD";

}  // namespace

short CStatContext::CreateUnitJbntTablesGd() {
  // A copy that cannot be made is logged; its fill then fails, logged too.
  for (short unit : {kMu, kHectare, kSquareMetre}) {
    if (WantsUnit(unit)) CreateUnitJbntTable(m_names.UnitCopy(unit, kGdBase));
  }
  return 1;
}

short CStatContext::BuildJbntBaseDataPMGd() {
  return CondenseJbntRows(m_strJbntTbl + "GD", m_names.UnitCopy(kSquareMetre, kGdBase),
                          kSquareMetre);
}

short CStatContext::BuildJbntBaseDataGQGd() {
  return CondenseJbntRows(m_strJbntTbl + "GD", m_names.UnitCopy(kHectare, kGdBase), kHectare);
}

short CStatContext::BuildJbntBaseDataMUGd() {
  return CondenseJbntRows(m_strJbntTbl + "GD", m_names.UnitCopy(kMu, kGdBase), kMu);
}

short CStatContext::ConvertJbntUnitsGd() {
  return ConvertJbntUnits(kGdBase);
}

short CStatContext::BalanceJbntGd() {
  // A unit that is not configured names no copy (empty).
  return BalanceJbntCopies(m_names.UnitCopy(m_nUnitSrc, kGdBase),
                           m_names.UnitCopy(m_nUnit1, kGdBase),
                           m_names.UnitCopy(m_nUnit2, kGdBase));
}

}  // namespace landstat
