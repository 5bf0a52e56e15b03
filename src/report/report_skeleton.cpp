// The steps every report writer shares: the catalogue, the output path, the
// template variant, the copy, the header pairs, the query, the fill and the
// save.

#include "report/report_skeleton.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "engine/stat_config.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/xml_file.h"
#include "platform/sheet/sheet_rows.h"
#include "platform/text/text_encoding.h"
#include "report/writer_plan.h"

namespace landstat::report {

namespace fs = std::filesystem;

short LookupReportCatalog(const std::string& path, std::string& stat_tbl, std::string& short_name,
                          const std::string& name) {
  pugi::xml_document document;
  if (!host::LoadXmlFile(document, path)) return 0;
  for (pugi::xml_node row : document.document_element().children("Row")) {
    if (name != row.attribute("表格名称").as_string()) continue;
    stat_tbl = row.attribute("statTbl").as_string();
    short_name = row.attribute("shortName").as_string();
    return 1;
  }
  return 0;
}

std::vector<std::string> ReportCatalogNames(const std::string& path, std::string& error) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = host::LoadXmlFile(document, path);
  if (!parsed) {
    error = "cannot read the report catalogue " + path + ": " + parsed.description();
    return {};
  }
  std::vector<std::string> names;
  for (pugi::xml_node row : document.document_element().children("Row")) {
    names.push_back(row.attribute("表格名称").as_string());
  }
  if (names.empty()) error = "the report catalogue " + path + " lists no report";
  return names;
}

std::string JoinOutputPath(const std::string& folder, const std::string& file) {
  if (folder.empty() || folder.back() == '/') return folder + file;
  return folder + "/" + file;
}

std::string ReportFileName(const std::string& year, const std::string& prefix,
                           const std::string& short_name, const std::string& unit_text,
                           const std::string& output_level, const std::string& statistics_type) {
  std::string name = year + prefix + short_name + "_" + unit_text;
  if (!output_level.empty()) name += "_" + output_level;
  if (statistics_type == kByOwnership) name += "_" + statistics_type;
  return name + ".xlsx";
}

std::string TemplateVariant(const std::string& template_path, VariantSet set, bool paged,
                            short unit) {
  if (paged && (set == VariantSet::kTwo || unit != kMu)) return template_path;
  constexpr std::string_view kExtension = ".xlsx";
  std::string stem = template_path;
  if (stem.size() >= kExtension.size() &&
      stem.compare(stem.size() - kExtension.size(), kExtension.size(), kExtension) == 0) {
    stem.resize(stem.size() - kExtension.size());
  }
  const bool mu = set == VariantSet::kFour && unit == kMu;
  if (paged) return stem + "(亩).xlsx";
  return stem + (mu ? "(亩不分页).xlsx" : "(不分页).xlsx");
}

std::string VillageHeading(const ReportSettings& settings, const std::string& village_code) {
  constexpr std::size_t kTownshipCodeLength = 9;
  return settings.GetCodeName(village_code.substr(0, kCountyCodeLength)) +
         settings.GetCodeName(village_code.substr(0, kTownshipCodeLength)) +
         settings.GetCodeName(village_code);
}

std::string RegionHeading(const ReportSettings& settings, const std::string& region_code) {
  const auto named = [&](const std::string& code) {
    const std::string name = settings.GetCodeName(code);
    return name.empty() ? code : name;
  };
  if (region_code.size() <= kCountyCodeLength) return named(region_code);
  return named(region_code.substr(0, kCountyCodeLength)) + " " + named(region_code);
}

int UnitDecimals(short unit) {
  const ConfiguredUnits configured = ReadConfiguredUnits();
  for (int i = 0; i < 3; ++i) {
    if (configured.units[i] == unit) return configured.decimals[i];
  }
  return -1;
}

int ConvertedDecimals(short unit) {
  const int decimals = UnitDecimals(unit);
  return decimals >= 0 ? decimals : 2;
}

long CPrintStatDlg::Failures() const {
  long failures = 0;
  for (const ReportOutcome& outcome : outcomes_) failures += outcome.Written() ? 0 : 1;
  return failures;
}

short CPrintStatDlg::Refuse(const std::string& report_name, const std::string& message) {
  host::AfxMessageBox(message);
  outcomes_.push_back({report_name, {}, message});
  return 0;
}

namespace {

// The most UTF-16 units a cell's text may hold.
constexpr std::size_t kCellUnits = 32767;

// What stops a report before anything is written, said as it stands.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A header value longer than a cell holds is refused, named.
void CheckHeaderValue(const sheet::SWhiteParam& pair) {
  const std::size_t units = text::Utf16Units(pair.value);
  if (units > kCellUnits) {
    throw Refusal("the header value of {" + pair.key + "} has " + std::to_string(units) +
                  " characters, more than the " + std::to_string(kCellUnits) + " a cell holds");
  }
}

// Removes the unfilled copy, so that nothing looking like a report stays
// behind; says so when even that fails.
std::string Discard(const std::string& path) {
  std::error_code error;
  if (path.empty()) return {};
  fs::remove(path, error);
  return error ? "; the unfilled copy " + path + " could not be removed: " + error.message() : "";
}

}  // namespace

