// The town land-use intensity table CZTDLY_QDDC: for each county, street
// and block the building floor area and footprint of its lots set against
// the land area that the general run's land-use table gives the same unit,
// the three ratios and the number of lots with an area.

#include <algorithm>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/rounding.h"
#include "lots/town_intensity_levels.h"
#include "lots/town_summary_family.h"
#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/reads_apart.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_text.h"
#include "platform/host/notifier.h"

namespace landstat {
namespace {

constexpr char kQddc[] = "CZTDLY_QDDC";

// A level: its code and name columns in the lot table, and the code column
// of the land-use table that matches it (a street is a township there, a
// block a village).
struct QddcLevel {
  const char* code;
  const char* name;
  const char* land_code;
};
constexpr QddcLevel kQddcLevels[] = {{"县级代码", "县名称", "县级代码"},
                                     {"街道代码", "街道名称", "乡级代码"},
                                     {"街坊代码", "街坊名称", "村级代码"}};

// What a failed query of the walk logs after its statement; the dated twin
// marks its lines apart.
struct QddcMarkers {
  const char* level;
  const char* land;
};
constexpr QddcMarkers kUnitMarkers = {R"(\\\\\\\111111111111)", "///////////////22222222222222"};
constexpr QddcMarkers kDatedMarkers = {"/////////////////////333333333333333",
                                       "//////////////444444444444444"};

constexpr char kSourceTitle[] = "连接城镇基础数据表";

std::string QddcColumns(const CZdStatContext&) {
  return "XZQDM varchar(19) ,XZQMC varchar(60) ,JCQZMJ double default 0.00,JZZMJ double default "
         "0.00,JZZDZMJ double default 0.00,CZRJL double default 0.00,CZJZRJL double default "
         "0.00,CZJZMD double default 0.00,ZDS int default 0";
}

std::string LevelStatement(const QddcLevel& level, const std::string& lots) {
  const std::string code = level.code, name = level.name;
  return "select " + code + " AS XZQDM," + name +
         " AS XZQMC,sum(建筑面积) AS JZMJ,sum(占地面积) AS ZDMJ from " + lots + " group by " +
         code + "," + name + " order by " + code + "," + name + " ";
}

// The land area of every unit of the three levels: one pass over the
// land-use table for all of them, each code's rows summed in the order the
// table holds them, as a level's grouped query sums them. `grouped`: the
// database sums each code's rows itself and gives one row per code of each
// level, that code alone set, which ReadLandAreas adds as it adds a row;
// the database adds a code's rows in the order the table holds them where
// it hashes the codes and scans from the first page, as the settings of a
// reader of its own make it do (kLandReaders).
std::string LandStatement(const std::string& land, bool grouped = false) {
  std::string columns, sets;
  for (const QddcLevel& level : kQddcLevels) {
    columns += std::string(level.land_code) + ",";
    sets += std::string(sets.empty() ? "(" : ",(") + level.land_code + ")";
  }
  if (!grouped) return "select " + columns + "土地总面积 from " + land;
  return "select " + columns + "sum(土地总面积) from " + land + " group by grouping sets (" + sets +
         ")";
}

using Figures = std::unordered_map<std::string, double>;

std::vector<Figures> ReadLandAreas(db::Connection& conn, const std::string& statement) {
  constexpr int kLevels = static_cast<int>(std::size(kQddcLevels));
  std::vector<Figures> areas(kLevels);
  // The rows of a unit mostly follow one another: its sum is found once for
  // them.
  std::string last_code[kLevels];
  double* last_sum[kLevels] = {};
  std::unique_ptr<db::RowSource> source = conn.Scan(statement);
  while (source->Next()) {
    // A null area adds nothing, as it adds nothing to a sum.
    const bool counted = !source->IsNull(kLevels);
    const double area = counted ? source->Number(kLevels) : 0;
    for (int k = 0; k < kLevels; ++k) {
      if (source->IsNull(k)) continue;
      const std::string_view code = source->Text(k);
      if (!last_sum[k] || code != last_code[k]) {
        last_code[k] = code;
        last_sum[k] = &areas[k][last_code[k]];
      }
      if (counted) *last_sum[k] += area;
    }
  }
  return areas;
}

// The number of a level's lots with an area, by one grouped query.
std::string CountStatement(const QddcLevel& level, const std::string& lots) {
  const std::string code = level.code;
  return "select " + code + " AS XZQDM,count(*) AS ZDS from " + lots +
         " where 宗地总面积>0 group by " + code;
}

using LevelRow = IntensityLevels::Row;
using LevelLots = IntensityLevels::Level;

// The level's rows that have a code and a name, in the statement's order.
std::vector<LevelRow> ReadLevelRows(db::Connection& conn, const std::string& statement) {
  std::vector<LevelRow> rows;
  std::unique_ptr<db::RowSource> source = conn.Scan(statement);
  while (source->Next()) {
    if (source->IsNull(0) || source->IsNull(1)) continue;
    rows.push_back({std::string(source->Text(0)), std::string(source->Text(1)), source->Number(2),
                    source->Number(3)});
  }
  return rows;
}

// A figure per non-null code.
Figures ReadFigures(db::Connection& conn, const std::string& statement) {
  Figures figures;
  std::unique_ptr<db::RowSource> source = conn.Scan(statement);
  while (source->Next()) {
    if (!source->IsNull(0)) figures[std::string(source->Text(0))] = source->Number(1);
  }
  return figures;
}

// Every level's rows and lot counts as its level and count statements give
// them, from one scan of the lot table instead of six statements (on the
// embedded engine each sorts the whole table). The rows of a code and name
// are summed in the order the table holds them, as the statements sum
// them, and come in the order of their texts (bytes, as the embedded engine
// sorts them). Nothing when the scan fails: the statements then say what
// failed.
std::optional<std::vector<LevelLots>> ScanLevels(db::Connection& conn, const std::string& lots) {
  const std::vector<std::string> columns = IntensityLevels::Columns();
  try {
    IntensityLevels levels(columns);
    std::unique_ptr<db::RowSource> source =
        conn.Scan("select " + db::JoinedColumns(columns) + " from " + lots);
    while (source->Next()) levels.Add(*source);
    return levels.Levels();
  } catch (const db::DbError&) {
    return std::nullopt;
  }
}

double Lookup(const Figures& figures, const std::string& code) {
  const auto found = figures.find(code);
  return found == figures.end() ? 0 : found->second;
}

// A ratio rounded to 2 decimals; -1 when its divisor is below 0.0001.
double Ratio(double dividend, double divisor) {
  if (divisor < 0.0001) return -1;
  double ratio = dividend / divisor;
  xcKeepPoint(&ratio, 2);
  return ratio;
}

const std::vector<std::string> kWrittenColumns = {"XZQDM", "XZQMC", "JZZMJ",   "JZZDZMJ", "JCQZMJ",
                                                  "ZDS",   "CZRJL", "CZJZRJL", "CZJZMD"};

// Writes one level's rows; 0 after a logged failure of one of its queries.
// Errors of reading a row or writing one go to the caller. The land areas
// of every level are read by the first level that has rows, into `land`.
// `scanned`, when given, holds the level's rows and counts already read.
short WriteLevel(CZdStatContext& context, db::RowWriter& writer, std::size_t level_index,
                 const TownSources& sources, const QddcMarkers& markers, std::vector<Figures>& land,
                 const LevelLots* scanned) {
  const QddcLevel& level = kQddcLevels[level_index];
  const std::string level_statement = LevelStatement(level, sources.lots);
  std::vector<LevelRow> rows;
  try {
    rows = scanned ? scanned->rows : ReadLevelRows(context.m_pConn, level_statement);
  } catch (const db::DbError& error) {
    context.LogFailure(kSourceTitle, "statdata_czzdex" + level_statement + markers.level, error);
    return 0;
  }
  if (rows.empty()) return 1;
  if (land.empty()) {
    if (std::optional<CZdStatContext::LandAreas> read = context.TakeLandAreas(sources.land)) {
      land = std::move(*read);
    }
  }
  if (land.empty()) {
    const std::string land_statement = LandStatement(sources.land);
    try {
      land = ReadLandAreas(context.m_pConn, land_statement);
    } catch (const db::DbError& error) {
      context.LogFailure(kSourceTitle, "statdataex" + land_statement + markers.land, error);
      return 0;
    }
  }
  const Figures& areas = land[level_index];
  const std::string count_statement = CountStatement(level, sources.lots);
  Figures counts;
  try {
    counts = scanned ? scanned->counts : ReadFigures(context.m_pConn, count_statement);
  } catch (const db::DbError& error) {
    host::AfxMessageBox(error.what());
    context.LogFailure(kSourceTitle, count_statement, error);
    return 0;
  }
  const auto stored = [&sources](double area) {
    return sources.decimals < 0 ? area : RoundToDecimals(area, sources.decimals);
  };
  for (const LevelRow& row : rows) {
    const double area = Lookup(areas, row.code);
    writer.Add({row.code, row.name, stored(row.building), stored(row.footprint), stored(area),
                static_cast<long long>(Lookup(counts, row.code)), Ratio(row.building, area),
                Ratio(row.building, row.footprint), Ratio(row.footprint, area)});
  }
  return 1;
}

// The walk over the three levels into `target`; 1, or 0 after a logged
// failure. Rows written before a failure stay.
short QddcWalk(CZdStatContext& context, const std::string& target, const TownSources& sources,
               const QddcMarkers& markers) {
  std::optional<db::RowWriter> writer;
  try {
    writer.emplace(context.m_pConn, target, kWrittenColumns);
  } catch (const db::DbError& error) {
    context.LogFailure("连接城镇土地利用强度调查表", "连接城镇土地利用强度调查表失败", error);
    return 0;
  }
  short result = 1;
  std::vector<Figures> land;
  // The levels gathered as the lot table was written, else one scan of it.
  std::optional<std::vector<LevelLots>> scanned = context.TakeIntensityLevels(sources);
  if (!scanned) scanned = ScanLevels(context.m_pConn, sources.lots);
  try {
    for (std::size_t level = 0; level < std::size(kQddcLevels); ++level) {
      if (!WriteLevel(context, *writer, level, sources, markers, land,
                      scanned ? &(*scanned)[level] : nullptr)) {
        result = 0;
        break;
      }
    }
  } catch (const db::DbError& error) {
    context.LogFailure("汇总城镇土地利用强度调查表", target + " 汇总失败", error);
    result = 0;
  }
  try {
    writer->Close();
  } catch (const db::DbError& error) {
    context.LogFailure("汇总城镇土地利用强度调查表", target + " 保存失败", error);
    result = 0;
  }
  return result;
}

short QddcFill(CZdStatContext& context, const std::string& target, const TownSources& sources) {
  return QddcWalk(context, target, sources, kUnitMarkers);
}

const TownSummary kQddcFamily = {kQddc, "建立城镇土地利用强度调查表", kQddc, QddcColumns, QddcFill};

// How a reader of its own reads a land-use table, by engine: its settings,
// then its statement (LandStatement). The embedded engine hands over every
// row, read with a small page cache (one pass from start to end reads each
// page once, and keeps the readers' memory down). A server sums each code's
// rows itself and sends a row per code instead of every row: its scan
// starts at the table's first page, as every server session's does (the
// backend sets it), and it hashes the codes rather than sorting the rows (which
// would add a code's rows in another order), so that each code's rows are
// added in the order the table holds them, as they are read one by one.
struct LandReader {
  db::DbKind kind;
  std::vector<const char*> settings;
  bool grouped;
};
const LandReader kLandReaders[] = {
    {db::DbKind::kEmbedded, {"PRAGMA cache_size = -8192"}, false},
    {db::DbKind::kServer, {"SET enable_sort = off", "SET work_mem = '256MB'"}, true}};

const LandReader& LandReaderOf(db::DbKind kind) {
  for (const LandReader& reader : kLandReaders) {
    if (reader.kind == kind) return reader;
  }
  return kLandReaders[0];
}

// The land areas of each of `tables`, each read on a connection of its own
// to `connection`, all at the same time (one after another where the run
// is to use one processor: db::Workers). A table that cannot be read is
// left out.
std::map<std::string, std::vector<Figures>> ReadLandAreasApart(
    const std::string& connection, const std::vector<std::string>& tables) {
  std::vector<std::vector<Figures>> areas(tables.size());
  std::vector<std::exception_ptr> errors(tables.size());
  const auto read = [&](std::size_t i) {
    try {
      db::Connection reader(connection);
      const LandReader& how = LandReaderOf(reader.Kind());
      for (const char* setting : how.settings) reader.Execute(setting);
      areas[i] = ReadLandAreas(reader, LandStatement(tables[i], how.grouped));
    } catch (const db::DbError&) {
      areas[i].clear();
    } catch (...) {
      errors[i] = std::current_exception();
    }
  };
  std::vector<std::thread> readers;
  const bool apart = db::Workers() > 1;  // else each in turn, on this thread
  for (std::size_t i = 0; i < tables.size(); ++i) {
    bool started = false;
    if (apart) {
      try {
        readers.emplace_back(read, i);
        started = true;
      } catch (const std::system_error&) {
        // No thread could be started: read here.
      }
    }
    if (!started) read(i);
  }
  for (std::thread& reader : readers) reader.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  std::map<std::string, std::vector<Figures>> read_areas;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (!areas[i].empty()) read_areas[tables[i]] = std::move(areas[i]);
  }
  return read_areas;
}

}  // namespace

