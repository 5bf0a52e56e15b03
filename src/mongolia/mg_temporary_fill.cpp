// The fill of the Inner Mongolia base table through a staging table: every
// row is written into "statdataMGtbl" beside the base table, then all rows
// move into the base table with one insert-select.

#include "engine/layer_tables.h"
#include "mongolia/mg_base_rows.h"
#include "platform/gis/gis_error.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"

namespace landstat {

namespace {

using namespace mg;

// The row of side k of a linear feature: its location unit named by its
// ownership name, as this fill has it.
MgRow StagedLineSide(const gis::Record& line, int side, const MgRow& common) {
  const std::string k = std::to_string(side);
  MgRow row = common;
  row.texts[kParcelNumber] = line.Text("扣除图斑编号" + k);
  row.texts[kLocationCode] = line.Text("扣除图斑座落代码" + k);
  row.texts[kOwnerCode] = line.Text("内蒙古权属单位代码" + k);
  row.texts[kOwnerName] = line.Text("内蒙古权属单位名称" + k);
  row.texts[kLocationName] = row.texts[kOwnerName];
  return row;
}

void StageLine(MgPass& pass, const gis::Record& line, const std::string& class_field) {
  MgRow common;
  common.texts[kSource] = "线状地物";
  common.texts[kTownLand] = TownLand(line);
  common.texts[kOwnership] = line.Text("权属性质");
  common.class_code = line.Text(class_field);
  if (line.Text("扣除图斑编号1").empty() || line.Text("扣除图斑座落代码1").empty()) {
    return pass.Skip();
  }
  const std::optional<double> area = pass.Area(line, "线状地物面积");
  if (!area) return;
  const bool halves = text::TextToNumber(pass.Stored(line, "扣除比例")) == 0.5;
  const auto write = [&](MgRow row, int side, double value) {
    if (!pass.SoundOwner(line, "内蒙古权属单位代码" + std::to_string(side),
                         row.texts[kOwnerCode])) {
      return;
    }
    row.area = value;
    const std::string label = "座落单位代码" + std::to_string(side);
    pass.Writer().Write(
        row,
        RowTitle(line.Number(), row.class_code, label.c_str(), row.texts[kLocationCode], !halves),
        "添加线状地物数据失败");
  };
  write(StagedLineSide(line, 1, common), 1, halves ? xcDotOut(*area, 0, 1) : *area);
  if (halves && !line.Text("扣除图斑编号2").empty() && !line.Text("扣除图斑座落代码2").empty()) {
    write(StagedLineSide(line, 2, common), 2, xcDotOut(*area, 1, 1));
  }
}

void StageScattered(MgPass& pass, const gis::Record& point, const std::string& class_field,
                    gis::LayerHandle layer) {
  MgRow row;
  row.texts[kLocationCode] = point.Text("座落单位代码");
  row.texts[kOwnerCode] = point.Text("内蒙古权属单位代码");
  if (row.texts[kLocationCode].empty() || row.texts[kOwnerCode].empty()) return pass.Skip();
  if (!pass.SoundOwner(point, "内蒙古权属单位代码", row.texts[kOwnerCode])) return;
  const std::optional<double> area = pass.Area(point, "零星地物面积");
  if (!area) return;
  row.class_code = point.Text(class_field);
  row.texts[kSource] = "零星地物";
  row.texts[kTownLand] = TownLand(point);
  row.texts[kParcelNumber] = point.Text("座落图斑编号");
  row.texts[kLocationName] = point.Text("座落单位名称");
  row.texts[kOwnerName] = point.Text("内蒙古权属单位名称");
  row.texts[kOwnership] = point.Text("权属性质");
  row.texts[kCultivationType] = point.Text("耕地类型");
  if (row.class_code.compare(0, 2, "01") == 0) {
    row.texts[kSlope] = GetEntitySlopeClass(layer, point.Number());
  }
  row.area = *area;
  pass.Writer().Write(
      row, RowTitle(point.Number(), row.class_code, "座落单位代码", row.texts[kLocationCode], true),
      "添加零星地物数据失败");
}

void StageParcel(MgPass& pass, const gis::Record& parcel, const std::string& class_field) {
  MgRow row;
  row.texts[kLocationCode] = parcel.Text("座落单位代码");
  if (row.texts[kLocationCode].empty()) return pass.Skip();
  row.texts[kTownLand] = TownLand(parcel);
  row.texts[kParcelNumber] = parcel.Text("图斑编号");
  row.texts[kOwnership] = parcel.Text("权属性质");
  row.texts[kOwnerCode] = parcel.Text("内蒙古权属单位代码");
  // Kept by this fill's rules when empty, the code would book the parcel
  // outside the county: it is checked like any other.
  if (!pass.SoundOwner(parcel, "内蒙古权属单位代码", row.texts[kOwnerCode])) return;
  row.texts[kOwnerName] = parcel.Text("内蒙古权属单位名称");
  row.texts[kLocationName] = parcel.Text("座落单位名称");
  row.texts[kSlope] = parcel.Text("耕地坡度级");
  const auto write = [&](const MgRow& piece) {
    pass.Writer().Write(piece,
                        RowTitle(parcel.Number(), piece.class_code, "座落单位代码",
                                 piece.texts[kLocationCode], true),
                        "添加地类图斑数据失败");
  };
  if (std::string deducted = parcel.Text("扣除地类编码"); !deducted.empty()) {
    if (const std::optional<double> area = pass.Area(parcel, "扣除地类面积")) {
      MgRow deduction = row;
      deduction.texts[kSource] = "地类图斑扣除";
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
  row.area = *area;
  write(row);
}

}  // namespace

short CMgStatContext::CreateStagingTable(const std::string& table) {
  // The texts as wide as the base table's, so that a value too long is
  // refused with its own row rather than by the move; every class column a
  // number with the areas' decimals, the first one too.
  std::string statement = "Create Table " + table + "(";
  for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
    statement += (i ? "," : "") + m_arrStatFields[i] +
                 (i <= kMgTextColumns ? " varchar(40)" : " double default 0.00");
  }
  try {
    if (IsTableExist(table)) m_pConn.Execute("drop table " + table);
    m_pConn.Execute(Dialect().ApplyTypeWords(statement + ")"));
    return 1;
  } catch (const db::DbError& error) {
    LogFailure("建立内蒙古临时汇总表", table + " 建立失败", error);
    return 0;
  }
}

short CMgStatContext::BuildStatData() {
  if (m_aiParcel > 0 && gis::DataSourceKind(m_aiParcel) == gis::kRowByRowSource) {
    return BuildStatDataDirect();
  }
  if (!HasNeededFields()) return 0;
  const std::string staging = m_strStatTbl + "tbl";
  if (CreateStagingTable(staging) <= 0) return 0;
  short result = 0;
  try {
    MgRowWriter writer(*this, staging, true);
    if (m_aiLine > 0) {
      MgPass pass(*this, writer, m_aiLine, {"线状地物面积", "扣除比例"});
      pass.Walk(gis::EntityKind::kLine, "正在汇总线状地物",
                [&](const gis::Record& line) { StageLine(pass, line, m_strClassFld[0]); });
    }
    if (m_aiPoint > 0) {
      MgPass pass(*this, writer, m_aiPoint, {"零星地物面积"});
      pass.Walk(gis::EntityKind::kPoint, "正在汇总零星地物", [&](const gis::Record& point) {
        StageScattered(pass, point, m_strClassFld[1], m_aiPoint);
      });
    }
    if (m_aiParcel > 0) {
      MgPass pass(*this, writer, m_aiParcel, {"图斑地类面积", "扣除地类面积"});
      pass.Walk(gis::EntityKind::kRegion, "正在汇总地类图斑",
                [&](const gis::Record& parcel) { StageParcel(pass, parcel, m_strClassFld[2]); });
    }
    writer.Close();
    // The staged total is text: it moves as a number.
    std::string columns, values;
    for (std::size_t i = 0; i < m_arrStatFields.size(); ++i) {
      const std::string& column = m_arrStatFields[i];
      columns += (i ? "," : "") + column;
      values +=
          (i ? "," : "") +
          (i == kMgTextColumns ? "CAST(" + column + " AS " + Dialect().DoubleType() + ")" : column);
    }
    const std::string move =
        "insert into " + m_strStatTbl + " (" + columns + ") select " + values + " from " + staging;
    try {
      m_pConn.Execute(move);
      result = 1;
    } catch (const db::DbError& error) {
      host::yDebugStr(move);
      LogFailure("汇总内蒙古基础汇总表", "汇总内蒙古基础汇总表失败", error);
    }
  } catch (const gis::GisError& error) {
    LogFailure("汇总内蒙古基础数据", "读取图层失败", error);
  } catch (const db::DbError& error) {
    LogFailure("连接内蒙古临时汇总表", "连接内蒙古临时汇总表失败", error);
  }
  // The staging table never stays: a run that failed is abandoned whole.
  if (IsTableExist(staging)) DropTable(staging);
  if (result > 0 && CompactWorkingCopy() <= 0) result = 0;
  return result;
}

}  // namespace landstat
