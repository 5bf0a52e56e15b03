#pragma once

#include <string>
#include <vector>

#include "platform/db/sql_quote.h"
#include "platform/db/value.h"
#include "platform/host/input_checks.h"

namespace landstat::report {

// Looks the report `name` up in the catalogue at `path`: the first "Row"
// whose "表格名称" equals it gives `stat_tbl` and `short_name`. Returns 1
// when found, 0 otherwise (the out-strings untouched). The file is read on
// every call.
short LookupReportCatalog(const std::string& path, std::string& stat_tbl, std::string& short_name,
                          const std::string& name);

// Every report name of the catalogue at `path`, in its order; empty when the
// file cannot be read or lists none (`error` says which).
std::vector<std::string> ReportCatalogNames(const std::string& path, std::string& error);

// `file` in `folder`, joined with one '/' whether the folder ends in a
// separator or not.
std::string JoinOutputPath(const std::string& folder, const std::string& file);

// The file name of a report's workbook: the `year` of the statistics,
// `prefix` (the region code, or what the writer puts in its place) and the
// catalogue's short name, then, each after a '_', the unit of its figures,
// the output level when one was chosen and "权属单位" when the tables are
// read by ownership. A print of another year, unit, level or statistics type
// writes beside the workbooks of an earlier one, never over them.
std::string ReportFileName(const std::string& year, const std::string& prefix,
                           const std::string& short_name, const std::string& unit_text,
                           const std::string& output_level, const std::string& statistics_type);

// The template variants: the four-variant set differs by paging and unit
// (mu or not), the two-variant set by paging alone.
enum class VariantSet { kFour, kTwo };
// The workbook a report is copied from: the template path itself, or its
// stem (the path less ".xlsx") + "(亩).xlsx", "(不分页).xlsx" or
// "(亩不分页).xlsx".
std::string TemplateVariant(const std::string& template_path, VariantSet set, bool paged,
                            short unit);

// A report's query: SQL text with '?' marks and the values bound to them,
// so no region code or filter text ever goes into the text.
struct ReportQuery {
  std::string sql;
  std::vector<db::Value> params;
  std::string table;  // the stored table read, for messages
};

// The checks of the names a catalogue gives (sql_quote.h, input_checks.h).
using db::PlainTableName;
using host::PlainFileName;

// A new empty file in `folder`, hidden, that no other writer has (made
// with O_EXCL, so no link there is followed, readable by its owner only):
// a workbook is filled under it and renamed into place once saved, so an
// earlier workbook is replaced only by a complete one. Raises
// std::runtime_error naming the folder when none can be made.
std::string WorkCopyName(const std::string& folder);

}  // namespace landstat::report