std::vector<std::string> IntensityLevels::Columns() {
  std::vector<std::string> columns;
  for (const QddcLevel& level : kQddcLevels) {
    columns.push_back(level.code);
    columns.push_back(level.name);
  }
  for (const char* figure : {"建筑面积", "占地面积", "宗地总面积"}) columns.push_back(figure);
  return columns;
}

IntensityLevels::IntensityLevels(const std::vector<std::string>& columns)
    : sums_(std::size(kQddcLevels)), counts_(std::size(kQddcLevels)) {
  for (const std::string& read : Columns()) {
    const auto found = std::find(columns.begin(), columns.end(), read);
    if (found == columns.end()) throw db::DbError("no column " + read + " among the lot rows");
    places_.push_back(static_cast<int>(found - columns.begin()));
  }
}

void IntensityLevels::Add(const db::RowSource& row) {
  constexpr std::size_t kFigures = 2 * std::size(kQddcLevels);
  const auto figure = [&](std::size_t i) {
    return row.IsNull(places_[i]) ? 0 : row.Number(places_[i]);
  };
  const double building = figure(kFigures);
  const double footprint = figure(kFigures + 1);
  const bool counted = !row.IsNull(places_[kFigures + 2]) && row.Number(places_[kFigures + 2]) > 0;
  for (std::size_t k = 0; k < std::size(kQddcLevels); ++k) {
    const int code = places_[2 * k], name = places_[2 * k + 1];
    if (row.IsNull(code)) continue;
    if (counted) counts_[k][std::string(row.Text(code))] += 1;
    if (row.IsNull(name)) continue;
    auto& [level_building, level_footprint] =
        sums_[k][{std::string(row.Text(code)), std::string(row.Text(name))}];
    level_building += building;
    level_footprint += footprint;
  }
}

