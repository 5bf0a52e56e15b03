#pragma once

#include <string>
#include <vector>

namespace landstat {

// The area statistics output of the attribute browser: a statistics table
// named in the area statistics catalogue, read from an existing statistics
// database in the project's folder, written into a workbook made from a
// template, in the unit, scope and level the operator chose.
//
// The area statistics catalogue is an XML file whose root holds one element
// per title, with the attributes "tDemo" (the title), "database" (the file
// name of the statistics database in the project's folder) and
// "strTableName" (the file name of the table list, in the catalogue's
// folder). The table list holds "Row" elements with "表格名称" (the table's
// title and sheet), "statTbl" (the base name of its summary table) and
// "shortName" (searched for the words that decide its filtering).

// A title of the area statistics catalogue and its database's file name.
struct AreaStatTitle {
  std::string title, database;
};
// The catalogue's titles in document order; none when it cannot be read.
std::vector<AreaStatTitle> ReadAreaStatCatalogue(const std::string& catalogue);

// The combo box indices of the browser; -1 is no selection.
struct AreaStatChoice {
  int unit = -1;   // "平方米" 0, "亩" 1, "公顷" 2; none counts as 0
  int scope = -1;  // "座落单位" 0 gives the Z tables; every other value the Q tables
  int level = -1;  // "市级" 0 ... "小组级" 4; none counts as 4
};

// The summary table of `stat_table` in the chosen unit and scope: "ZPM%s" ...
// "QGQ%s".
std::string AreaStatTableName(const AreaStatChoice& choice, const std::string& stat_table);

// "select * from table", then (unless `whole`) the level's filter on
// `code_column` directly followed by "order by" the code column.
std::string AreaStatQuery(const std::string& table, const std::string& code_column, int level,
                          bool whole);

// The row of the table list whose "表格名称" is `title` (the first, byte for
// byte): fills `stat_table` and `short_name` and gives 1; 0 with both
// untouched when the file does not load, holds no "Row" or no row matches.
short FindCatalogueRow(const std::string& list_path, std::string& stat_table,
                       std::string& short_name, const std::string& title);

// A title made safe to name a file inside a folder: no separators, no
// characters a file system refuses, never "." or "..".
std::string SafeFileStem(const std::string& title);

class AreaStatOutput {
 public:
  // `project_folder` holds the statistics databases and receives the
  // workbooks; `catalogue` is the area statistics catalogue; `template_path`
  // the workbook every output is copied from.
  AreaStatOutput(std::string project_folder, std::string catalogue, std::string template_path);

  AreaStatChoice choice;  // read at the start of every output
  bool show = true;       // a written or kept workbook is shown to the operator

  // Writes the workbook of `title` from the database file `database` (the
  // catalogue's "database" value): 1 when it was written or an existing one
  // was opened, 0 otherwise, with the reason in LastProblem(). A database or
  // table list name that is no file name of its folder, a statTbl that is
  // no plain table name and a missing database (named) are refused before
  // anything is written. The workbook is filled under a private work name
  // and renamed into place once complete: an existing one is replaced only
  // when the operator answers yes to the notifier's question, and only by a
  // complete one.
  short OutputAreaStat(const std::string& database, const std::string& title);

  // The workbook the last output wrote or opened.
  const std::string& LastWorkbook() const { return workbook_; }
  // Why the last output gave 0; empty when it gave 1.
  const std::string& LastProblem() const { return problem_; }

 private:
  struct Table {
    std::string sheet, query;
  };
  short Fail(const std::string& problem, bool tell);
  // The tables of the list (of its row `title`); none with `problem` when a
  // row gives no plain table name or the title has no row.
  std::vector<Table> ListTables(const std::string& list_path, std::string& problem) const;
  std::vector<Table> SingleTable(const std::string& list_path, const std::string& title,
                                 std::string& problem) const;
  short Write(const std::string& database_path, const std::string& path,
              const std::vector<Table>& tables);

  std::string project_folder_, catalogue_, template_path_;
  std::string workbook_, problem_;
};

}  // namespace landstat
