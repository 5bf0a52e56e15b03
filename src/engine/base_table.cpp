// The base table "statdata": one row per piece of land that the survey's
// linear-feature, scattered-feature and parcel layers describe.

#include <iterator>
#include <optional>
#include <unordered_map>

#include "engine/rounding.h"
#include "engine/stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/number_text.h"
#include "platform/db/recordset.h"
#include "platform/gis/layers.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// One piece of land on its way into the base table.
struct Piece {
  const char* source = "";  // 来源
  std::string parcel_number, location_code, location_name, owner_code, owner_name, ownership;
  std::string cultivation_type, remark, approval, new_construction, note, description;
  std::optional<long> slope;
  std::string class_code;
  double area = 0;
};

long LeadingWhole(const std::string& text) {
  return std::strtol(text.c_str(), nullptr, 10);
}

}  // namespace

// Columns typed by name: "城镇用地" a whole number, "耕地坡度级",
// "土地总面积" and the class columns numbers, everything else text.
std::string StatColumnDefinition(const std::string& name) {
  if (name == "城镇用地") return name + " int default 0";
  if (name == "耕地坡度级" || name == "土地总面积" || name.rfind("BM", 0) == 0) {
    return name + " double default 0.00";
  }
  return name + " varchar(60)";
}

short CStatContext::CreateStatDataTable() {
  return CreateTable(m_strStatTbl, {"备注", "新增建设用地类型"}, m_arrStatFields, "建立基础汇总表",
                     "建立基础汇总表失败");
}

namespace {

// The columns a piece fills, and the level columns, code before name:
// village, township, county, city, province.
enum PieceColumn {
  kNumber,
  kSource,
  kParcelNumber,
  kLocationCode,
  kLocationName,
  kOwnerCode,
  kOwnerName,
  kOwnership,
  kCultivationType,
  kRemark,
  kApproval,
  kNewConstruction,
  kNote,
  kSlope,
  kTotal,
  kPieceColumns
};
constexpr const char* kPieceColumnNames[kPieceColumns] = {
    "序号",         "来源",       "图斑编号",  "座落单位代码", "座落单位名称", "权属单位代码",
    "权属单位名称", "权属性质",   "耕地类型",  "地类备注",     "批准文号",     "新增建设用地类型",
    "备注",         "耕地坡度级", "土地总面积"};
constexpr const char* kLevelColumns[] = {"村级代码", "村名称",   "乡级代码", "乡名称",   "县级代码",
                                         "县名称",   "市级代码", "市名称",   "省级代码", "省名称"};
constexpr std::size_t kLevelLengths[] = {12, 9, 6, 4, 2};

// Writes pieces through one recordset, with the column numbers looked up
// once, and logs the pieces it cannot store.
class PieceWriter {
 public:
  PieceWriter(CStatContext& context, db::Recordset& rows) : context_(context), rows_(rows) {
    for (int i = 0; i < kPieceColumns; ++i) columns_[i] = rows.IndexOf(kPieceColumnNames[i]);
    for (std::size_t i = 0; i < std::size(kLevelColumns); ++i) {
      level_columns_[i] = rows.IndexOf(kLevelColumns[i]);
    }
    if (rows.HasField("描述说明")) description_ = rows.IndexOf("描述说明");
  }

  // Stores a piece; a piece the table refuses is logged under the title
  // `title()` gives (made only then).
  template <typename Title>
  void Write(const Piece& piece, const Title& title, const char* message) {
    try {
      rows_.AddNew();
      // Rows are numbered, so every copy of the table can be matched row by row.
      Set(kNumber, std::to_string(written_ + 1));
      Set(kSource, piece.source);
      Set(kParcelNumber, piece.parcel_number);
      Set(kLocationCode, piece.location_code);
      Set(kLocationName, piece.location_name);
      Set(kOwnerCode, piece.owner_code);
      Set(kOwnerName, piece.owner_name);
      Set(kOwnership, piece.ownership);
      SetIfAny(columns_[kCultivationType], piece.cultivation_type);
      SetIfAny(columns_[kRemark], piece.remark);
      SetIfAny(columns_[kApproval], piece.approval);
      SetIfAny(columns_[kNewConstruction], piece.new_construction);
      SetIfAny(columns_[kNote], piece.note);
      if (description_ >= 0) SetIfAny(description_, piece.description);
      if (piece.slope) rows_.SetField(columns_[kSlope], db::Value(*piece.slope));
      SetLevels(piece.location_code);
      for (int column : ClassColumns(piece.class_code)) rows_.SetField(column, piece.area);
      rows_.SetField(columns_[kTotal], piece.area);
      rows_.Update();
      ++written_;
    } catch (const db::DbError& error) {
      rows_.CancelUpdate();
      host::yDebugStr(error.what());
      context_.LogFailure(title(), message);
    }
  }

  long Written() const { return written_; }