std::string WorkCopyName(const std::string& folder) {
  std::string name = JoinOutputPath(folder, ".landstat-report-XXXXXX.xlsx");
  const int fd = ::mkstemps(name.data(), 5);
  if (fd < 0) {
    throw Refusal("no work copy can be made in " + folder + ": " + std::strerror(errno));
  }
  ::close(fd);
  return name;
}

std::vector<sheet::SWhiteParam> CPrintStatDlg::HeaderPairs(const WriterCall& call,
                                                           const WriterPlan& plan) const {
  std::vector<sheet::SWhiteParam> pairs;
  for (std::size_t i = 0; i < settings_.header_keys.size(); ++i) {
    pairs.push_back({settings_.header_keys[i],
                     i < settings_.header_values.size() ? settings_.header_values[i] : ""});
    if (!plan.unit_text.empty() && pairs.back().key == "单位") pairs.back().value = plan.unit_text;
  }
  pairs.push_back({kRegionKey, RegionHeading(settings_, call.region_code)});
  pairs.insert(pairs.end(), plan.extra_pairs.begin(), plan.extra_pairs.end());
  for (const sheet::SWhiteParam& pair : pairs) CheckHeaderValue(pair);
  return pairs;
}

// The catalogue row, the output path inside the output folder and the
// template variant of a report; Refusal when any of them is wrong.
CPrintStatDlg::ReportFiles CPrintStatDlg::FilesOf(const WriterCall& call,
                                                  const WriterPlan& plan) const {
  const std::string& catalogue = settings_.catalogue_path;
  std::error_code error;
  if (!fs::is_regular_file(catalogue, error)) throw Refusal("no report catalogue " + catalogue);
  ReportFiles files;
  std::string short_name;
  if (LookupReportCatalog(catalogue, files.stat_tbl, short_name, call.report_name) == 0) {
    throw Refusal("the report catalogue " + catalogue +
                  " holds no such report (or is no readable XML)");
  }
  if (!PlainTableName(files.stat_tbl)) {
    throw Refusal("the report catalogue " + catalogue + " gives the table \"" + files.stat_tbl +
                  "\", which is no table name (letters, digits and _ only)");
  }
  const std::string prefix = !plan.file_prefix.empty()  ? plan.file_prefix
                             : plan.without_region_code ? std::string()
                                                        : call.region_code;
  const std::string file =
      ReportFileName(call.names.Year(), prefix, short_name,
                     plan.unit_text.empty() ? UnitText(call.unit) : plan.unit_text,
                     settings_.output_level, settings_.statistics_type);
  if (!PlainFileName(short_name) || !PlainFileName(file)) {
    throw Refusal("the report catalogue " + catalogue + " gives the file name \"" + short_name +
                  "\", which is no plain file name");
  }
  files.source = TemplateVariant(call.template_path, plan.variants, settings_.paged, call.unit);
  if (!fs::is_regular_file(files.source, error)) {
    throw Refusal("no template workbook " + files.source);
  }
  // The output folder is made when missing, as the command line's is.
  const std::string& folder = call.output_folder.empty() ? "." : call.output_folder;
  fs::create_directories(folder, error);
  const fs::path canonical = fs::canonical(folder, error);
  if (error ||
      fs::canonical(fs::path(JoinOutputPath(folder, file)).parent_path(), error) != canonical) {
    throw Refusal("the workbook " + file + " would not lie in the output folder " + folder);
  }
  files.path = JoinOutputPath(call.output_folder, file);
  return files;
}

// Records a written workbook and shows it when asked; a workbook that
// cannot be shown stays written, and the failure counts.
short CPrintStatDlg::Shown(const std::string& name, const std::string& path) {
  try {
    if (settings_.view) sheet::ShowWorkbook(path);
  } catch (const std::exception& failure) {
    return Refuse(name, "report " + name + ": written to " + path +
                            ", but it cannot be shown: " + failure.what());
  }
  outcomes_.push_back({name, path, {}});
  return 1;
}

namespace {

// Runs the plan's clean-up on a failure's path: what it cannot do is added
// to the failure's message.
std::string CleanedUp(const std::function<void()>& cleanup) {
  if (!cleanup) return {};
  try {
    cleanup();
    return {};
  } catch (const std::exception& failure) {
    return std::string("; cleaning up failed as well: ") + failure.what();
  }
}

}  // namespace

