// The steps every report writer shares: the catalogue, the output path, the
// template variant, the copy, the header pairs, the query, the fill and the
// save.

#include "report/report_skeleton.h"

#include <filesystem>
#include <pugixml.hpp>
#include <system_error>

#include "engine/stat_config.h"
#include "platform/db/db_error.h"
#include "platform/host/notifier.h"
#include "platform/host/progress.h"
#include "platform/host/xml_file.h"
#include "platform/sheet/sheet_rows.h"
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

std::string UnitTable(const TableNames& names, short unit, const std::string& base) {
  const std::string prefix = UnitPrefix(unit);
  if (prefix.empty()) return {};
  return names.IsServer() ? names.Plain(prefix + base) : prefix + base;
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

// Removes a copied workbook that was not filled, so that nothing looking
// like a report stays behind; says so when even that fails.
std::string Discard(const std::string& path) {
  std::error_code error;
  fs::remove(path, error);
  return error ? "; the unfilled copy " + path + " could not be removed: " + error.message() : "";
}

}  // namespace

short CPrintStatDlg::WriteReport(const WriterCall& call, const WriterPlan& plan) {
  const std::string& name = call.report_name;
  const std::string& catalogue = settings_.catalogue_path;
  std::error_code error;
  if (!fs::is_regular_file(catalogue, error)) {
    return Refuse(name, "report " + name + ": no report catalogue " + catalogue);
  }
  std::string stat_tbl, short_name;
  if (LookupReportCatalog(catalogue, stat_tbl, short_name, name) == 0) {
    return Refuse(name, "report " + name + ": the report catalogue " + catalogue +
                            " holds no such report (or is no readable XML)");
  }
  const std::string file =
      (plan.without_region_code ? "" : call.region_code) + short_name + ".xlsx";
  const std::string path = JoinOutputPath(call.output_folder, file);
  const std::string source =
      TemplateVariant(call.template_path, plan.variants, settings_.paged, call.unit);
  if (!fs::is_regular_file(source, error)) {
    return Refuse(name, "report " + name + ": no template workbook " + source);
  }
  // The output folder is made when missing, as the command line's is.
  if (!call.output_folder.empty()) fs::create_directories(call.output_folder, error);
  if (!fs::copy_file(source, path, fs::copy_options::overwrite_existing, error)) {
    return Refuse(name, "report " + name + ": cannot copy " + source + " to " + path + ": " +
                            error.message());
  }

  std::vector<sheet::SWhiteParam> pairs;
  for (std::size_t i = 0; i < settings_.header_keys.size(); ++i) {
    pairs.push_back({settings_.header_keys[i],
                     i < settings_.header_values.size() ? settings_.header_values[i] : ""});
  }
  pairs.push_back({kRegionKey, RegionHeading(settings_, call.region_code)});
  pairs.insert(pairs.end(), plan.extra_pairs.begin(), plan.extra_pairs.end());

  std::unique_ptr<sheet::SheetRows> rows;
  try {
    const ReportQuery query = plan.query(call, stat_tbl);
    rows = std::make_unique<sheet::ScanRows>(call.connection.Scan(query.sql, query.params));
  } catch (const db::DbError& failure) {
    return Refuse(name, "report " + name + ": " + failure.what() + Discard(path));
  }
  host::LindoDlgProgress(name);
  const auto failed = [&](const std::exception& failure) {
    host::LindoDlgEndProgress();
    return Refuse(name, "report " + name + ": " + failure.what() + Discard(path));
  };
  try {
    sheet::BatPrintExcel book(path);
    book.SetAreaDecimals(UnitDecimals(call.unit));
    book.FillSheet(*rows, name, pairs,
                   settings_.paged ? sheet::Paging::kPaged : sheet::Paging::kUnpaged);
    book.PrintOut(settings_.view ? 0 : 1, 1);
  } catch (const sheet::SheetError& failure) {
    // More rows than a sheet holds, a template without the report's sheet.
    return failed(failure);
  } catch (const db::DbError& failure) {
    // A value that cannot be read while the rows are written.
    return failed(failure);
  }
  host::LindoDlgEndProgress();
  outcomes_.push_back({name, path, {}});
  return 1;
}

}  // namespace landstat::report
