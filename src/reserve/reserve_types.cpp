// Reserve types and the group codes of the code table.

#include "reserve/reserve_types.h"

#include <vector>

#include "engine/stat_context.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"

namespace landstat {
namespace {

// The reserve-type names of each scheme by class: reclaimable (Ⅰ) first.
// A name matches only as a whole, byte for byte.
struct TypeScheme {
  std::vector<const char*> reclaimable;
  std::vector<const char*> recultivable;
};

const TypeScheme kNewScheme = {
    {"Ⅰ1可开垦其他草地", "Ⅰ2可开垦盐碱地", "Ⅰ3可开垦沼泽地", "Ⅰ4可开垦滩涂", "Ⅰ5可开垦的其他土地"},
    {"Ⅱ1废弃压占土地", "Ⅱ2挖掘及塌陷破坏地", "Ⅱ3自然灾毁土地"}};

const TypeScheme kOldScheme = {{"Ⅰ1可开垦荒草地", "Ⅰ2可开垦盐碱地", "Ⅰ3可开垦沼泽地",
                                "Ⅰ4可开垦苇地", "Ⅰ5可开垦滩涂", "Ⅰ6其他可开垦的未利用土地"},
                               {"Ⅱ1废弃压占土地", "Ⅱ2挖掘及塌陷破坏地", "Ⅱ3自然灾毁土地"}};

short Classify(const TypeScheme& scheme, const std::string& type) {
  if (type.empty()) return 0;
  for (const char* name : scheme.reclaimable) {
    if (type == name) return 1;
  }
  for (const char* name : scheme.recultivable) {
    if (type == name) return 2;
  }
  return 0;
}

std::vector<const char*> TypesOf(const TypeScheme& scheme, short reserve_class) {
  if (reserve_class == 1) return scheme.reclaimable;
  if (reserve_class == 2) return scheme.recultivable;
  return {};
}

}  // namespace

short ClassifyGdhbNewType(const std::string& type) {
  return Classify(kNewScheme, type);
}

short ClassifyGdhbOldType(const std::string& type) {
  return Classify(kOldScheme, type);
}

std::vector<const char*> GdhbNewTypesOf(short reserve_class) {
  return TypesOf(kNewScheme, reserve_class);
}

std::vector<const char*> GdhbOldTypesOf(short reserve_class) {
  return TypesOf(kOldScheme, reserve_class);
}

short CStatContext::CountGroupCodes() {
  if (!m_pRuralCode) return 0;
  // A code table read row by row takes the code library's own expression
  // syntax; any other source takes SQL. Both select the same entries.
  const bool expression_syntax = gis::DataSourceKind(m_pRuralCode->m_ai) == 0;
  const char* condition =
      expression_syntax ? "代码类型 == \"组行政代码\"" : "代码类型 = '组行政代码'";
  try {
    return static_cast<short>(m_pRuralCode->GetCode(nullptr, nullptr, 0, condition));
  } catch (const gis::GisError& error) {
    LogFailure("统计组行政代码", "代码表不可读, 不汇总组级", error);
    return 0;
  }
}

}  // namespace landstat
