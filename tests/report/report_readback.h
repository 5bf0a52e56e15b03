#pragma once

// Report templates written and workbooks read back with openpyxl, for the
// report tests.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_databases.h"

namespace landstat::report {

inline std::string RunText(const std::string& command) {
  std::string text;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe.get()) != nullptr) text += buffer;
  return text;
}

// Writes templates and reads workbooks back with openpyxl.
//   make PATH SHEET[=FIELD,...]...: a template whose sheets hold a title
//     "{年度}", a heading row, the field row (XZQDM, XZQMC, XZQZMJ unless
//     given), the data row "{数据:2}" and the footer "填表人：{填表人}".
//   rows TEMPLATE BOOK...: for each workbook, a line "\x1c" + its path, then
//     the data rows of its one sheet (the rows between the heading and the
//     footer of the template's sheet of that name), one line each, cells
//     joined by '|', numbers with four decimals. The template is read once.
//   fields TEMPLATE SHEET...: for each sheet, a line "\x1c" + its name, then
//     the field row of the template's sheet, joined by ','.
//   split TEMPLATE BOOK SHEET: for each sheet of the workbook, "= name" and
//     its data rows, laid out as the template's sheet SHEET.
//   title BOOK: the first cell of the workbook's first sheet.
inline constexpr const char* kScript = R"PY(
import sys, openpyxl
if sys.argv[1] == 'make':
    book = openpyxl.Workbook()
    book.remove(book.active)
    for sheet_arg in sys.argv[3:]:
        name, _, fields = sheet_arg.partition('=')
        ws = book.create_sheet(name)
        ws.append(['{年度}{单位}'])
        ws.append(['代码', '名称', '面积'])
        ws.append(fields.split(',') if fields else ['XZQDM', 'XZQMC', 'XZQZMJ'])
        ws.append(['{数据:2}'])
        ws.append(['填表人：{填表人}'])
    book.save(sys.argv[2])
elif sys.argv[1] == 'fields':
    tmpl = openpyxl.load_workbook(sys.argv[2])
    for name in sys.argv[3:]:
        ws = tmpl[name]
        first = next(c for r in ws.iter_rows() for c in r
                     if isinstance(c.value, str) and c.value.startswith('{数据'))
        print('\x1c' + name)
        print(','.join(c.value for c in ws[first.row - 1][first.column - 1:] if c.value))
elif sys.argv[1] == 'title':
    print(openpyxl.load_workbook(sys.argv[2]).worksheets[0]['A1'].value)
else:
    def rows(ws, template):
        first = next(c.row for r in template.iter_rows() for c in r
                     if isinstance(c.value, str) and c.value.startswith('{数据'))
        footer = template.max_row - first
        for row in ws.iter_rows(min_row=first, max_row=ws.max_row - footer, values_only=True):
            print('|'.join('' if v is None else (v if isinstance(v, str) else '%.4f' % v)
                           for v in row).rstrip('|'))
    tmpl = openpyxl.load_workbook(sys.argv[2])
    if sys.argv[1] == 'split':
        for ws in openpyxl.load_workbook(sys.argv[3]).worksheets:
            print('= ' + ws.title)
            rows(ws, tmpl[sys.argv[4]])
    else:
        for path in sys.argv[3:]:
            print('\x1c' + path)
            sheet = openpyxl.load_workbook(path).worksheets[0]
            rows(sheet, tmpl[sheet.title])
)PY";

inline std::string Python(const std::string& args) {
  // One script per test process (tests run side by side), gone with it.
  static const testing::TempDir folder;
  static const std::string script = [] {
    const std::string path = folder.File("read_report.py");
    std::ofstream(path) << kScript;
    return path;
  }();
  return RunText("/usr/bin/python3 -W ignore " + script + " " + args + " 2>&1");
}

inline std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// What a reading of several items printed, by item: the lines after each
// line "\x1c" + item. When the reading failed before an item, that item
// holds all it printed, so that a test shows why.
inline std::map<std::string, std::string> ByItem(const std::string& args,
                                                 const std::vector<std::string>& items) {
  std::string command = args;
  for (const std::string& item : items) command += " " + Quoted(item);
  const std::string text = Python(command);
  std::map<std::string, std::string> read;
  std::string* current = nullptr;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with('\x1c')) {
      current = &read[line.substr(1)];
    } else if (current) {
      *current += line + "\n";
    }
  }
  for (const std::string& item : items) read.try_emplace(item, text);
  return read;
}

// The data rows of each workbook of `books`, laid out by the template
// `tmpl`, by workbook.
inline std::map<std::string, std::string> DataRowsOf(const std::string& tmpl,
                                                     const std::vector<std::string>& books) {
  return ByItem("rows " + Quoted(tmpl), books);
}

// The data rows of the workbook at `book`, laid out by the template `tmpl`.
inline std::string DataRows(const std::string& tmpl, const std::string& book) {
  return DataRowsOf(tmpl, {book})[book];
}

// Every sheet of a split workbook: "= name", then its data rows.
inline std::string SplitRows(const std::string& tmpl, const std::string& book,
                             const std::string& sheet) {
  return Python("split " + Quoted(tmpl) + " " + Quoted(book) + " " + Quoted(sheet));
}

// The field rows of the sheets `sheets` of the template `tmpl`, joined by
// ',', by sheet.
inline std::map<std::string, std::string> FieldRowsOf(const std::string& tmpl,
                                                      const std::vector<std::string>& sheets) {
  std::map<std::string, std::string> fields = ByItem("fields " + Quoted(tmpl), sheets);
  for (auto& [sheet, row] : fields) {
    while (!row.empty() && row.back() == '\n') row.pop_back();
  }
  return fields;
}

// The field row of the sheet `sheet` of the template `tmpl`, joined by ','.
inline std::string FieldRow(const std::string& tmpl, const std::string& sheet) {
  return FieldRowsOf(tmpl, {sheet})[sheet];
}

}  // namespace landstat::report
