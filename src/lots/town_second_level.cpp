// The town second-level classification output: lot table, summary table and
// report from a lot layer and a code dictionary.

#include "lots/town_second_level.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "engine/database_helpers.h"
#include "engine/layer_checks.h"
#include "engine/rounding.h"
#include "engine/run_log.h"
#include "lots/town_lot_run.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_backend.h"
#include "platform/gis/gis_error.h"
#include "platform/host/input_checks.h"
#include "platform/host/paths.h"
#include "platform/host/progress.h"
#include "platform/sheet/bat_print_excel.h"
#include "platform/text/ascii_text.h"
#include "platform/text/number_text.h"
#include "platform/text/text_encoding.h"
#include "report/report_skeleton.h"

namespace landstat {
namespace fs = std::filesystem;
namespace {

constexpr const char* kLotTable = "statdata_czzd";
constexpr const char* kSummaryTable = "CZTDLY_EJFLZD";
constexpr const char* kTemplateMessage =
    "请确保二次详查表格.xlsx中有<<城镇土地调查土地利用二级分类面积(宗地)>>模板";
constexpr const char* kWriteFailure = "satadata_czzd写入数据失败";
constexpr const char* kCreateFailure = "创建satadata_czzd表失败,请检查数据字典和宗地是否匹配";

// The lot table's columns before the class columns: 15 texts, then numbers.
constexpr const char* kFixedColumns[] = {
    "地籍号",   "省名称",   "省级代码",   "市名称",     "市级代码", "县名称",     "县级代码",
    "街道名称", "街道代码", "街坊名称",   "街坊代码",   "土地座落", "使用权类型", "权属性质",
    "土地级别", "建筑密度", "建筑容积率", "宗地总面积", "占地面积", "建筑面积"};
constexpr std::size_t kTextColumns = 15;
enum FixedColumn { kLotNumber = 0, kDensity = 15, kFloorRatio = 16, kLotArea = 17 };

// The lot's texts that go into the row as read.
constexpr std::pair<int, const char*> kLotTexts[] = {
    {11, "土地座落"}, {12, "使用权类型"}, {13, "权属性质"}, {14, "土地级别"}};

// The level columns (code, name) and the length of the lot number's prefix
// that is the level's code.
struct LotLevel {
  int code, name;
  std::size_t length;
};
constexpr LotLevel kLotLevels[] = {{2, 1, 2}, {4, 3, 4}, {6, 5, 6}, {8, 7, 9}, {10, 9, 12}};

// The summary's levels: code and name columns of the lot table.
constexpr std::pair<const char*, const char*> kSummaryLevels[] = {
    {"县级代码", "县名称"}, {"街道代码", "街道名称"}, {"街坊代码", "街坊名称"}};

// Ends the output with what the operator is told.
class OutputFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the dictionary gives the output.
struct CodeMaps {
  std::unordered_map<std::string, std::string> names;  // administrative code -> name
  std::vector<std::string> classes;                    // land-use codes of 2 or 3 characters
  std::vector<std::string> columns;                    // the lot table's columns
};

CodeMaps LoadCodeMaps(const gis::RuralCode& codes) {
  CodeMaps maps;
  maps.columns.assign(std::begin(kFixedColumns), std::end(kFixedColumns));
  std::vector<gis::CODESTRUCT> entries;
  codes.GetCode(nullptr, &entries, 0, "");
  for (const gis::CODESTRUCT& entry : entries) {
    if (entry.type.find("行政代码") != std::string::npos) {
      maps.names[entry.code] = entry.name;
    } else if (entry.type.find("地类代码") != std::string::npos && !entry.code.starts_with("20")) {
      maps.columns.push_back("BM" + entry.code);
      const std::size_t length = text::CharacterCount(entry.code);
      if (length == 2 || length == 3) maps.classes.push_back(entry.code);
    }
  }
  return maps;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string joined;
  for (std::size_t i = 0; i < parts.size(); ++i) joined += (i ? separator : "") + parts[i];
  return joined;
}

// "... (the cause)" for a message whose cause has words of its own.
std::string WithCause(const std::string& message, const std::exception& cause) {
  return message + " (" + cause.what() + ")";
}

void CreateStatDataTable(db::Connection& connection, const CodeMaps& maps) {
  std::vector<std::string> columns;
  for (std::size_t i = 0; i < maps.columns.size(); ++i) {
    columns.push_back(db::QuoteName(maps.columns[i]) +
                      (i < kTextColumns ? " varchar(60)" : " double default 0.00"));
  }
  try {
    connection.Execute(std::string("Create Table ") + kLotTable + "(" + Joined(columns, ",") + ")");
  } catch (const db::DbError& error) {
    throw OutputFailure(WithCause(kCreateFailure, error));
  }
}

// A number's text: an empty one counts 0. What is wrong with one that is no
// finite number, negative or above `most` goes to `problem`, and it counts 0.
double CheckedNumber(const std::string& text, double most, std::string& problem) {
  if (text.empty()) return 0;
  const std::optional<double> number = text::TextToNumber(text);
  if (!number || !std::isfinite(*number)) {
    problem = "不是数值";
  } else if (*number < 0) {
    problem = "为负数";
  } else if (*number > most) {
    problem = "超过 1e10 平方米";
  } else {
    return *number;
  }
  problem += ": " + text + ", 按 0 计";
  return 0;
}

// A number of a lot, checked as above; a refused one is logged.
double CheckedNumber(LayerChecks& checks, const gis::Record& lot, const char* field,
                     double most = std::numeric_limits<double>::infinity()) {
  std::string problem;
  const double number = CheckedNumber(checks.StoredText(lot, field), most, problem);
  if (!problem.empty()) checks.Fail(lot, field, problem);
  return number;
}

// Writes the rows of the lot table: one per lot, or one per item of a
// lot's ratio list.
class LotRows {
 public:
  LotRows(db::Connection& connection, const CodeMaps& maps, LayerChecks& checks,
          TownSecondLevelOutcome& outcome)
      : maps_(maps), checks_(checks), outcome_(outcome) {
    for (std::size_t i = 0; i < maps.columns.size(); ++i) {
      column_of_.emplace(text::ToLowerAscii(maps.columns[i]), static_cast<int>(i));
      blank_.push_back(i < kTextColumns ? db::Value("") : db::Value(0.0));
    }
    try {
      writer_.emplace(connection, kLotTable, maps.columns);
    } catch (const db::DbError& error) {
      throw OutputFailure(WithCause("satadata_czzd打开失败", error));
    }
  }