 private:
  void Set(PieceColumn column, const std::string& value) {
    rows_.SetField(columns_[column], db::Value(value));
  }
  void SetIfAny(int column, const std::string& value) {
    if (!value.empty()) rows_.SetField(column, db::Value(value));
  }

  // Administrative levels from the location code: village, township,
  // county, city, province, code before name; a shorter code stands whole.
  // Worked out once per location code.
  void SetLevels(const std::string& code) {
    auto found = levels_.find(code);
    if (found == levels_.end()) {
      std::vector<db::Value> values;
      for (std::size_t length : kLevelLengths) {
        const std::string prefix = code.substr(0, length);
        values.emplace_back(prefix);
        values.emplace_back(context_.GetCodeName(prefix));
      }
      found = levels_.emplace(code, std::move(values)).first;
    }
    for (std::size_t i = 0; i < found->second.size(); ++i) {
      rows_.SetField(level_columns_[i], found->second[i]);
    }
  }

  // The class column of a code and its parent columns, longest first, down
  // to "BM" and two characters (011: BM011 and BM01). A code that has no
  // class column (also an empty or one-character one) raises, so the piece
  // is logged and not stored: the classes of the table always add up to its
  // totals.
  const std::vector<int>& ClassColumns(const std::string& code) {
    auto found = class_columns_.find(code);
    if (found != class_columns_.end()) return found->second;
    if (code.size() < 2) throw db::DbError("the class code '" + code + "' has no class column");
    std::vector<int> columns;
    const std::string name = "BM" + code;
    for (std::size_t length = name.size(); length >= 4; --length) {
      columns.push_back(rows_.IndexOf(name.substr(0, length)));
    }
    return class_columns_.emplace(code, std::move(columns)).first->second;
  }

  CStatContext& context_;
  db::Recordset& rows_;
  int columns_[kPieceColumns];
  int level_columns_[std::size(kLevelColumns)];
  int description_ = -1;
  std::unordered_map<std::string, std::vector<db::Value>> levels_;
  std::unordered_map<std::string, std::vector<int>> class_columns_;
  long written_ = 0;
};

// Reads the attributes of one layer's records for the fill, checking the
// fields it cannot do without and the numbers it reads.
class LayerPass {
 public:
  LayerPass(CStatContext& context, gis::LayerHandle layer, gis::EntityKind kind,
            const char* progress)
      : context_(context), layer_(layer), kind_(kind), progress_(progress) {}

  // False (and a logged failure naming the layer and the field) when the
  // layer lacks one of the fields.
  bool HasFields(std::initializer_list<const char*> fields) {
    for (const char* field : fields) {
      if (gis::HasField(layer_, field)) continue;
      context_.LogFailure("图层 " + gis::LayerName(layer_) + " 缺少字段 " + field,
                          "汇总基础数据失败");
      return false;
    }
    return true;
  }

  template <typename Visit>
  void ForEachRecord(Visit visit) {
    const long count = gis::RecordCount(layer_, kind_);
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      host::LindoDlgSetProgress(progress_, number, count);
      if (!gis::ReadRecord(layer_, kind_, number, record)) continue;
      visit(number, record);
    }
  }

  // An area field as a number; a text that is no number is logged (layer,
  // record, field) and gives nothing.
  std::optional<double> Area(const gis::Record& record, const char* field) {
    const std::string text = record.Text(field);
    if (auto number = db::TextToNumber(text)) return *number;
    context_.LogFailure("图层 " + gis::LayerName(layer_) + " 记录 " +
                            std::to_string(record.Number()) + " 字段 " + field,
                        "面积不是数值: " + text);
    return std::nullopt;
  }

 private:
  CStatContext& context_;
  gis::LayerHandle layer_;
  gis::EntityKind kind_;
  const std::string progress_;  // made once, not per record
};

std::string RowTitle(long number, const std::string& class_code, const char* location_label,
                     const std::string& location) {
  return "图元号 " + std::to_string(number) + " 地类码 BM" + class_code + " " + location_label +
         " " + location;
}

}  // namespace

