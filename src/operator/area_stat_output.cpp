#include "operator/area_stat_output.h"

#include <stdexcept>
#include <fmt/format.h>

#include <filesystem>
#include <pugixml.hpp>
#include <system_error>

#include "engine/run_record.h"
#include "engine/stat_context.h"
#include "engine/text_helpers.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_quote.h"
#include "platform/host/input_checks.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "platform/host/xml_file.h"
#include "platform/sheet/bat_print_excel.h"
#include "platform/sheet/sheet_rows.h"
#include "report/report_skeleton.h"
#include "report/writer_plan.h"

namespace landstat {
namespace {

namespace fs = std::filesystem;

// By the unit combo's index: the name shown in the header, the part of the
// table and file names, and the unit whose decimals the areas show.
struct AreaUnitChoice {
  const char* name;
  const char* code;
  short unit;
};
constexpr AreaUnitChoice kUnits[] = {
    {"平方米", "PM", kSquareMetre}, {"亩", "MU", kMu}, {"公顷", "GQ", kHectare}};

const AreaUnitChoice& UnitOf(const AreaStatChoice& choice) {
  return kUnits[choice.unit >= 1 && choice.unit <= 2 ? choice.unit : 0];
}

// The filters by level, every %s the code column: the rows of the codes of
// the province (2) down to the chosen level's length.
constexpr const char* kLevelFilters[] = {
    " where {0} like '____' OR {0} like '__'",
    " where {0} like '______' OR {0} like '____' OR {0} like '__' ",
    " where {0} like '_________' OR {0} like '______' OR {0} like '____' OR {0} like '__' ",
    " where {0} like '____________'  OR {0} like '_________' OR {0} like '______' OR {0} like "
    "'____' OR {0} like '__' ",
    " where {0} like '___________________'  OR {0} like '____________' OR {0} like '_________' "
    "OR {0} like '______' OR {0} like '____' OR {0} like '__'",
};

// Short names of the tables output whole, whatever the level.
constexpr const char* kWholeTableWords[] = {"台帐", "基本农田情况统计表(按保护块)",
                                            "城镇宗地面积汇总表", "城镇房屋信息汇总表"};
constexpr char kFlyIn[] = "飞入";
constexpr char kRangeList[] = "范围分析";

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

bool IsWholeTable(const std::string& short_name) {
  for (const char* word : kWholeTableWords) {
    if (Contains(short_name, word)) return true;
  }
  return false;
}

int LevelOf(const AreaStatChoice& choice) {
  return choice.level >= 0 && choice.level <= 4 ? choice.level : 4;
}

// The unpaged templates say so in their names.
sheet::Paging PagingOf(const std::string& template_path) {
  return Contains(fs::path(template_path).filename().string(), "不分页") ? sheet::Paging::kUnpaged
                                                                         : sheet::Paging::kPaged;
}

void RemoveQuietly(const std::string& path) {
  std::error_code ignored;
  fs::remove(path, ignored);
}

}  // namespace

std::string AreaStatTableName(const AreaStatChoice& choice, const std::string& stat_table) {
  return std::string(choice.scope == 0 ? "Z" : "Q") + UnitOf(choice).code + stat_table;
}

std::string AreaStatQuery(const std::string& table, const std::string& code_column, int level,
                          bool whole) {
  std::string query = "select * from " + table;
  if (whole) return query;
  const int filter = level >= 0 && level <= 4 ? level : 4;
  return query + fmt::format(fmt::runtime(kLevelFilters[filter]), code_column) + "order by " +
         code_column;
}

std::vector<AreaStatTitle> ReadAreaStatCatalogue(const std::string& catalogue) {
  pugi::xml_document document;
  std::vector<AreaStatTitle> titles;
  if (!host::LoadXmlFile(document, catalogue)) return titles;
  for (pugi::xml_node node : document.document_element().children()) {
    if (const char* title = node.attribute("tDemo").value(); *title) {
      titles.push_back({title, node.attribute("database").value()});
    }
  }
  return titles;
}

short FindCatalogueRow(const std::string& list_path, std::string& stat_table,
                       std::string& short_name, const std::string& title) {
  pugi::xml_document document;
  if (!host::LoadXmlFile(document, list_path)) return 0;
  for (pugi::xml_node row : document.document_element().children("Row")) {
    if (title != row.attribute("表格名称").value()) continue;
    stat_table = row.attribute("statTbl").value();
    short_name = row.attribute("shortName").value();
    return 1;
  }
  return 0;
}

std::string SafeFileStem(const std::string& title) {
  std::string stem;
  for (char c : title) {
    const bool refused =
        (c >= 0 && c < ' ') || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    stem += refused ? '_' : c;
  }
  if (stem.empty() || stem.front() == '.') stem.insert(0, "_");
  return stem;
}

AreaStatOutput::AreaStatOutput(std::string project_folder, std::string catalogue,
                               std::string template_path)
    : project_folder_(std::move(project_folder)),
      catalogue_(std::move(catalogue)),
      template_path_(std::move(template_path)) {}

short AreaStatOutput::Fail(const std::string& problem, bool tell) {
  problem_ = problem;
  if (tell) host::AfxMessageBox(problem);
  host::yDebugStr("面积统计: " + problem);
  return 0;
}

namespace {

// Why the table list's `stat_table` cannot go into a statement; empty when
// it can.
std::string TableProblem(const std::string& list_path, const std::string& title,
                         const std::string& stat_table) {
  if (db::PlainTableName(stat_table)) return {};
  return "表格目录 " + list_path + " 中 " + title + " 的 statTbl \"" + stat_table +
         "\" 不是表名 (only letters, digits and _)";
}

}  // namespace

std::vector<AreaStatOutput::Table> AreaStatOutput::ListTables(const std::string& list_path,
                                                              std::string& problem) const {
  pugi::xml_document document;
  std::vector<Table> tables;
  if (!host::LoadXmlFile(document, list_path)) return tables;
  const int level = LevelOf(choice);
  for (pugi::xml_node row : document.document_element().children("Row")) {
    const std::string sheet = row.attribute("表格名称").value();
    const std::string stat_table = row.attribute("statTbl").value();
    problem = TableProblem(list_path, sheet, stat_table);
    if (!problem.empty()) return {};
    const std::string short_name = row.attribute("shortName").value();
    const bool whole = Contains(short_name, kFlyIn) || IsWholeTable(short_name);
    tables.push_back(
        {sheet, AreaStatQuery(AreaStatTableName(choice, stat_table), "XZQDM", level, whole)});
  }
  return tables;
}

std::vector<AreaStatOutput::Table> AreaStatOutput::SingleTable(const std::string& list_path,
                                                               const std::string& title,
                                                               std::string& problem) const {
  std::string stat_table, short_name;
  if (FindCatalogueRow(list_path, stat_table, short_name, title) == 0) {
    problem = "表格目录 " + list_path + " 中没有 " + title;
    return {};
  }
  problem = TableProblem(list_path, title, stat_table);
  if (!problem.empty()) return {};
  const std::string table = AreaStatTableName(choice, stat_table);
  const int level = LevelOf(choice);
  if (Contains(short_name, kFlyIn)) return {{title, AreaStatQuery(table, "SZXZQDM", level, false)}};
  return {{title, AreaStatQuery(table, "XZQDM", level, IsWholeTable(short_name))}};
}

short AreaStatOutput::OutputAreaStat(const std::string& database, const std::string& title) {
  problem_.clear();
  workbook_.clear();
  const fs::path folder(project_folder_);
  // The database and the table list are files of the project's and the
  // catalogue's folders: a name that would leave them is refused.
  if (!database.empty() && !host::PlainFileName(database)) {
    return Fail("面积统计目录 " + catalogue_ + " 中 " + title + " 的 database \"" + database +
                    "\" 不是项目文件夹中的文件名",
                true);
  }
  const std::string database_path = (folder / database).string();
  if (!fs::is_regular_file(database_path)) return Fail("汇总数据不存在! " + database_path, true);
  const AreaUnitChoice& unit = UnitOf(choice);
  // Mended: the title was joined to the folder as it stood, so a title
  // holding "/" or ".." wrote outside the project's folder.
  const std::string path = (folder / (SafeFileStem(title) + unit.code + ".xlsx")).string();
  std::string list_name;
  if (GetXmlValueEx(catalogue_.c_str(), "tDemo", title, "strTableName", list_name) <= 0) {
    return Fail("面积统计目录 " + catalogue_ + " 中没有 " + title, false);
  }
  if (!host::PlainFileName(list_name)) {
    return Fail("面积统计目录 " + catalogue_ + " 中 " + title + " 的 strTableName \"" + list_name +
                    "\" 不是目录文件夹中的文件名",
                true);
  }
  const std::string list_path = (fs::path(catalogue_).parent_path() / list_name).string();
  std::string problem;
  const std::vector<Table> tables = Contains(title, kRangeList)
                                        ? ListTables(list_path, problem)
                                        : SingleTable(list_path, title, problem);
  if (!problem.empty()) return Fail(problem, true);
  if (tables.empty()) return Fail("表格目录 " + list_path + " 没有可输出的表", true);
  std::error_code unknown;
  if (fs::equivalent(path, template_path_, unknown)) {
    return Fail("the workbook " + path + " is the template itself", true);
  }
  // An existing workbook is replaced only by a complete new one, when the
  // operator wants it replaced.
  if (fs::exists(path) &&
      host::AfxMessageBox("该表已经存在,是否删除重新出表?",
                          host::MB_YESNO | host::MB_ICONINFORMATION) != host::IDYES) {
    workbook_ = path;
    if (show) sheet::ShowWorkbook(path);
    return 1;
  }
  if (!Write(database_path, path, tables)) return 0;
  workbook_ = path;
  if (show) sheet::ShowWorkbook(path);
  return 1;
}

// Fills a copy of the template under a private work name in the folder of
// `path` and renames it onto `path` once saved; on any failure the copy is
// removed, `path` stays as it was and the reason is told.
short AreaStatOutput::Write(const std::string& database_path, const std::string& path,
                            const std::vector<Table>& tables) {
  const AreaUnitChoice& unit = UnitOf(choice);
  std::string work;
  host::JobStages stages("正在出表...", {{"sheets", 1}});
  try {
    db::Connection connection(database_path);
    // Tables of a job that did not finish may be incomplete.
    const auto last = LastRunRecord(connection);
    if (last && !last->Finished()) {
      return Fail(database_path + " 中 " + last->year + " 年度的最后一次作业没有完成, 请重新汇总",
                  true);
    }
    work = report::WorkCopyName(project_folder_);
    fs::copy_file(template_path_, work, fs::copy_options::overwrite_existing);
    sheet::BatPrintExcel book(work, template_path_);
    if (const int decimals = report::UnitDecimals(unit.unit); decimals >= 0)
      book.SetAreaDecimals(decimals);
    // The unit is the one header value the output gives; the year is the
    // database's; the templates' other header marks are left blank.
    const std::string year = last ? last->year : "";
    const sheet::SWhiteParam pairs[] = {{"单位", unit.name}, {"年度", year},  {"区域", ""},
                                        {"权属性质", ""},    {"填表人", ""},  {"填表日期", ""},
                                        {"检查人", ""},      {"检查日期", ""}};
    for (std::size_t i = 0; i < tables.size(); ++i) {
      const Table& table = tables[i];
      host::StepStage(static_cast<long>(i), static_cast<long>(tables.size()));
      // The operator's cancel: the workbook is not written.
      if (host::JobCancelled()) throw std::runtime_error("作业已取消");
      sheet::ScanRows rows(connection.Scan(table.query));
      book.FillSheet(rows, table.sheet, pairs, PagingOf(template_path_),
                     sheet::Columns::kByFieldRow);
    }
    book.PrintOut(1, 1);
    fs::rename(work, path);
  } catch (const std::exception& failure) {
    RemoveQuietly(work);
    return Fail(failure.what(), true);
  }
  return 1;
}

}  // namespace landstat
