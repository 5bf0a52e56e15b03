// The Inner Mongolia base table "statdataMG": one row per piece of land the
// linear-feature, scattered-feature and parcel layers describe, with the
// hierarchy of the Inner Mongolia ownership code (county, category, bureau,
// the bureau's second-level unit).

#include <cstdlib>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "mongolia/mg_base_rows.h"
#include "mongolia/mg_stat_context.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/gis/gis_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/progress.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"

namespace landstat {

short CMgStatContext::CreateStatDataTable() {
  if (m_strStatTbl.empty()) return 0;
  std::string statement = "Create Table " + m_strStatTbl + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    if (i > 0) statement += ",";
    statement += m_arrStatFields[i] +
                 (i < kMgTextColumns ? " varchar(40) default ''  " : " double default 0.00");
  }
  statement = Dialect().ApplyTypeWords(statement + ")");
  try {
    SetAside(m_strStatTbl);
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError& error) {
    // Also a code table without land classes: a table without columns.
    LogFailure("建立内蒙古基础汇总表", "建立内蒙古基础汇总表失败", error);
    return 0;
  }
}

namespace mg {

std::string MgOwnerCodeProblem(const std::string& code, const std::string& county) {
  if (code.empty()) return "代码为空";
  if (!host::IsAdminCode(code)) return "不是数字";
  if (code.compare(0, county.size(), county) != 0) return "不是县 " + county + " 的代码";
  std::string lengths;
  for (std::size_t length : kMgCodeLengths) {
    if (code.size() == length) return {};
    lengths += (lengths.empty() ? "" : ", ") + std::to_string(length);
  }
  return "长度 " + std::to_string(code.size()) + " 不是权属单位代码的长度 (" + lengths + ")";
}

}  // namespace mg