  void Lot(const gis::Record& lot) {
    const std::string number = lot.Text("地籍号");
    if (number.empty()) return LeftOut(lot, number, "地籍号为空");
    const double area = CheckedNumber(checks_, lot, "实测面积", kMostPieceArea);
    std::vector<std::pair<std::string, double>> parts;  // class code, area
    const std::string ratios = lot.Text("分类面积比例");
    if (ratios.empty()) {
      parts.emplace_back(LandUseCode(lot.Text("土地用途")), area);
    } else if (!RatioParts(lot, ratios, area, parts)) {
      return LeftOut(lot, number, "分类面积比例 " + ratios + " 的比例之和超过 1");
    }
    Write(lot, number, Common(lot, number), parts);
  }

  void Close() { writer_->Close(); }

 private:
  // The parts of a lot's ratio list; false when a part comes out negative
  // (the factors add up to more than 1), which no class can hold.
  bool RatioParts(const gis::Record& lot, const std::string& ratios, double area,
                  std::vector<std::pair<std::string, double>>& parts) {
    std::vector<std::string> codes, factor_texts;
    int count = 0;
    SplitAreaRatios(ratios, &codes, &factor_texts, &count);
    std::vector<double> factors;
    for (const std::string& text : factor_texts) {
      std::string problem;
      factors.push_back(CheckedNumber(text, std::numeric_limits<double>::infinity(), problem));
      if (!problem.empty()) checks_.Fail(lot, "分类面积比例", "比例" + problem);
    }
    const std::vector<double> split = SplitLotArea(area, factors);
    for (int i = 0; i < count; ++i) parts.emplace_back(codes[i], split[i]);
    return std::all_of(split.begin(), split.end(), [](double part) { return part >= 0; });
  }

