// The town-lot base table statdata_czzd: one row per lot of the lot layer
// and one per house of the house layer, with the administrative levels
// taken from the lot number.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "engine/base_rows.h"
#include "engine/layer_checks.h"
#include "lots/zd_stat_context.h"
#include "platform/db/db_error.h"
#include "platform/db/grouped_sums.h"
#include "platform/db/recordset.h"
#include "platform/db/row_pipe.h"
#include "platform/db/sql_quote.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "platform/text/text_encoding.h"

namespace landstat {
namespace {

using text::CharacterCount;
using text::FirstCharacters;

std::string WithoutBlanks(std::string text) {
  std::erase(text, ' ');
  return text;
}

// The level columns of a lot number, block first: code, name, and the
// length of the number's prefix that is the level's code.
struct LotLevel {
  const char* code;
  const char* name;
  std::size_t length;
};
constexpr LotLevel kLotLevels[] = {{"街坊代码", "街坊名称", 12},
                                   {"街道代码", "街道名称", 9},
                                   {"县级代码", "县名称", 6},
                                   {"市级代码", "市名称", 4},
                                   {"省级代码", "省名称", 2}};

// The texts a lot row takes as read, and the numbers both kinds of rows
// take; each is a column of the base table.
enum RowColumn {
  kLandUse,
  kLandUseName,
  kLotNumber,
  kLocation,
  kUseRight,
  kOwnership,
  kGrade,
  kDensity,
  kFloorRatio,
  kLotArea,
  kFootprint,
  kLotFootprint,
  kFloorArea,
  kRowColumns
};
constexpr const char* kRowColumnNames[kRowColumns] = {
    "土地用途", "土地用途名称",     "地籍号",   "土地座落",   "使用权类型",
    "权属性质", "土地级别",         "建筑密度", "建筑容积率", "宗地总面积",
    "占地面积", "宗地建筑占地面积", "建筑面积"};

// The lot layer's texts that go into the row as read.
constexpr std::pair<RowColumn, const char*> kLotTexts[] = {{kLocation, "土地座落"},
                                                           {kOwnership, "权属性质"},
                                                           {kUseRight, "使用权类型"},
                                                           {kLandUse, "土地用途"},
                                                           {kGrade, "土地级别"}};

// A ratio field of a lot (建筑容积率, 建筑密度) as a number. Text that is
// no finite number, or a negative one, counts 0 and is logged naming layer,
// record and field; an empty text counts 0.
double Ratio(LayerChecks& checks, const gis::Record& record, const char* field) {
  const std::string text = checks.StoredText(record, field);
  if (text.empty()) return 0;
  const std::optional<double> number = text::TextToNumber(text);
  if (!number || !std::isfinite(*number)) {
    checks.Fail(record, field, "不是数值: " + text + ", 按 0 计");
  } else if (*number < 0) {
    checks.Fail(record, field, "为负数: " + text + ", 按 0 计");
  } else {
    return *number;
  }
  return 0;
}

// The length of a lot number: the county's code, then the street, block
// and lot within it.
constexpr std::size_t kLotNumberLength = 19;

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The column names `names` (as the database spells them: a server in
// lower case) with each key and sum of `grouping` spelled as the grouping
// spells it.
std::vector<std::string> SpelledAsGrouped(std::vector<std::string> names,
                                          const db::GroupedSumsQuery& grouping) {
  std::unordered_map<std::string, const std::string*> spelled;
  for (const auto* list : {&grouping.keys, &grouping.sums}) {
    for (const std::string& name : *list) spelled.emplace(text::ToLowerAscii(name), &name);
  }
  for (std::string& name : names) {
    const auto found = spelled.find(text::ToLowerAscii(name));
    if (found != spelled.end()) name = *found->second;
  }
  return names;
}

// Writes the rows of the base table: every column of the table, a column a
// row leaves unset at its default.
class TownRowWriter {
 public:
  // Raises DbError when the table cannot be written (it is missing, say).
  TownRowWriter(CZdStatContext& context, const std::string& table) : context_(context) {
    std::vector<std::string> names;
    for (const db::ColumnInfo& column : context.m_pConn.Columns(table)) {
      column_of_.emplace(text::ToLowerAscii(column.name), static_cast<int>(names.size()));
      names.push_back(column.name);
      blanks_.push_back(BlankValue(column, table));
    }
    for (int i = 0; i < kRowColumns; ++i) row_columns_[i] = Required(kRowColumnNames[i]);
    for (std::size_t i = 0; i < std::size(kLotLevels); ++i) {
      level_columns_[i] = {Required(kLotLevels[i].code), Required(kLotLevels[i].name)};
    }
    db::GroupedSumsQuery grouping = context.UnitCopyGrouping(table);
    const std::vector<std::string> grouped = SpelledAsGrouped(names, grouping);
    grouped_ = std::make_unique<db::GroupedSums>(std::move(grouping), grouped);
    // The rows are stored on a thread of their own and grouped on another
    // while the layers are read; the log leaves the connection alone.
    pipe_.emplace(context.m_pConn, table, std::move(names),
                  [this](const std::vector<db::Value>& row) { grouped_->Add(row); });
    context.LendConnection(true);
    row_ = blanks_;
  }

  // A lot whose number is not 19 digits of the county (blanks aside) or
  // repeats one met before, whose areas cannot be counted, or whose land use
  // is empty or has no class column, is logged and left out, and so are its
  // houses.
  void LotRow(LayerChecks& checks, const gis::Record& lot) {
    const std::optional<std::string> number = LotNumber(checks, lot);
    const std::optional<double> area = checks.Area(lot, "实测面积");
    const std::optional<double> footprint = checks.Area(lot, "占地面积", -1, false);
    if (!number || !area || !footprint) return;
    for (const auto& [column, field] : kLotTexts) Text(column).AssignText(lot.Text(field));
    const std::string use = lot.Text("土地用途");
    if (use.empty()) {
      // Its area would count in the total and in no class.
      checks.Fail(lot, "土地用途", "土地用途为空, 宗地及其房屋未计入");
      return;
    }
    const ClassColumns& classes = ClassColumnsOf(use);
    if (!classes.missing.empty()) {
      // A lot without its area in its class would make the classes of the
      // copies add up to less than their totals: it is left out whole.
      context_.LogFailure("汇总宗地", checks.RecordName(lot) + " 地籍号 " + *number +
                                          ": 统计表没有列 " + classes.missing + " (土地用途 " +
                                          use + "), 宗地未计入");
      return;
    }
    Text(kLandUseName).AssignText(context_.GetLandUseName(use));
    row_[row_columns_[kFloorRatio]] = Ratio(checks, lot, "建筑容积率");
    row_[row_columns_[kDensity]] = Ratio(checks, lot, "建筑密度");
    row_[row_columns_[kLotFootprint]] = *footprint;
    for (int column : classes.columns) row_[column] = *area;
    row_[row_columns_[kLotArea]] = *area;
    if (Write(
            *number, [&] { return checks.RecordName(lot) + " 地籍号 " + *number; }, "汇总宗地")) {
      lots_.insert(*number);
    }
    for (int column : classes.columns) row_[column] = blanks_[column];
  }

  // A house of no lot, or of a lot left out, is logged and left out.
  void HouseRow(LayerChecks& checks, const gis::Record& house) {
    const std::string lot = house.Text("隶属宗地");
    const std::string number = WithoutBlanks(lot);
    const std::optional<double> floor_area = checks.Area(house, "建筑面积");
    const std::optional<double> footprint = checks.Area(house, "占地面积");
    if (number.empty() || !lots_.count(number)) {
      checks.Fail(house, "隶属宗地",
                  (number.empty() ? "隶属宗地为空" : "宗地 " + lot + " 未计入") + ", 房屋未计入");
      return;
    }
    if (!floor_area || !footprint) return;
    row_[row_columns_[kFloorArea]] = *floor_area;
    row_[row_columns_[kFootprint]] = *footprint;
    Write(
        number, [&] { return checks.RecordName(house) + " 隶属宗地 " + number; }, "汇总房屋");
  }

  // Notes the lot numbers (without blanks) that more than one lot of the
  // layer carries; walked before the lots are.
  void CountNumbers(const LayerChecks& checks) {
    std::unordered_map<std::string, int> times;
    checks.Walk(
        gis::EntityKind::kRegion,
        [&](const gis::Record& lot) { ++times[WithoutBlanks(lot.Text("地籍号"))]; },
        gis::RecordParts::kFields);
    for (const auto& [number, count] : times) {
      if (count > 1) repeats_.emplace(number, count);
    }
  }

  // The numbers of the lots written.
  const std::unordered_set<std::string>& WrittenLots() const { return lots_; }

  // Starts the house rows: nothing of the lot rows stays in them.
  void StartHouses() { row_ = blanks_; }

  ~TownRowWriter() {
    pipe_.reset();
    context_.LendConnection(false);
  }
  TownRowWriter(const TownRowWriter&) = delete;
  TownRowWriter& operator=(const TownRowWriter&) = delete;

  // Stores the rest; the connection is the log's again, whatever happens.
  void Close() {
    try {
      pipe_->Close();
    } catch (...) {
      context_.LendConnection(false);
      throw;
    }
    context_.LendConnection(false);
  }

  // The rows written, grouped as the unit copies group them.
  std::unique_ptr<db::GroupedSums> TakeGroups() { return std::move(grouped_); }

 private:
  // The lot's number without blanks; nothing (logged) when it is empty, is
  // not 19 digits beginning with the county's code, or is the number of
  // more than one lot of the layer.
  std::optional<std::string> LotNumber(LayerChecks& checks, const gis::Record& lot) {
    const std::string typed = lot.Text("地籍号");
    std::string number = WithoutBlanks(typed);
    const std::string& county = context_.m_strPrefix2;
    std::string problem;
    if (number.empty()) {
      problem = "地籍号为空";
    } else if (number.size() != kLotNumberLength || !AllDigits(number) ||
               number.compare(0, county.size(), county) != 0) {
      problem = "地籍号 '" + typed + "' 不是本县 (" + county + ") 的 19 位数字";
    } else if (const int times = repeats_.count(number) ? repeats_.at(number) : 1; times > 1) {
      // Which of the lots its houses belong to is unknown: none is booked.
      problem = "地籍号 " + number + " 在图层中出现 " + std::to_string(times) + " 次";
    } else {
      return number;
    }
    checks.Fail(lot, "地籍号", problem + ", 宗地及其房屋未计入");
    return std::nullopt;
  }

  int Required(const std::string& name) const {
    const auto found = column_of_.find(text::ToLowerAscii(name));
    if (found == column_of_.end()) throw db::DbError("城镇基础汇总表没有列 " + name);
    return found->second;
  }

  db::Value& Text(RowColumn column) { return row_[row_columns_[column]]; }

  // The land use's class column and its parents (the first n characters of
  // the column's name, n down to 4): a use of two characters is a code
  // whose leading zero is missing. `missing` names the first of them the
  // table lacks, if any; the column of a one-character use, which is no
  // class.
  struct ClassColumns {
    std::vector<int> columns;
    std::string missing;
  };
  const ClassColumns& ClassColumnsOf(const std::string& use) {
    auto found = class_columns_.find(use);
    if (found != class_columns_.end()) return found->second;
    ClassColumns classes;
    const std::string name = (CharacterCount(use) == 2 ? "BM0" : "BM") + use;
    for (std::size_t n = CharacterCount(name); n >= 4 && classes.missing.empty(); --n) {
      std::string prefix(FirstCharacters(name, n));
      const auto column = column_of_.find(text::ToLowerAscii(prefix));
      if (column == column_of_.end()) {
        classes.missing = std::move(prefix);
      } else {
        classes.columns.push_back(column->second);
      }
    }
    if (classes.columns.empty() && classes.missing.empty()) classes.missing = name;
    return class_columns_.emplace(use, std::move(classes)).first->second;
  }

  // Writes the row of lot `number`; a row the table refuses is logged
  // under `title`, false, and the walk goes on.
  template <typename Name>
  bool Write(const std::string& number, const Name& name, const char* title) {
    Text(kLotNumber).AssignText(number);
    for (std::size_t i = 0; i < std::size(kLotLevels); ++i) {
      const std::string code(FirstCharacters(number, kLotLevels[i].length));
      row_[level_columns_[i].second].AssignText(context_.GetAdminName(code));
      row_[level_columns_[i].first].AssignText(code);
    }
    // Numbered as a writer numbers its rows: a row refused counts.
    const long record = ++offered_;
    pipe_->Row() = row_;
    try {
      pipe_->Check(record);
      pipe_->Add(record);
    } catch (const db::DbError& error) {
      context_.LogFailure(title, name(), error);
      return false;
    }
    return true;
  }

  CZdStatContext& context_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blanks_;
  std::vector<db::Value> row_;
  int row_columns_[kRowColumns];
  std::pair<int, int> level_columns_[std::size(kLotLevels)];
  std::unique_ptr<db::GroupedSums> grouped_;
  std::optional<db::RowPipe> pipe_;  // ends before the grouping it feeds
  long offered_ = 0;                 // the rows offered to the table
  std::unordered_map<std::string, ClassColumns> class_columns_;
  std::unordered_map<std::string, int> repeats_;  // lot numbers of more than one lot
  std::unordered_set<std::string> lots_;          // the lots written
};

// A layer's stored name without the three characters of its extension,
// when it has one.
std::string StoredStem(const std::string& name) {
  if (name.find('.') == std::string::npos) return name;
  const std::size_t count = CharacterCount(name);
  return std::string(FirstCharacters(name, count < 3 ? 0 : count - 3));
}

// The tables the set-based fill reads, named by the layers and the code
// file whether they exist or not.
TownLayerTables LayerTableNames(const CZdStatContext& context) {
  TownLayerTables tables;
  if (context.m_aiZd > 0) {
    const std::string stem = StoredStem(gis::LayerName(context.m_aiZd));
    tables.lot_attributes = stem + "RRA";
    tables.lot_entities = stem + "REG";
  }
  if (context.m_aiHouse > 0) {
    const std::string stem = StoredStem(gis::LayerName(context.m_aiHouse));
    tables.house_attributes = stem + "RRA";
    tables.house_entities = stem + "REG";
  }
  if (context.m_pRuralCode && gis::IsLayerValid(context.m_pRuralCode->m_ai)) {
    tables.code_table = std::filesystem::path(context.m_pRuralCode->Path()).stem().string() + "TBL";
  }
  return tables;
}

}  // namespace

short CZdStatContext::CreateStatDataTable() {
  const std::string table = StatDataTable();
  if (IsTableExist(table)) DropTable(table);
  std::vector<std::string> columns = {"土地用途", "土地用途名称"};
  columns.insert(columns.end(), m_arrStatFields.begin(), m_arrStatFields.end());
  const std::string statement = LotTableStatement(table, columns, 17);
  try {
    m_pConn.Execute(statement);
    return 1;
  } catch (const db::DbError&) {
    LogStatementFailure("建立城镇基础汇总表", "建立城镇基础汇总表失败", statement);
    return 0;
  }
}

short CZdStatContext::FillStatData() {
  std::optional<TownRowWriter> writer;
  try {
    writer.emplace(*this, StatDataTable());
  } catch (const db::DbError& error) {
    LogFailure("连接城镇基础汇总表", "连接城镇基础汇总表失败", error);
    return 0;
  }
  if (m_nDbMode == 2) {
    if (std::optional<TownLayerTables> tables = StoredLayerTables()) {
      writer.reset();
      return FillStatDataFromLayerTables(*tables);
    }
    host::yDebugStr("城镇基础汇总表: 图层不是统计数据库中的表, 逐条汇总图层记录");
  }
  // A layer lacking a field its rows need is logged and gives no rows; the
  // lot layer's lack fails the step, and its houses are not walked. A field
  // only some town tables need leaves those tables out (logged), and the
  // walk goes on.
  bool walked = true;
  try {
    if (m_aiZd > 0) {
      LayerChecks checks(*this, m_aiZd);
      walked = checks.HasFields({"地籍号", "土地用途", "实测面积"}, "汇总宗地失败");
      if (walked) {
        LeaveOutTablesWithout(checks, TownFieldNeeds(TownWalk::kLots));
        checks.WatchNumbersOf({"建筑容积率", "建筑密度", "实测面积", "占地面积"});
        writer->CountNumbers(checks);
        checks.Walk(
            gis::EntityKind::kRegion, [&](const gis::Record& lot) { writer->LotRow(checks, lot); },
            gis::RecordParts::kFields);
        m_writtenLots = writer->WrittenLots();
      }
    }
    if (m_aiHouse > 0 && walked) {
      writer->StartHouses();
      LayerChecks checks(*this, m_aiHouse);
      if (checks.HasFields({"隶属宗地", "建筑面积", "占地面积"}, "房屋未汇总")) {
        LeaveOutTablesWithout(checks, TownFieldNeeds(TownWalk::kHouses));
        checks.WatchNumbersOf({"建筑面积", "占地面积"});
        checks.Walk(
            gis::EntityKind::kRegion,
            [&](const gis::Record& house) { writer->HouseRow(checks, house); },
            gis::RecordParts::kFields);
      }
    }
  } catch (const gis::GisError& error) {
    LogFailure("汇总宗地", "读取图层失败", error);
    return 0;
  }
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    LogFailure("连接城镇基础汇总表", "连接城镇基础汇总表失败", error);
    return 0;
  }
  if (walked) m_writtenLotGroups = writer->TakeGroups();
  return walked ? 1 : 0;
}

namespace {

// The lot number without blanks, as the walk over the layer reads it.
constexpr char kStoredLotNumber[] = "replace(a.地籍号,' ','')";

// The stored lots (alias a, entities of `tables`) the walk over the layer
// would keep: a number of 19 digits of this county that no other existing
// lot carries, an area that is a number from 0 to the largest a piece may
// have (a null or NaN fails every comparison), and a land use that is one
// of the table's classes (else its area would count in no class).
std::string KeptLotCondition(const CZdStatContext& context, const TownLayerTables& tables) {
  const std::string number = kStoredLotNumber;
  std::string classes;
  for (const std::string& code : context.m_arrAllClassCodes) {
    classes += (classes.empty() ? "" : ",") + db::QuoteText(code);
  }
  return "a.土地用途 in (" + (classes.empty() ? "''" : classes) + ") and length(" + number +
         ")=19 and " + context.Dialect().OnlyDigits(number) + " and " + number + " like " +
         db::QuoteText(context.m_strPrefix2 + "%") +
         " and a.实测面积>=0 and a.实测面积<=" + fmt::format("{:g}", kMostPieceArea) + " and " +
         number + " in (select replace(c.地籍号,' ','') from " + tables.lot_attributes + " c," +
         tables.lot_entities +
         " d where c.ID0=d.ID0 and d.exist=1 group by replace(c.地籍号,' ','') having count(*)=1)";
}

std::string StoredLots(const TownLayerTables& tables) {
  return " from " + tables.lot_attributes + " a ," + tables.lot_entities +
         " b where a.ID0=b.ID0 and b.exist=1";
}

}  // namespace

std::vector<std::string> CZdStatContext::LayerTableStatements(const TownLayerTables& tables) const {
  const std::string target = StatDataTable();
  std::vector<std::string> statements;
  if (!tables.lot_attributes.empty()) {
    std::string columns =
        "(地籍号,土地座落,权属性质,使用权类型,建筑容积率,建筑密度,土地级别,宗地总面积,";
    std::string select = std::string("select ") + kStoredLotNumber +
                         ",土地座落,权属性质,使用权类型,建筑容积率,建筑密度,土地级别,实测面积,";
    bool first = true;
    for (const std::string& code : m_arrAllClassCodes) {
      columns += (first ? "" : ",") + ("BM" + code);
      // The code goes into the text as a quoted literal: 'code%'.
      select += (first ? "" : ",") + ("(CASE WHEN  土地用途 LIKE " + db::QuoteText(code + "%") +
                                      " THEN 实测面积 ELSE 0 END) \tAS BM" + code + " ");
      first = false;
    }
    statements.push_back("insert into " + target + columns + ") " + select + " " +
                         StoredLots(tables) + " and " + KeptLotCondition(*this, tables));
  }
  if (!tables.house_attributes.empty()) {
    // The houses of the lots kept: those of a lot left out go with it.
    statements.push_back(
        "insert into " + target +
        "(地籍号,建筑面积,占地面积) select replace(a.隶属宗地,' ',''),建筑面积,占地面积 from " +
        tables.house_attributes + " a," + tables.house_entities +
        " b where a.ID0=b.ID0 and b.exist=1 and replace(a.隶属宗地,' ','') in (select 地籍号 "
        "from " +
        target + ")");
  }
  if (!tables.code_table.empty()) {
    statements.push_back("UPDATE  " + target +
                         " SET 省级代码=substr(地籍号,1,2),市级代码=substr(地籍号,1,4),县级代码="
                         "substr(地籍号,1,6),街道代码=substr(地籍号,1,9),街坊代码=substr(地籍号,"
                         "1,12)");
    std::string names = "UPDATE  " + target + " a SET";
    const std::pair<const char*, const char*> assignments[] = {{"省名称   ", "省级代码"},
                                                               {"市名称   ", "市级代码"},
                                                               {"县名称   ", "县级代码"},
                                                               {"街道名称 ", "街道代码"},
                                                               {"街坊名称 ", "街坊代码"}};
    bool first = true;
    for (const auto& [name, code] : assignments) {
      names += std::string(first ? "" : ",") + "\r\n" + name + "= (select 代码名称 from " +
               tables.code_table + " b where a." + code +
               "=b.代码 and b.代码类型 like '%行政代码')";
      first = false;
    }
    statements.push_back(names);
  }
  return statements;
}

short CZdStatContext::FillStatDataFromLayerTables(const TownLayerTables& tables) {
  if (!tables.lot_attributes.empty() && !CountLeftOutStoredLots(tables)) return 0;
  for (const std::string& statement : LayerTableStatements(tables)) {
    try {
      m_pConn.Execute(statement);
    } catch (const db::DbError&) {
      host::yDebugStr(statement);
      LogStatementFailure("汇总城镇基础汇总表", "汇总城镇基础汇总表失败", statement);
      return 0;
    }
  }
  return 1;
}

bool CZdStatContext::CountLeftOutStoredLots(const TownLayerTables& tables) {
  const std::string query = "select count(*), min(a.地籍号)" + StoredLots(tables) +
                            " and (CASE WHEN " + KeptLotCondition(*this, tables) +
                            " THEN 0 ELSE 1 END)=1";
  try {
    db::Recordset left_out(m_pConn, query);
    const long long count = left_out.Field(0).AsInteger();
    if (count > 0) {
      LogFailure("汇总宗地",
                 fmt::format("表 {} 中 {} 宗宗地的地籍号不是本县 19 位数字、重复或面积无效, "
                             "或土地用途不是地类代码, 连同其房屋未汇总 (第一宗: {})",
                             tables.lot_attributes, count, left_out.Field(1).AsText()));
    }
    return true;
  } catch (const db::DbError&) {
    LogStatementFailure("汇总城镇基础汇总表", "汇总城镇基础汇总表失败", query);
    return false;
  }
}

short CZdStatContext::FillStatDataFromLayerTables() {
  return FillStatDataFromLayerTables(LayerTableNames(*this));
}

std::optional<TownLayerTables> CZdStatContext::StoredLayerTables() {
  TownLayerTables tables = LayerTableNames(*this);
  for (const std::string* table :
       {&tables.lot_attributes, &tables.lot_entities, &tables.house_attributes,
        &tables.house_entities, &tables.code_table}) {
    if (!table->empty() && !IsTableExist(*table)) return std::nullopt;
  }
  return tables;
}

}  // namespace landstat
