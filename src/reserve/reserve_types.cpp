// Reserve types and the group codes of the code table.

#include "reserve/reserve_types.h"

#include <algorithm>
#include <iterator>

#include "engine/stat_context.h"

namespace landstat {
namespace {

const char* const kNewReclaimable[] = {"Ⅰ1可开垦其他草地", "Ⅰ2可开垦盐碱地", "Ⅰ3可开垦沼泽地",
                                       "Ⅰ4可开垦滩涂", "Ⅰ5可开垦的其他土地"};
const char* const kOldReclaimable[] = {"Ⅰ1可开垦荒草地", "Ⅰ2可开垦盐碱地",
                                       "Ⅰ3可开垦沼泽地", "Ⅰ4可开垦苇地",
                                       "Ⅰ5可开垦滩涂",   "Ⅰ6其他可开垦的未利用土地"};
const char* const kRecultivable[] = {"Ⅱ1废弃压占土地", "Ⅱ2挖掘及塌陷破坏地", "Ⅱ3自然灾毁土地"};

template <std::size_t N>
bool Listed(const char* const (&names)[N], const std::string& type) {
  return std::any_of(std::begin(names), std::end(names),
                     [&](const char* name) { return type == name; });
}

template <std::size_t N>
short Classify(const char* const (&reclaimable)[N], const std::string& type) {
  if (Listed(reclaimable, type)) return 1;
  return Listed(kRecultivable, type) ? 2 : 0;
}

}  // namespace

short CStatContext::CountGroupCodes() {
  if (!m_pRuralCode) return 0;
  return static_cast<short>(m_pRuralCode->GetCode(nullptr, nullptr, 0, "代码类型 = '组行政代码'"));
}

short ClassifyGdhbNewType(const std::string& type) {
  return Classify(kNewReclaimable, type);
}
short ClassifyGdhbOldType(const std::string& type) {
  return Classify(kOldReclaimable, type);
}

}  // namespace landstat