  std::vector<db::Value> Common(const gis::Record& lot, const std::string& number) const {
    std::vector<db::Value> row = blank_;
    row[kLotNumber] = number;
    // The levels are prefixes of the number as the town-lot run takes
    // them, without the blanks a number may have been typed with.
    std::string plain = number;
    std::erase(plain, ' ');
    for (const LotLevel& level : kLotLevels) {
      const std::string code(text::FirstCharacters(plain, level.length));
      const auto name = maps_.names.find(code);
      row[level.code] = code;
      row[level.name] = name == maps_.names.end() ? std::string() : name->second;
    }
    for (const auto& [column, field] : kLotTexts) row[column] = lot.Text(field);
    row[kDensity] = CheckedNumber(checks_, lot, "建筑密度");
    row[kFloorRatio] = CheckedNumber(checks_, lot, "建筑容积率");
    return row;
  }

  // All rows of the lot or none: a lot of no class (an empty land use) or
  // of a class the table lacks, or whose row the table refuses, is logged,
  // counted and left out whole: its area would count in its total and in
  // no class. Every
  // row is set completely before any is stored, so a row that could not be
  // set is never stored half-set by the next one.
  void Write(const gis::Record& lot, const std::string& number,
             const std::vector<db::Value>& common,
             const std::vector<std::pair<std::string, double>>& parts) {
    std::vector<std::vector<db::Value>> rows;
    for (const auto& [code, area] : parts) {
      std::vector<db::Value> row = common;
      row[kLotArea] = area;
      const std::vector<std::string> columns = ClassColumnsOfCode(code);
      if (columns.empty()) {
        return LeftOut(lot, number,
                       code.empty() ? "土地用途为空" : "地类 " + code + " 不是地类代码");
      }
      for (const std::string& column : columns) {
        const auto found = column_of_.find(text::ToLowerAscii(column));
        if (found == column_of_.end()) {
          return LeftOut(lot, number, "数据字典中没有地类 " + column.substr(2));
        }
        row[found->second] = area;
      }
      rows.push_back(std::move(row));
    }
    try {
      for (const std::vector<db::Value>& row : rows) writer_->Add(row);
    } catch (const db::DbError&) {
      // Logged from the handler, the database's own words follow.
      return LeftOut(lot, number, "统计表不接受该行");
    }
    ++outcome_.lots_written;
  }

  // Names a lot left out by its record and number (in the outcome by its
  // number, or by its record when it has none).
  void LeftOut(const gis::Record& lot, const std::string& number, const std::string& reason) {
    const std::string numbered = number.empty() ? "" : "地籍号 " + number;
    checks_.Fail(
        lot, "",
        std::string(kWriteFailure) + ": " + numbered + (number.empty() ? "" : ", ") + reason);
    if (outcome_.lots_left_out++ == 0) {
      outcome_.first_left_out = number.empty() ? checks_.RecordName(lot) : numbered;
    }
  }