short CStatContext::BuildStatDataDirect() {
  std::optional<db::Recordset> rows;
  try {
    rows.emplace(m_pConn, "select * from " + m_strStatTbl + " where 1<>1");
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    LogFailure("连接基础汇总表", "连接基础汇总表失败");
    return 0;
  }
  PieceWriter writer(*this, *rows);
  const short decimals = m_nDecSrc;

  if (m_aiLine > 0 && gis::IsLayerValid(m_aiLine)) {
    LayerPass pass(*this, m_aiLine, gis::EntityKind::kLine, "正在汇总线状地物");
    if (!pass.HasFields({"扣除比例", "线状地物面积", m_strClassFld[0].c_str(), "扣除图斑编号1",
                         "扣除图斑座落代码1", "权属单位代码1"})) {
      return 0;
    }
    pass.ForEachRecord([&](long number, const gis::Record& line) {
      const std::optional<double> area = pass.Area(line, "线状地物面积");
      if (!area) return;
      const bool halves = db::TextToNumber(line.Text("扣除比例")).value_or(0) == 0.5;
      for (int side = 1; side <= (halves ? 2 : 1); ++side) {
        const std::string k = std::to_string(side);
        Piece piece;
        piece.source = "线状地物";
        piece.parcel_number = line.Text("扣除图斑编号" + k);
        piece.location_code = line.Text("扣除图斑座落代码" + k);
        piece.owner_code = line.Text("权属单位代码" + k);
        if (piece.parcel_number.empty() || piece.location_code.empty() ||
            piece.owner_code.empty()) {
          return;  // no parcel on this side: nothing (more) to book
        }
        piece.owner_name = line.Text("权属单位名称" + k);
        piece.location_name = GetCodeName(piece.location_code);
        piece.ownership = line.Text("权属性质");
        piece.class_code = line.Text(m_strClassFld[0]);
        piece.area = halves ? xcDotOut(*area, static_cast<short>(side - 1), decimals) : *area;
        writer.Write(
            piece,
            [&] {
              return RowTitle(number, piece.class_code, ("座落单位代码" + k).c_str(),
                              piece.location_code);
            },
            "添加线状地物数据失败");
      }
    });
  }

  if (m_aiPoint > 0 && gis::IsLayerValid(m_aiPoint)) {
    LayerPass pass(*this, m_aiPoint, gis::EntityKind::kPoint, "正在汇总零星地物");
    if (!pass.HasFields(
            {m_strClassFld[1].c_str(), "座落单位代码", "零星地物面积", "权属单位代码"})) {
      return 0;
    }
    pass.ForEachRecord([&](long number, const gis::Record& point) {
      Piece piece;
      piece.source = "零星地物";
      piece.location_code = point.Text("座落单位代码");
      piece.owner_code = point.Text("权属单位代码");
      if (piece.location_code.empty() || piece.owner_code.empty()) return;
      const std::optional<double> area = pass.Area(point, "零星地物面积");
      if (!area) return;
      piece.parcel_number = point.Text("座落图斑编号");
      piece.location_name = GetCodeName(piece.location_code);
      piece.owner_name = point.Text("权属单位名称");
      piece.ownership = point.Text("权属性质");
      piece.class_code = point.Text(m_strClassFld[1]);
      piece.area = *area;
      writer.Write(
          piece,
          [&] { return RowTitle(number, piece.class_code, "座落单位代码", piece.location_code); },
          "添加零星地物数据失败");
    });
  }

  if (m_aiParcel > 0 && gis::IsLayerValid(m_aiParcel)) {
    LayerPass pass(*this, m_aiParcel, gis::EntityKind::kRegion, "正在汇总地类图斑");
    if (!pass.HasFields({"图斑编号", m_strClassFld[2].c_str(), "图斑地类面积", "座落单位代码",
                         "权属单位代码"})) {
      return 0;
    }
    pass.ForEachRecord([&](long number, const gis::Record& parcel) {
      Piece piece;
      piece.location_code = parcel.Text("座落单位代码");
      piece.owner_code = parcel.Text("权属单位代码");
      if (piece.location_code.empty() || piece.owner_code.empty()) return;
      piece.parcel_number = parcel.Text("图斑编号");
      piece.location_name = parcel.Text("座落单位名称");
      piece.owner_name = parcel.Text("权属单位名称");
      piece.ownership = parcel.Text("权属性质");
      piece.slope = LeadingWhole(parcel.Text("耕地坡度级"));
      const std::string title_location = piece.location_code;
      const std::string deducted = parcel.Text("扣除地类编码");
      if (!deducted.empty()) {
        if (const std::optional<double> area = pass.Area(parcel, "扣除地类面积")) {
          Piece deduction = piece;
          deduction.source = "地类图斑扣除";
          deduction.class_code = deducted;
          deduction.area = *area;
          writer.Write(
              deduction, [&] { return RowTitle(number, deducted, "座落单位代码", title_location); },
              "添加地类图斑数据失败");
        }
      }
      const std::optional<double> area = pass.Area(parcel, "图斑地类面积");
      if (!area) return;
      piece.source = "地类图斑";
      piece.class_code = parcel.Text(m_strClassFld[2]);
      piece.cultivation_type = parcel.Text("耕地类型");
      piece.remark = parcel.Text("地类备注");
      piece.approval = parcel.Text("批准文号");
      piece.new_construction = parcel.Text("新增建设用地类型");
      piece.note = parcel.Text("备注");
      piece.description = parcel.Text("描述说明");
      piece.area = *area;
      writer.Write(
          piece, [&] { return RowTitle(number, piece.class_code, "座落单位代码", title_location); },
          "添加地类图斑数据失败");
    });
  }

  try {
    rows->Close();
  } catch (const db::DbError& error) {
    host::yDebugStr(error.what());
    LogFailure("保存基础汇总表", "保存基础汇总表失败");
    return 0;
  }
  return 1;
}

}  // namespace landstat