short CPrintStatDlg::WriteReport(const WriterCall& call, const WriterPlan& plan) {
  const std::string& name = call.report_name;
  std::string work;  // the copy being filled, under its work name
  std::string table;
  bool progress = false;
  std::function<void()> cleanup;
  if (plan.cleanup) cleanup = [&] { plan.cleanup(call); };
  try {
    const ReportFiles files = FilesOf(call, plan);
    ReportQuery query;
    if (!plan.rows) {
      // The query first: a writer may take header values from the rows.
      query = plan.query(call, files.stat_tbl);
      table = " (table " + query.table + ")";
    }
    const std::vector<sheet::SWhiteParam> pairs = HeaderPairs(call, plan);
    work = WorkCopyName(call.output_folder.empty() ? "." : call.output_folder);
    fs::copy_file(files.source, work, fs::copy_options::overwrite_existing);
    {
      std::unique_ptr<sheet::ScanRows> scanned;
      if (!plan.rows) {
        scanned = std::make_unique<sheet::ScanRows>(call.connection.Scan(query.sql, query.params));
      }
      sheet::SheetRows& rows = plan.rows ? *plan.rows : *scanned;
      host::LindoDlgProgress(name);
      progress = true;
      sheet::BatPrintExcel book(work, files.source);
      book.SetAreaDecimals(UnitDecimals(call.unit));
      book.FillSheet(rows, plan.sheet.empty() ? name : plan.sheet, pairs,
                     settings_.paged ? sheet::Paging::kPaged : sheet::Paging::kUnpaged,
                     sheet::Columns::kByFieldRow);
      book.PrintOut(1, 1);
    }
    if (cleanup) std::exchange(cleanup, nullptr)();
    fs::rename(work, files.path);
    work.clear();
    host::LindoDlgEndProgress();
    return Shown(name, files.path);
  } catch (const std::exception& failure) {
    if (progress) host::LindoDlgEndProgress();
    return Refuse(name, "report " + name + table + ": " + failure.what() + Discard(work) +
                            CleanedUp(cleanup));
  } catch (...) {
    if (progress) host::LindoDlgEndProgress();
    return Refuse(name, "report " + name + table + ": an unknown failure" + Discard(work) +
                            CleanedUp(cleanup));
  }
}

short CPrintStatDlg::WriteSplitReport(const WriterCall& call, const WriterPlan& plan,
                                      const SheetSplit& split) {
  const std::string& name = call.report_name;
  std::vector<std::string> pieces;  // the workbook pieces on disk, under work names
  std::string table;
  bool progress = false;
  const auto discard = [&] {
    std::string said;
    for (const std::string& piece : pieces) said += Discard(piece);
    return said;
  };
  try {
    const ReportFiles files = FilesOf(call, plan);
    std::vector<sheet::SWhiteParam> pairs = HeaderPairs(call, plan);
    pairs.push_back({kVillageKey, {}});
    std::vector<std::string> sheets, codes;
    split.villages(call, sheets, codes);
    if (codes.empty() || sheets.size() != codes.size()) {
      throw Refusal("no village of region " + call.region_code + " has protection blocks");
    }
    const std::string folder = call.output_folder.empty() ? "." : call.output_folder;
    const std::size_t size = split.piece_size > 0 ? split.piece_size : codes.size();
    host::LindoDlgProgress(name);
    progress = true;
    for (std::size_t first = 0; first < codes.size(); first += size) {
      const std::size_t last = std::min(codes.size(), first + size);
      pieces.push_back(WorkCopyName(folder));
      fs::copy_file(files.source, pieces.back(), fs::copy_options::overwrite_existing);
      sheet::BatPrintExcel book(pieces.back(), files.source);
      book.SetAreaDecimals(UnitDecimals(call.unit));
      book.CopyAddModifySheet(name, {sheets.begin() + first, sheets.begin() + last}, 1);
      for (std::size_t i = first; i < last; ++i) {
        if (host::JobCancelled()) throw Refusal("作业已取消");
        pairs.back().value = VillageHeading(settings_, codes[i]);
        CheckHeaderValue(pairs.back());
        const ReportQuery query = split.query(call, files.stat_tbl, codes[i]);
        table = " (table " + query.table + ")";
        sheet::ScanRows rows(call.connection.Scan(query.sql, query.params));
        book.FillSheet(rows, sheets[i], pairs,
                       settings_.paged ? sheet::Paging::kPaged : sheet::Paging::kUnpaged,
                       sheet::Columns::kByFieldRow);
      }
      book.PrintOut(1, 1);
    }
    // The later pieces merged into the first, each removed once merged.
    while (pieces.size() > 1) {
      sheet::MergeExcelEx(pieces.front(), pieces[1]);
      fs::remove(pieces[1]);
      pieces.erase(pieces.begin() + 1);
    }
    fs::rename(pieces.front(), files.path);
    pieces.clear();
    host::LindoDlgEndProgress();
    return Shown(name, files.path);
  } catch (const std::exception& failure) {
    if (progress) host::LindoDlgEndProgress();
    return Refuse(name, "report " + name + table + ": " + failure.what() + discard());
  } catch (...) {
    if (progress) host::LindoDlgEndProgress();
    return Refuse(name, "report " + name + table + ": an unknown failure" + discard());
  }
}

}  // namespace landstat::report