  const CodeMaps& maps_;
  LayerChecks& checks_;
  TownSecondLevelOutcome& outcome_;
  std::unordered_map<std::string, int> column_of_;  // lower-case name -> place in the row
  std::vector<db::Value> blank_;
  std::optional<db::RowWriter> writer_;
};

// Walks the lots into the lot table.
void WriteLots(db::Connection& connection, const TownSecondLevelOptions& options,
               const CodeMaps& maps, StatRunLog& log, TownSecondLevelOutcome& outcome) {
  LayerChecks checks(log, options.lots);
  for (const char* field : {"实测面积", "建筑密度", "建筑容积率"}) {
    if (gis::HasField(options.lots, field)) checks.WatchNumbers(field);
  }
  LotRows rows(connection, maps, checks, outcome);
  const long count = gis::RecordCount(options.lots, gis::EntityKind::kRegion);
  gis::Record record;
  for (long number = 1; number < count; ++number) {
    if (number % 1000 == 0) {
      host::LindoDlgSetProgress("正在汇总宗地", number, count - 1);
      if (host::JobCancelled()) throw OutputFailure("作业已取消");
    }
    if (gis::ReadRecord(options.lots, gis::EntityKind::kRegion, number, record)) rows.Lot(record);
  }
  try {
    rows.Close();
  } catch (const db::DbError& error) {
    throw OutputFailure(WithCause(kWriteFailure, error));
  }
}

// CZTDLY_EJFLZD: the lot table summed by county, street and block.
void SumEjflzd(db::Connection& connection, const CodeMaps& maps) {
  std::vector<std::string> columns, creates, sums;
  for (const std::string& code : maps.classes) {
    const std::string column = db::QuoteName("BM" + code);
    columns.push_back(column);
    creates.push_back(column + " double default 0.00");
    sums.push_back("SUM(" + column + ") ");
  }
  const std::string table = kSummaryTable;
  std::string statement;
  try {
    statement = "Create Table " + table +
                "(XZQDM varchar(19) ,XZQMC varchar(60) ,XZQZMJ double default 0.00," +
                Joined(creates, ",") + ")";
    connection.Execute(statement);
    for (const auto& [code, name] : kSummaryLevels) {
      statement = "insert into " + table + "(XZQDM,XZQMC,XZQZMJ," + Joined(columns, ",") +
                  ") SELECT " + code + "," + name + ",SUM(宗地总面积), " + Joined(sums, ",") +
                  " FROM " + kLotTable + " GROUP BY " + code + "," + name;
      connection.Execute(statement);
    }
  } catch (const db::DbError& error) {
    throw OutputFailure(WithCause("汇总CZTDLY_EJFLZD表失败", error));
  }
}

// Reports the folder that cannot take the output.
void RequireWritableFolder(const std::string& folder) {
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  std::string problem;
  if (!fs::is_directory(status)) {
    problem = "文件夹不存在";
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    problem = "文件夹不能写入";
  }
  if (!problem.empty()) {
    throw OutputFailure("在相应的路径下创建统计数据库失败,请重新选择有效的路径: " +
                        report::JoinOutputPath(folder, kTownStatFile) + " (" + problem + ")");
  }
}

// The template the report is filled from.
std::string TemplateOf(const TownSecondLevelOptions& options) {
  const std::string given = options.template_path.empty()
                                ? (fs::path(host::ConfigDir()) / "二次详查表格.xlsx").string()
                                : options.template_path;
  return report::TemplateVariant(given, report::VariantSet::kTwo, options.paged, 0);
}

// The report's workbook in the output folder.
std::string ReportPathOf(const TownSecondLevelOptions& options) {
  return report::JoinOutputPath(
      options.output_folder,
      std::string(kTownReportName) + (options.paged ? "" : "(不分页)") + ".xlsx");
}

// Refuses an output folder in which the database or the report would
// write over the lot layer's source, the code file or the template.
void RequireOutputsApart(const TownSecondLevelOptions& options) {
  const std::vector<std::string> inputs = {gis::LayerSource(options.lots), options.codes->Path(),
                                           TemplateOf(options)};
  for (const std::string& output :
       {report::JoinOutputPath(options.output_folder, kTownStatFile), ReportPathOf(options)}) {
    if (const std::string input = host::InputWrittenBy(output, inputs); !input.empty()) {
      throw OutputFailure("输出文件 " + output + " 就是输入文件 " + input + ", 请另选出表路径");
    }
  }
}

// Builds the database in its working file and puts it in place once both
// tables are complete. An earlier database is never deleted first: it stays
// until the complete one replaces it, so an output that fails keeps it.
void BuildDatabase(const TownSecondLevelOptions& options, const CodeMaps& maps, StatRunLog& log,
                   TownSecondLevelOutcome& outcome) {
  const std::string target = report::JoinOutputPath(options.output_folder, kTownStatFile);
  const std::string work = db::ScratchPrefix(target);
  db::RemoveScratchFiles(target);
  if (CreateAcessDB(work) <= 0) {
    throw OutputFailure("在相应的路径下创建统计数据库失败,请重新选择有效的路径: " + target);
  }
  try {
    db::Connection connection(work);
    CreateStatDataTable(connection, maps);
    const long failures_before = log.m_nErrCount;
    WriteLots(connection, options, maps, log, outcome);
    // Each lot left out is one failure; the others of the walk are values
    // read as 0.
    outcome.values_refused = log.m_nErrCount - failures_before - outcome.lots_left_out;
    SumEjflzd(connection, maps);
    connection.Close();
    fs::rename(work, target);
  } catch (const db::DbError& error) {
    db::RemoveScratchFiles(target);
    throw OutputFailure(WithCause("统计数据库 " + work + " 无法写入", error));
  } catch (const fs::filesystem_error& error) {
    db::RemoveScratchFiles(target);
    throw OutputFailure(WithCause("统计数据库无法放到 " + target, error));
  } catch (...) {
    db::RemoveScratchFiles(target);
    throw;
  }
  outcome.database = target;
  outcome.database_written = true;
}

// The counties of the lot table, named for the report's heading.
std::string CountyNames(db::Connection& connection) {
  std::vector<std::string> names;
  db::Recordset counties(connection, std::string("select distinct 县名称 from ") + kLotTable +
                                         " where 县名称 <> '' order by 县名称");
  for (; !counties.IsEOF(); counties.MoveNext()) names.push_back(counties.Text("县名称"));
  return Joined(names, "、");
}

// Fills the report under a work name beside it and renames it into place,
// so that a report that could not be filled leaves nothing.
void WriteReport(const TownSecondLevelOptions& options, TownSecondLevelOutcome& outcome) {
  const std::string source = TemplateOf(options);
  const std::string path = ReportPathOf(options);
  const std::string work = db::ScratchPrefix(path);
  db::RemoveScratchFiles(path);
  std::error_code missing;
  if (!fs::is_regular_file(source, missing)) {
    throw OutputFailure(std::string(kTemplateMessage) + " (没有模板文件 " + source + ")");
  }
  try {
    fs::copy_file(source, work, fs::copy_options::overwrite_existing);
  } catch (const fs::filesystem_error& error) {
    db::RemoveScratchFiles(path);
    throw OutputFailure(WithCause("模板 " + source + " 无法复制到 " + work, error));
  }
  try {
    db::Connection connection(outcome.database);
    const std::vector<sheet::SWhiteParam> pairs = {
        {"单位", "平方米"}, {"区域", CountyNames(connection)},
        {"年度", ""},       {"权属性质", ""},
        {"填表人", ""},     {"填表日期", ""},
        {"检查人", ""},     {"检查日期", ""}};
    sheet::ScanRows rows(
        connection.Scan(std::string("select * from ") + kSummaryTable + " order by XZQDM"));
    sheet::BatPrintExcel book(work, source);
    book.SetAreaDecimals(2);
    book.FillSheet(rows, kTownReportSheet, pairs,
                   options.paged ? sheet::Paging::kPaged : sheet::Paging::kUnpaged,
                   sheet::Columns::kByFieldRow);
    book.PrintOut(1, 1);
    fs::rename(work, path);
  } catch (const std::exception& error) {
    db::RemoveScratchFiles(path);
    throw OutputFailure(WithCause(kTemplateMessage, error));
  }
  outcome.report = path;
  outcome.report_written = true;
}

// The fields every lot's rows need: its number, its area and its land use.
// The first one the layer lacks is one failure naming layer and field, and
// nothing is written: read as empty, it would leave out every lot (or give
// every lot an area of 0).
void RequireLotFields(gis::LayerHandle lots, StatRunLog& log) {
  LayerChecks checks(log, lots);
  if (!checks.HasFields({"地籍号", "实测面积", "土地用途"}, "不生成统计数据库和报表")) {
    throw OutputFailure("宗地图层 " + checks.Name() + " 缺少必需的字段");
  }
}

void Run(const TownSecondLevelOptions& options, StatRunLog& log, TownSecondLevelOutcome& outcome) {
  if (!gis::IsLayerValid(options.lots) || !options.codes || options.output_folder.empty()) {
    throw OutputFailure("请选择宗地图层、数据字典和出表路径");
  }
  RequireLotFields(options.lots, log);
  RequireWritableFolder(options.output_folder);
  RequireOutputsApart(options);
  const CodeMaps maps = LoadCodeMaps(*options.codes);
  if (maps.columns.size() == std::size(kFixedColumns)) {
    throw OutputFailure(std::string(kCreateFailure) + " (数据字典中没有地类代码)");
  }
  if (maps.classes.empty()) {
    throw OutputFailure("创建CZTDLY_EJFLZD表失败: 数据字典中没有2位或3位的地类代码");
  }
  host::JobStages stages("正在汇总...", {{"database", 70}, {"report", 30}});
  BuildDatabase(options, maps, log, outcome);
  stages.Done("database");
  // After the operator's cancel no workbook is written.
  if (host::JobCancelled()) throw OutputFailure("作业已取消");
  WriteReport(options, outcome);
}

// What the operator is told: what was written, what was left out and why
// the output stopped, if it did.
std::string Summary(const TownSecondLevelOutcome& outcome, const std::string& failure) {
  std::string text;
  if (outcome.report_written) text += "已写出 " + outcome.report + "\n";
  if (outcome.database_written) text += "统计数据库 " + outcome.database + "\n";
  if (outcome.lots_left_out > 0) {
    text += std::to_string(outcome.lots_left_out) +
            " 个宗地未写入 (第一个: " + outcome.first_left_out + ")\n";
  }
  if (outcome.values_refused > 0) {
    text += std::to_string(outcome.values_refused) + " 个数值不可用, 按 0 计\n";
  }
  for (const std::string& message : outcome.messages) text += "  " + message + "\n";
  return failure.empty() ? text : failure + "\n" + text;
}

}  // namespace

short SplitAreaRatios(const std::string& text, std::vector<std::string>* codes,
                      std::vector<std::string>* factors, int* count) {
  if (text.empty()) return 0;
  std::string_view rest = text;
  if (rest.front() == ',') rest.remove_prefix(1);
  std::string owned(rest);
  if (owned.empty() || owned.back() != ',') owned += ',';
  rest = owned;
  int items = 0;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    const std::string_view code = text::FirstCharacters(item, 3);
    const std::string_view after = item.substr(code.size());
    const std::size_t skipped = text::FirstCharacters(after, 1).size();
    codes->emplace_back(code);
    factors->emplace_back(after.substr(skipped));
    ++items;
  }
  *count = items;
  return 1;
}