std::vector<IntensityLevels::Level> IntensityLevels::Levels() const {
  std::vector<Level> levels(sums_.size());
  for (std::size_t k = 0; k < sums_.size(); ++k) {
    for (const auto& [key, figures] : sums_[k]) {
      levels[k].rows.push_back({key.first, key.second, figures.first, figures.second});
    }
    levels[k].counts = counts_[k];
  }
  return levels;
}

void CZdStatContext::KeepIntensityLevels(const TownSources& sources,
                                         std::unique_ptr<IntensityLevels> levels) {
  m_intensityLevels[LotTableKey(sources)] = std::move(levels);
}

std::optional<std::vector<IntensityLevels::Level>> CZdStatContext::TakeIntensityLevels(
    const TownSources& sources) {
  const auto kept = m_intensityLevels.find(LotTableKey(sources));
  if (kept == m_intensityLevels.end() || !kept->second) return std::nullopt;
  std::vector<IntensityLevels::Level> levels = kept->second->Levels();
  m_intensityLevels.erase(kept);
  return levels;
}

void CZdStatContext::ReadTownLandAreas(bool alongside) {
  std::vector<std::string> tables;
  for (short unit : WantedUnits()) {
    const std::string land = UnitSources(unit).land;
    if (std::find(tables.begin(), tables.end(), land) == tables.end()) tables.push_back(land);
  }
  auto read = [tables, connection = m_strConnect] {
    return ReadLandAreasApart(connection, tables);
  };
  if (!alongside) {
    m_landAreas = read();
    return;
  }
  try {
    m_landAreasRead = std::async(std::launch::async, std::move(read));
  } catch (const std::system_error&) {
    m_landAreas = read();  // no thread could be started: read here
  }
}