namespace {

using namespace mg;

// The row of side k of a linear feature, without its area; nothing when a
// field the side needs is empty.
std::optional<MgRow> LineSide(const gis::Record& line, int side, const MgRow& common,
                              const MgFillRules& rules) {
  const std::string k = std::to_string(side);
  MgRow row = common;
  row.texts[kParcelNumber] = line.Text("扣除图斑编号" + k);
  row.texts[kLocationCode] = line.Text("扣除图斑座落代码" + k);
  row.texts[kOwnerCode] = line.Text("内蒙古权属单位代码" + k);
  if (row.texts[kParcelNumber].empty() || row.texts[kLocationCode].empty() ||
      (rules.owner_code_required && row.texts[kOwnerCode].empty())) {
    return std::nullopt;
  }
  row.texts[kOwnerName] = line.Text("内蒙古权属单位名称" + k);
  if (rules.line_location_named_by_owner) row.texts[kLocationName] = row.texts[kOwnerName];
  return row;
}

// A linear feature with a ratio of one half is shared between the parcels
// on its two sides, the halves adding up to its rounded area; with any
// other ratio it goes whole to side 1. Without the parcel of side 1 it
// gives no row.
void BookLine(MgPass& pass, const gis::Record& line, const std::string& class_field,
              const MgFillRules& rules) {
  if (line.Text("扣除图斑编号1").empty() || line.Text("扣除图斑座落代码1").empty()) {
    return pass.Skip();
  }
  MgRow common;
  common.texts[kSource] = "线状地物";
  common.texts[kTownLand] = TownLand(line);
  common.texts[kOwnership] = line.Text("权属性质");
  common.class_code = line.Text(class_field);
  const bool halves = text::TextToNumber(pass.Stored(line, "扣除比例")) == 0.5;
  std::vector<std::pair<int, MgRow>> sides;
  bool skipped = false;
  for (int side = 1; side <= (halves ? 2 : 1); ++side) {
    std::optional<MgRow> row = LineSide(line, side, common, rules);
    skipped = skipped || !row;
    if (row && pass.SoundOwner(line, "内蒙古权属单位代码" + std::to_string(side),
                               row->texts[kOwnerCode])) {
      sides.emplace_back(side, std::move(*row));
    }
  }
  if (skipped) pass.Skip();
  if (sides.empty()) return;
  const std::optional<double> area = pass.Area(line, "线状地物面积");
  if (!area) return;
  for (auto& [side, row] : sides) {
    row.area = halves ? xcDotOut(*area, static_cast<short>(side - 1), 1) : *area;
    const std::string label = "座落单位代码" + std::to_string(side);
    pass.Writer().Write(
        row,
        [&] {
          return RowTitle(line.Number(), row.class_code, label.c_str(), row.texts[kLocationCode],
                          !halves);
        },
        "添加线状地物数据失败");
  }
}

// The rows that carry a slope grade.
enum class SlopeOf { kScattered, kDeduction, kParcel };

// The slope grade of a row of land class `class_code` read from `record`.
std::string Slope(const gis::Record& record, const std::string& class_code, SlopeOf row,
                  const MgFillRules& rules) {
  const bool cultivated = class_code.compare(0, 2, "01") == 0;
  if (rules.slope_as_written) {
    return row != SlopeOf::kScattered || cultivated ? record.Text("耕地坡度级") : std::string();
  }
  if (row == SlopeOf::kDeduction) return cultivated ? "1" : "";
  return WholeNumberText(record.Text("耕地坡度级"));
}

// A scattered feature forms one row tied to the parcel it lies in.
void BookScattered(MgPass& pass, const gis::Record& point, const std::string& class_field,
                   const MgFillRules& rules) {
  MgRow row;
  row.texts[kLocationCode] = point.Text("座落单位代码");
  row.texts[kLocationName] = point.Text("座落单位名称");
  row.texts[kOwnerCode] = point.Text("内蒙古权属单位代码");
  if (row.texts[kLocationCode].empty() || row.texts[kOwnerCode].empty()) return pass.Skip();
  if (rules.scattered_location_name_required && row.texts[kLocationName].empty()) {
    // Its area would be missing from every table: a failure, not a count.
    return pass.Fail(point, "座落单位名称", "为空, 图元未计入");
  }
  if (!pass.SoundOwner(point, "内蒙古权属单位代码", row.texts[kOwnerCode])) return;
  const std::optional<double> area = pass.Area(point, "零星地物面积");
  if (!area) return;
  row.texts[kSource] = "零星地物";
  row.texts[kTownLand] = TownLand(point);
  row.texts[kParcelNumber] = point.Text("座落图斑编号");
  row.texts[kOwnerName] = point.Text("内蒙古权属单位名称");
  row.texts[kOwnership] = point.Text("权属性质");
  row.texts[kCultivationType] = point.Text("耕地类型");
  row.class_code = point.Text(class_field);
  row.texts[kSlope] = Slope(point, row.class_code, SlopeOf::kScattered, rules);
  row.area = *area;
  pass.Writer().Write(
      row,
      [&] {
        return RowTitle(point.Number(), row.class_code, "座落单位代码", row.texts[kLocationCode],
                        true);
      },
      "添加零星地物数据失败");
}

// A parcel gives its deduction row, when it has a deducted class, then its
// own row. The parcel's own row is written also when its deduction row
// failed, so a refused deduction costs only the deducted area.
void BookParcel(MgPass& pass, const gis::Record& parcel, const std::string& class_field,
                const MgFillRules& rules) {
  MgRow row;
  row.texts[kOwnerCode] = parcel.Text("内蒙古权属单位代码");
  row.texts[kLocationCode] = parcel.Text("座落单位代码");
  if (row.texts[kLocationCode].empty() ||
      (rules.owner_code_required && row.texts[kOwnerCode].empty())) {
    return pass.Skip();
  }
  if (!pass.SoundOwner(parcel, "内蒙古权属单位代码", row.texts[kOwnerCode])) return;
  row.texts[kTownLand] = TownLand(parcel);
  row.texts[kParcelNumber] = parcel.Text("图斑编号");
  row.texts[kOwnership] = parcel.Text("权属性质");
  row.texts[kOwnerName] = parcel.Text("内蒙古权属单位名称");
  row.texts[kLocationName] = parcel.Text("座落单位名称");
  const auto write = [&](const MgRow& piece) {
    pass.Writer().Write(
        piece,
        [&] {
          return RowTitle(parcel.Number(), piece.class_code, "座落单位代码",
                          piece.texts[kLocationCode], true);
        },
        "添加地类图斑数据失败");
  };
  if (std::string deducted = parcel.Text("扣除地类编码"); !deducted.empty()) {
    if (const std::optional<double> area = pass.Area(parcel, "扣除地类面积")) {
      MgRow deduction = row;
      deduction.texts[kSource] = "地类图斑扣除";
      deduction.texts[kSlope] = Slope(parcel, deducted, SlopeOf::kDeduction, rules);
      deduction.class_code = std::move(deducted);
      deduction.area = *area;
      write(deduction);
    }
  }
  const std::optional<double> area = pass.Area(parcel, "图斑地类面积");
  if (!area) return;
  row.texts[kSource] = "地类图斑";
  row.texts[kCultivationType] = parcel.Text("耕地类型");
  row.texts[kRemark] = parcel.Text("地类备注");
  row.class_code = parcel.Text(class_field);
  row.texts[kSlope] = Slope(parcel, row.class_code, SlopeOf::kParcel, rules);
  row.area = *area;
  write(row);
}

}  // namespace