std::vector<double> SplitLotArea(double area, const std::vector<double>& factors) {
  std::vector<double> parts;
  if (factors.empty()) return parts;
  const double total = RoundToDecimals(area, 2);
  double sum = 0;
  for (const double factor : factors) {
    parts.push_back(RoundToDecimals(total * factor, 2));
    sum += parts.back();
  }
  // Both are on the grid of 0.01: rounded again, the first part loses the
  // binary noise of the difference.
  parts.front() = RoundToDecimals(parts.front() + (total - sum), 2);
  return parts;
}

std::vector<std::string> ClassColumnsOfCode(const std::string& code) {
  std::vector<std::string> columns;
  const std::string name = "BM" + code;
  for (std::size_t n = text::CharacterCount(name); n >= 4; --n) {
    columns.emplace_back(text::FirstCharacters(name, n));
  }
  return columns;
}

std::string LandUseCode(const std::string& use) {
  return text::CharacterCount(use) == 2 ? "0" + use : use;
}

TownSecondLevelOutcome OutputTownSecondLevel(const TownSecondLevelOptions& options) {
  TownSecondLevelOutcome outcome;
  StatRunLog log;
  std::string failure;
  try {
    Run(options, log, outcome);
    if (options.view) sheet::ShowWorkbook(outcome.report);
  } catch (const std::exception& error) {
    failure = error.what();
    if (outcome.report_written) log.LogFailure("显示报表", failure);
  }
  outcome.failures = log.m_nErrCount;
  outcome.messages = log.m_arrFirstFailures;
  outcome.message = Summary(outcome, outcome.report_written ? "" : failure);
  return outcome;
}

gis::LayerHandle OpenTownLotLayer(const std::string& source, const std::string& layer) {
  if (!layer.empty()) return gis::OpenLayerOfKind(source, layer, gis::EntityKind::kRegion);
  for (const char* name : kTownLotLayerNames) {
    try {
      return gis::OpenLayerOfKind(source, name, gis::EntityKind::kRegion);
    } catch (const gis::GisError&) {
      if (name == kTownLotLayerNames[1]) throw;
    }
  }
  return 0;
}

}  // namespace landstat