void CZdStatContext::WaitForLandAreas() {
  if (m_landAreasRead.valid()) m_landAreasRead.wait();
}

std::optional<CZdStatContext::LandAreas> CZdStatContext::TakeLandAreas(const std::string& table) {
  if (m_landAreasRead.valid()) m_landAreas = m_landAreasRead.get();
  const auto kept = m_landAreas.find(table);
  if (kept == m_landAreas.end()) return std::nullopt;
  LandAreas areas = std::move(kept->second);
  m_landAreas.erase(kept);
  return areas;
}

short CZdStatContext::CreateQddcTables() {
  return CreateTownTables(kQddcFamily);
}
short CZdStatContext::CreateQddcTable(const std::string& table) {
  return CreateTownTable(kQddcFamily, table);
}
short CZdStatContext::SumQddc() {
  return SumTownTables(kQddcFamily);
}
short CZdStatContext::SumQddcTable(const std::string& target, const std::string& lots,
                                   const std::string& land) {
  return QddcWalk(*this, target, {lots, land}, kUnitMarkers);
}
short CZdStatContext::CreateQddcTableDated() {
  return CreateTownTableDated(kQddcFamily);
}
short CZdStatContext::SumQddcDated() {
  return QddcWalk(*this, DatedTable(kQddc), DatedSources(), kDatedMarkers);
}

}  // namespace landstat
