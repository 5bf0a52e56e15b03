#include "platform/sheet/grid_workbook.h"

#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <list>

#include "platform/sheet/bat_print_excel.h"
#include "platform/sheet/sheet_error.h"

namespace landstat::sheet {
namespace {

constexpr char kSheet[] = "属性浏览";

// A workbook of one sheet whose first row is the data row of an unpaged fill.
constexpr const char* kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>)";
constexpr const char* kRootRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";
constexpr const char* kWorkbook =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="属性浏览" sheetId="1" r:id="rId1"/></sheets></workbook>)";
constexpr const char* kWorkbookRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)";
constexpr const char* kStyles =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/><name val="宋体"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="49" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>)";
constexpr const char* kSheetPart =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" s="1" t="inlineStr"><is><t>{数据}</t></is></c></row></sheetData></worksheet>)";

void WriteTemplate(const std::string& path) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (archive == nullptr) throw SheetError("cannot create the workbook " + path);
  const std::pair<const char*, const char*> parts[] = {
      {"[Content_Types].xml", kContentTypes},
      {"_rels/.rels", kRootRels},
      {"xl/workbook.xml", kWorkbook},
      {"xl/_rels/workbook.xml.rels", kWorkbookRels},
      {"xl/styles.xml", kStyles},
      {"xl/worksheets/sheet1.xml", kSheetPart}};
  for (const auto& [name, text] : parts) {
    zip_source_t* source =
        zip_source_buffer(archive, text, std::char_traits<char>::length(text), 0);
    if (source == nullptr || zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw SheetError("cannot write the workbook " + path);
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw SheetError("cannot write the workbook " + path);
  }
}

// The columns read row by row.
class ColumnRows : public SheetRows {
 public:
  explicit ColumnRows(const std::vector<std::vector<std::string>>& columns) : columns_(columns) {
    for (const auto& column : columns) {
      names_.push_back(column.empty() ? std::string() : column.front());
      rows_ = std::max(rows_, column.size());
    }
  }
  const std::vector<std::string>& ColumnNames() const override { return names_; }
  bool Next(std::vector<db::Value>& row) override {
    if (next_ >= rows_) return false;
    row.clear();
    for (const auto& column : columns_) {
      row.emplace_back(next_ < column.size() ? column[next_] : std::string());
    }
    ++next_;
    return true;
  }

 private:
  const std::vector<std::vector<std::string>>& columns_;
  std::vector<std::string> names_;
  std::size_t rows_ = 0;
  std::size_t next_ = 0;
};

}  // namespace

void PrintComToGrid(const std::vector<std::vector<std::string>>& columns, const std::string& path) {
  try {
    WriteTemplate(path);
    BatPrintExcel book(path);
    ColumnRows rows(columns);
    book.FillSheet(rows, kSheet, {}, Paging::kUnpaged, Columns::kByPosition);
    book.PrintOut(1);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    throw;
  }
}

}  // namespace landstat::sheet
