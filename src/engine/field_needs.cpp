#include "engine/field_needs.h"

namespace landstat {
namespace {

using Tables = std::vector<const char*>;

// The tables by ownership nature (state-owned or collective) and the
// enclave tables, which keep collective land only.
const Tables kByNature = {"NCTDLY_QSYJFL", "TDLY_QSYJFL",  "NCTDLY_QSSJFL", "NCTDLY_QSYJFLNOHD",
                          "FRDTDLY_YJFL",  "FRDTDLY_EJFL", "TDLYTZ"};
// The tables that show the owner's name.
const Tables kOwnerNames = {"FRDTDLY_YJFL", "FRDTDLY_EJFL", "TDLYTZ"};
const Tables kIslands = {"NCHDTDLY_YJFL", "NCHDTDLY_EJFL", "HDTDLY_YJFL", "HDTDLY_EJFL"};
// The parcels-only farmland tables group by every mark of a parcel; the
// farmland slope summary is summed from them.
const Tables kFarmlandOnly = {"JBNTONLY"};
// The Guangdong farmland tables, summed from the Guangdong base table.
const Tables kGuangdong = {"JBNTKTZGD", "JBNTQKTJGD"};

// A table that reads a family listed here (TableFamily::after) is left out
// with it, so only the families that read the field themselves are named.
const std::vector<FieldNeed> kParcels = {
    {"权属性质", kByNature},
    {"权属单位名称", kOwnerNames},
    {"耕地坡度级", {"GDPDMJHZ"}},
    {"耕地类型", {"GDPDMJHZ"}},
    {"地类备注", {"KTZ", "PEWY_EJFL", "PEWYTBL"}},
    {"批准文号", {"PEWYTBL"}},
    {"新增建设用地类型", {"PEWYYJ_EJFL", "WPXJ_EJFL", "PZYJ_EJFL"}},
    {"备注", {"2009P_EJFL", "2009B_EJFL", "2010ZH_EJFL"}},
};
const std::vector<FieldNeed> kIslandColumn = {{"描述说明", kIslands}};
const std::vector<FieldNeed> kLines = {
    {"权属性质", kByNature},
    {"权属单位名称1", kOwnerNames},
    {"权属单位名称2", kOwnerNames},
};
const std::vector<FieldNeed> kPoints = {
    {"权属性质", kByNature},
    {"权属单位名称", kOwnerNames},
    {"座落图斑编号", {"TDLYTZ"}},
};

const std::vector<FieldNeed> kFarmland = {
    {"是否补划", {"JBNTBHMJ", "JBNTTCHBHQMJ", "JBNTBHMJGX", "JBNTONLY"}},
    {"调入备注",
     {"JBNTTXQMJ", "JBNTBSMJ", "JBNTBGJMJ", "JBNTTCHBHQMJ", "JBNTGHWSMJ", "JBNTTCMJ", "JBNTONLY"}},
    // Under "山东" farmland brought in ('TC') is left out of these.
    {"调入备注", {"JBNTQKTJ", "JBNTBHKQKTJ", "JBNTNEWBHKQKTJ", "JBNTKTZ", "BHKKTZ"}, "山东"},
    {"地类备注",
     {"JBNTKTZ", "BHKKTZ", "JBNTKTZGDBHH", "JBNTQKTJGX", "JBNTNEWBHKQKTJGX", "JBNTBHMJGX",
      "JBNTGHWSMJ", "JBNTTCMJ", "JBNTONLY", "JBNTPDMJHZ"}},
    {"耕地坡度级", {"JBNTONLY", "JBNTPDMJHZ"}},
    {"耕地类型", {"JBNTONLY", "JBNTPDMJHZ"}},
    {"权属性质", kFarmlandOnly},
    {"权属单位名称", kFarmlandOnly},
};

// The Guangdong walks: the adjustable land by its remark, the rest by the
// supplement mark the lines and points take from the parcel they name, the
// deductions, both sides of a halved line and the owner (the tables by
// ownership).
const std::vector<FieldNeed> kGdParcels = {
    {"是否补划", kGuangdong},     {"地类备注", {"JBNTKTZGD"}},  {"图斑编号", kGuangdong},
    {"扣除地类系数", kGuangdong}, {"扣除地类编码", kGuangdong}, {"扣除地类面积", kGuangdong},
    {"权属单位代码", kGuangdong},
};
const std::vector<FieldNeed> kGdLines = {
    {"地类备注", {"JBNTKTZGD"}},   {"基本农田图斑编号2", kGuangdong},
    {"扣除图斑编号2", kGuangdong}, {"扣除图斑座落代码2", kGuangdong},
    {"权属单位代码1", kGuangdong}, {"权属单位代码2", kGuangdong},
};
const std::vector<FieldNeed> kGdPoints = {
    {"地类备注", {"JBNTKTZGD"}},
    {"权属单位代码", kGuangdong},
};

}  // namespace

std::span<const FieldNeed> FieldNeedsOf(SurveyWalk walk) {
  switch (walk) {
    case SurveyWalk::kParcels:
      return kParcels;
    case SurveyWalk::kIslandColumn:
      return kIslandColumn;
    case SurveyWalk::kLines:
      return kLines;
    case SurveyWalk::kPoints:
      return kPoints;
    case SurveyWalk::kFarmland:
      return kFarmland;
    case SurveyWalk::kGdParcels:
      return kGdParcels;
    case SurveyWalk::kGdLines:
      return kGdLines;
    case SurveyWalk::kGdPoints:
      return kGdPoints;
  }
  return {};
}

LackingFieldTables FamiliesLackingFields(LayerChecks& checks, std::span<const FieldNeed> needs,
                                         const std::set<std::string>& run,
                                         const RunVariant& variant, FamilyKind kind) {
  LackingFieldTables lacking;
  for (const FieldNeed* need : checks.Lacking(needs)) {
    if (need->version_word && !variant.Has(need->version_word)) continue;
    lacking.needing.insert(need->tables.begin(), need->tables.end());
    const std::vector<std::string> left = FamiliesReading(run, need->tables, kind);
    if (left.empty()) continue;
    std::string listed;
    for (const std::string& base : left) listed += (listed.empty() ? "" : ", ") + base;
    checks.LogLacking(need->field, "不生成需要该字段的表 " + listed);
    lacking.families.insert(left.begin(), left.end());
  }
  return lacking;
}

std::vector<const char*> DistrictReaders(bool island_column) {
  // The copies without the island villages join the district table always.
  std::vector<const char*> readers = {"statdataNOHD"};
  if (!island_column) readers.insert(readers.end(), kIslands.begin(), kIslands.end());
  return readers;
}

}  // namespace landstat