bool CMgStatContext::HasNeededFields() {
  const std::pair<gis::LayerHandle, std::vector<std::string>> uses[] = {
      {m_aiLine,
       {"线状地物面积", "扣除比例", m_strClassFld[0], "扣除图斑编号1", "扣除图斑座落代码1",
        "内蒙古权属单位代码1"}},
      {m_aiPoint,
       {m_strClassFld[1], "座落单位代码", "座落单位名称", "内蒙古权属单位代码", "零星地物面积"}},
      {m_aiParcel,
       {"图斑编号", m_strClassFld[2], "图斑地类面积", "座落单位代码", "内蒙古权属单位代码",
        "扣除地类编码", "扣除地类面积"}},
  };
  for (const auto& [layer, fields] : uses) {
    if (layer > 0 && !LayerChecks(*this, layer).HasFields(fields, "汇总内蒙古基础数据失败")) {
      return false;
    }
  }
  return true;
}

namespace mg {

void BookLayers(CMgStatContext& context, MgRowWriter& writer, const MgFillRules& rules) {
  const std::string* classes = context.m_strClassFld;
  // The walks weighed in the progress by their records.
  const auto records = [](gis::LayerHandle layer, gis::EntityKind kind) {
    return layer > 0 ? static_cast<double>(gis::RecordCount(layer, kind)) : 0.0;
  };
  host::JobStages stages("正在建立内蒙古基础汇总表",
                         {{"line", records(context.m_aiLine, gis::EntityKind::kLine)},
                          {"point", records(context.m_aiPoint, gis::EntityKind::kPoint)},
                          {"parcel", records(context.m_aiParcel, gis::EntityKind::kRegion)}});
  if (context.m_aiLine > 0) {
    MgPass pass(context, writer, context.m_aiLine, {"线状地物面积", "扣除比例"});
    pass.Walk(gis::EntityKind::kLine, "正在汇总线状地物",
              [&](const gis::Record& line) { BookLine(pass, line, classes[0], rules); });
  }
  stages.Done("line");
  if (context.m_aiPoint > 0) {
    MgPass pass(context, writer, context.m_aiPoint, {"零星地物面积"});
    pass.Walk(gis::EntityKind::kPoint, "正在汇总零星地物",
              [&](const gis::Record& point) { BookScattered(pass, point, classes[1], rules); });
  }
  stages.Done("point");
  if (context.m_aiParcel > 0) {
    MgPass pass(context, writer, context.m_aiParcel, {"图斑地类面积", "扣除地类面积"});
    pass.Walk(gis::EntityKind::kRegion, "正在汇总地类图斑",
              [&](const gis::Record& parcel) { BookParcel(pass, parcel, classes[2], rules); });
  }
}

}  // namespace mg

short CMgStatContext::BuildStatDataDirect() {
  return FillBaseTable(&CMgStatContext::FillDirect);
}

short CMgStatContext::FillBaseTable(short (CMgStatContext::*fill)()) {
  if (!HasNeededFields() || !BaseTableEmpty()) return 0;
  const short result = (this->*fill)();
  // The groupings of a fill that failed hold part of its rows: let go, so
  // that no copy or ledger is made from them.
  if (result <= 0) m_groups.Clear();
  return result;
}

bool CMgStatContext::BaseTableEmpty() {
  const char* title = "汇总内蒙古基础汇总表";
  try {
    if (!m_pConn.Scan("select 1 from " + m_strStatTbl)->Next()) return true;
    LogFailure(title,
               "内蒙古基础汇总表 " + m_strStatTbl + " 已有数据 (已填写过), 须重新建立后再填写");
  } catch (const db::DbError& error) {
    LogFailure(title, "读取内蒙古基础汇总表失败", error);
  }
  return false;
}

short CMgStatContext::FillDirect() {
  std::optional<MgRowWriter> writer;
  try {
    writer.emplace(*this, m_strStatTbl, mg::kMgRowByRowRules.keep_unclassed);
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古基础汇总表", "连接内蒙古基础汇总表失败", error);
    return 0;
  }
  try {
    mg::BookLayers(*this, *writer, mg::kMgRowByRowRules);
    writer->Close();
  } catch (const gis::GisError& error) {
    LogFailure("汇总内蒙古基础数据", "读取图层失败", error);
    return 0;
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古基础汇总表", "保存内蒙古基础汇总表失败", error);
    return 0;
  }
  writer.reset();
  return CompactWorkingCopy() > 0 ? 1 : 0;
}

}  // namespace landstat
