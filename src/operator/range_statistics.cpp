#include "operator/range_statistics.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/database_helpers.h"
#include "engine/stat_context.h"
#include "lots/zd_stat_context.h"
#include "operator/range_run.h"
#include "operator/range_stages.h"
#include "platform/db/backend.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"
#include "platform/host/host_settings.h"
#include "platform/host/ini_file.h"
#include "platform/host/progress.h"
#include "platform/host/trace.h"
#include "platform/text/ascii_text.h"

namespace landstat {

const char* const kRangeDatabaseName = "RangeStat.sqlite";
const char* const kRangeCodeFileName = "CODE.WB";
const char* const kRangeLogName = "RangeStatLog.txt";

namespace {

// A create step and the fill that follows it when the create returned more
// than 0; a failed pair does not stop the run. The builders log their own
// failures; a step that failed without a word is logged here, so that the
// run counts it.
template <typename Context>
struct Pair {
  const char* table;
  short (*create)(Context&);
  short (*fill)(Context&);
};

template <typename Context>
void RunPair(Context& context, const Pair<Context>& pair, std::set<std::string>& made) {
  // Left out of the run: a layer lacks a field its tables need (logged).
  if (context.m_setLeftOutFamilies.count(pair.table)) return;
  const int logged = context.m_nErrCount;
  if (pair.create(context) <= 0) {
    if (context.m_nErrCount == logged) context.LogFailure(pair.table, "建表失败");
    return;
  }
  made.insert(pair.table);
  if (pair.fill(context) <= 0 && context.m_nErrCount == logged) {
    context.LogFailure(pair.table, "汇总失败");
  }
  host::yDebugTime(pair.table);
  // A safe point: a lost database or the operator's cancel ends the run.
  context.EndIfStopped(pair.table);
}

using LandPair = Pair<CStatContext>;
using TownPair = Pair<CZdStatContext>;

// The fills of the general context log their own failures, as the
// general run relies on; their result is not read (they give 1 here).
const LandPair kQsdmb = {"QSDMB", [](CStatContext& c) { return c.CreateQsdmbTable(); },
                         [](CStatContext& c) -> short {
                           c.FillQsdmbTable();
                           return 1;
                         }};

// The land-use summary pairs in the order of the full run.
const LandPair kLandPairs[] = {
    kQsdmb,
    {"NCTDLY_YJFL", [](CStatContext& c) { return c.CreateNcTdlyYjflTables(); },
     [](CStatContext& c) -> short {
       c.StatNcTdlyClass(1);
       return 1;
     }},
    {"NCTDLY_EJFL", [](CStatContext& c) { return c.CreateNcTdlyEjflTables(); },
     [](CStatContext& c) -> short {
       c.StatNcTdlyClass(2);
       return 1;
     }},
    {"NCTDLY_SJFL", [](CStatContext& c) { return c.CreateNcTdlySjflTables(); },
     [](CStatContext& c) -> short {
       c.StatNcTdlySjfl();
       return 1;
     }},
    {"TDLY_YJFL", [](CStatContext& c) { return c.CreateTdlyYjflTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlyClass(1);
       return 1;
     }},
    {"TDLY_EJFL", [](CStatContext& c) { return c.CreateTdlyEjflTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlyClass(2);
       return 1;
     }},
    {"TDLY_SJFL", [](CStatContext& c) { return c.CreateTdlySjflTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlySjfl();
       return 1;
     }},
    {"NCTDLY_QSYJFL", [](CStatContext& c) { return c.CreateNcTdlyQsYjflTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlyQsYjfl(1);
       return 1;
     }},
    {"TDLY_QSYJFL", [](CStatContext& c) { return c.CreateTdlyQsYjflTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlyQsYjfl(0);
       return 1;
     }},
    // The ownership code table, then the third-level ownership table when
    // the code table was made (its result is non-zero then).
    {"NCTDLYQS",
     [](CStatContext& c) { return static_cast<short>(c.CreateNcTdlyQsSjflTables() != 0 ? 1 : 0); },
     [](CStatContext& c) -> short {
       c.StatNcTdlyQsSjfl();
       return 1;
     }},
    {"FRDTDLY_YJFL", [](CStatContext& c) { return c.CreateFrdTdlyYjflTables(); },
     [](CStatContext& c) -> short {
       c.StatFrdTdly(1);
       return 1;
     }},
    {"FRDTDLY_EJFL", [](CStatContext& c) { return c.CreateFrdTdlyEjflTables(); },
     [](CStatContext& c) -> short {
       c.StatFrdTdly(2);
       return 1;
     }},
    {"GDPDMJHZ", [](CStatContext& c) { return c.CreateGdPdMjHzTables(); },
     [](CStatContext& c) -> short {
       c.StatGdPdMjHz();
       return 1;
     }},
    {"TDLYTZ", [](CStatContext& c) { return c.CreateTdlyTzTables(); },
     [](CStatContext& c) -> short {
       c.StatTdlyTz();
       return 1;
     }},
    {"KTZ", [](CStatContext& c) { return c.CreateKtzTables(); },
     [](CStatContext& c) -> short {
       c.StatKtz();
       return 1;
     }},
};

const LandPair* LandPairOf(std::string_view table) {
  for (const LandPair& pair : kLandPairs) {
    if (table == pair.table) return &pair;
  }
  return nullptr;
}

// The land-use reports by title, in the order they are compared; every
// row that matches runs its pair. Titles match exactly, except the ledger,
// which every title containing its words asks for.
struct TitleRow {
  const char* title;
  const char* table;
  bool contains = false;
};
const TitleRow kLandTitles[] = {
    {"土地利用现状一级分类面积汇总表", "TDLY_YJFL"},
    {"土地利用现状二级分类面积汇总表", "TDLY_EJFL"},
    {"飞入地一级分类面积汇总表", "FRDTDLY_YJFL"},
    {"飞入地二级分类面积汇总表", "FRDTDLY_EJFL"},
    {"农村土地利用现状一级分类面积汇总表", "NCTDLY_YJFL"},
    {"农村土地利用现状二级分类面积汇总表", "NCTDLY_EJFL"},
    {"土地分类面积汇总表", "NCTDLY_EJFL"},
    {"农村土地利用现状三级分类面积汇总表", "NCTDLY_SJFL"},
    {"农村土地利用现状一级分类面积按权属性质汇总表", "NCTDLY_QSYJFL"},
    {"耕地坡度分级面积汇总表", "GDPDMJHZ"},
    {"土地利用台帐", "TDLYTZ", true},
    {"农村土地利用现状二级分类面积按权属性质汇总表", "NCTDLYQS"},
    {"农村土地利用现状三级分类面积按权属性质汇总表", "NCTDLYQS"},
    {"可调整地类面积汇总表", "KTZ"},
};

bool Matches(const TitleRow& row, const std::string& title) {
  return row.contains ? title.find(row.title) != std::string::npos : title == row.title;
}

// The base data of a land-use range: false at the first step that failed,
// or when its pieces lie in another county than the range's.
bool BuildLandBase(CStatContext& context, std::set<std::string>& made) {
  if (context.CreateStatDataTable() <= 0) return false;
  made.insert("statdata");
  const bool built =
      context.BuildStatDataDirect() > 0 && context.PiecesLieInCounty(context.m_strStatTbl);
  host::yDebugTime("statdata");
  return built && context.CreateUnitStatTables() > 0 && context.FillUnitStatTables() > 0;
}

const TownPair kTownPairs[] = {
    {"CZTDLY_YJFLZD", [](CZdStatContext& c) { return c.CreateYjflzdTables(); },
     [](CZdStatContext& c) { return c.SumYjflzd(); }},
    {"CZTDLY_EJFLZD", [](CZdStatContext& c) { return c.CreateEjflzdTables(); },
     [](CZdStatContext& c) { return c.SumEjflzd(); }},
    {"CZTDLY_SYQZD", [](CZdStatContext& c) { return c.CreateSyqzdTables(); },
     [](CZdStatContext& c) { return c.SumSyqzd(); }},
    {"CZZDMJHZ", [](CZdStatContext& c) { return c.CreateZdmjhzTables(); },
     [](CZdStatContext& c) { return c.SumZdmjhz(); }},
    // The intensity table reads the land-use base table of the range.
    {"CZTDLY_QDDC", [](CZdStatContext& c) { return c.CreateQddcTables(); },
     [](CZdStatContext& c) { return c.SumQddc(); }},
    {"CZFWXXTJ", [](CZdStatContext& c) { return c.CreateFwxxtjTables(); },
     [](CZdStatContext& c) { return c.SumFwxxtj(); }},
};
constexpr std::size_t kIntensityPair = 4;

const char* const kTownTitles[] = {
    "城镇土地调查土地利用一级分类面积(宗地)",
    "城镇土地调查土地利用二级分类面积(宗地)",
    "城镇土地面积使用权类型汇总表",
    "城镇宗地面积汇总表",
    "城镇土地利用强度调查表",
    "城镇房屋信息汇总表",
};
constexpr const char* kLotInfoTitle = "宗地信息表";
constexpr const char* kHouseInfoTitle = "房屋信息表";

// The intensity table reads the land-use base table: without one (no
// parcel layer, a refused repair) it is not built, and that is logged.
void RunTownPair(CZdStatContext& context, std::size_t index, const std::function<void()>& land_use,
                 std::set<std::string>& made) {
  if (index == kIntensityPair && !context.IsTableExist("statdata")) {
    land_use();
    if (!context.IsTableExist("statdata")) {
      context.LogFailure(kTownPairs[index].table, "范围没有土地利用基础表 statdata, 不生成此表");
      return;
    }
  }
  RunPair(context, kTownPairs[index], made);
}

// --- the lot and house information ---

// What the two copies differ in.
struct InfoCopy {
  const char* table;
  const char* source_table;
  const char* key;          // in the layer and the source
  const char* house_field;  // matched as well where both carry it; null: none
  const char* create;       // the table's columns
};
const InfoCopy kLotInfo = {"ZDXX", "approve", "地籍号", nullptr,
                           "(地籍号 varchar(20),宗地面积 double,土地使用者 varchar(255),土地座落 "
                           "varchar(255),土地证号 varchar(60),使用权面积 double)"};
const InfoCopy kHouseInfo = {
    "FWXX", "FW_QLR", "隶属宗地", "房屋编号",
    "(隶属宗地 varchar(20),房屋编号 varchar(10) ,建筑单元 varchar(20),土地座落 "
    "varchar(255),建筑面积 double,使用权面积 double ,权利人 varchar(128),房产证编号 "
    "varchar(60),土地证号  varchar(60))"};

// LIKE as the file engine read it: "%" any run of characters, "_" any one
// character (of UTF-8), letters compared without regard to ASCII case.
bool LikeMatches(std::string_view pattern, std::string_view text) {
  const auto char_length = [](unsigned char lead) -> std::size_t {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  };
  std::size_t p = 0, t = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '%') {
      star = ++p;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == '_') {
      ++p;
      t += char_length(static_cast<unsigned char>(text[t]));
    } else if (p < pattern.size() && text::IEquals(pattern.substr(p, 1), text.substr(t, 1))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star;
      resume += char_length(static_cast<unsigned char>(text[resume]));
      t = resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size() && t <= text.size();
}

// The source table read once, its rows in the order read, with the rows of
// each key (in lower ASCII case) for the keys that hold no wildcard.
class SourceRows {
 public:
  SourceRows(db::Connection& source, const InfoCopy& copy) {
    std::unique_ptr<db::RowSource> rows =
        source.Scan(std::string("select * from ") + copy.source_table);
    const std::vector<db::ColumnInfo>& columns = rows->Columns();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      column_of_.emplace(text::ToLowerAscii(columns[i].name), static_cast<int>(i));
    }
    key_ = Column(copy.key);
    house_ = copy.house_field ? Column(copy.house_field) : -1;
    if (key_ < 0) {
      throw db::DbError(std::string(copy.source_table) + " has no column " + copy.key);
    }
    std::vector<db::Value> row;
    while (rows->Fetch(row)) {
      by_key_[text::ToLowerAscii(row[key_].AsText())].push_back(rows_.size());
      rows_.push_back(row);
    }
  }

  // The place of a column by name, -1 when the source has none.
  int Column(const std::string& name) const {
    const auto found = column_of_.find(text::ToLowerAscii(name));
    return found == column_of_.end() ? -1 : found->second;
  }

  // The row a layer record takes: the first whose key matches `key` (a LIKE
  // pattern) and, when the record and the source both carry a house
  // number, whose house number is the record's; else the first of the lot
  // whose house number is empty. Null when none matches.
  const std::vector<db::Value>* Find(const std::string& key, const std::string& house) const {
    const bool wildcard = key.find_first_of("%_") != std::string::npos;
    std::vector<std::size_t> matched;
    if (wildcard) {
      for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (LikeMatches(key, rows_[i][key_].AsText())) matched.push_back(i);
      }
    } else if (const auto found = by_key_.find(text::ToLowerAscii(key)); found != by_key_.end()) {
      matched = found->second;
    }
    if (matched.empty()) return nullptr;
    if (house.empty() || house_ < 0) return &rows_[matched.front()];
    for (std::size_t i : matched) {
      if (rows_[i][house_].AsText() == house) return &rows_[i];
    }
    for (std::size_t i : matched) {
      if (rows_[i][house_].AsText().empty()) return &rows_[i];
    }
    return nullptr;
  }

 private:
  std::unordered_map<std::string, int> column_of_;
  std::unordered_map<std::string, std::vector<std::size_t>> by_key_;
  std::vector<std::vector<db::Value>> rows_;
  int key_ = -1, house_ = -1;
};

// Mended: the layer's key is matched as a value against the rows read
// (with the LIKE meaning of "_" and "%" kept), never spliced into a
// statement, so a quote in a key no longer breaks the search; and a house
// takes the row of its own house number where the record and the source
// both carry one, not the first row of its lot.
short CopyInfo(const InfoCopy& copy, short layer, db::Connection* range, db::Connection* source) {
  if (layer <= 0 || !range || !source || !range->IsOpen() || !source->IsOpen()) return 0;
  try {
    if (IsTblExist(*range, copy.table)) DeleteTbl(*range, copy.table);
    const SourceRows rows(*source, copy);
    range->Execute(std::string("create table ") + copy.table + copy.create);
    const long count = gis::RecordCount(layer, gis::EntityKind::kRegion);
    if (count <= 0) return 0;
    // The target's columns with their places in the source.
    std::vector<std::pair<std::string, int>> shared;
    for (const db::ColumnInfo& column : range->Columns(copy.table)) {
      const int place = rows.Column(column.name);
      if (place >= 0) shared.emplace_back(column.name, place);
    }
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (!gis::ReadRecord(layer, gis::EntityKind::kRegion, number, record)) continue;
      const std::vector<db::Value>* row = rows.Find(
          record.Text(copy.key), copy.house_field ? record.Text(copy.house_field) : std::string());
      if (!row) continue;
      std::string names, marks;
      std::vector<db::Value> values;
      for (const auto& [name, place] : shared) {
        const db::Value& value = (*row)[place];
        if (value.IsNull() || value.AsText().empty()) continue;
        names += (names.empty() ? "" : ",") + name;
        marks += marks.empty() ? "?" : ",?";
        values.push_back(value);
      }
      if (values.empty()) {
        range->Execute(std::string("insert into ") + copy.table + " default values");
      } else {
        range->Execute(
            std::string("insert into ") + copy.table + " (" + names + ") values (" + marks + ")",
            values);
      }
    }
  } catch (const db::DbError& error) {
    host::yDebugStr(std::string(copy.table) + ": " + error.what());
    return 0;
  } catch (const gis::GisError& error) {
    host::yDebugStr(std::string(copy.table) + ": " + error.what());
    return 0;
  }
  return 1;
}

}  // namespace

bool TownTitleReadsLandUse(const std::string& title) {
  return title == kTownTitles[kIntensityPair];
}

RangeKind RangeKindOfTitle(const std::string& title) {
  return IsRangeTitle(RangeKind::kTownLots, title) ? RangeKind::kTownLots : RangeKind::kLandUse;
}

bool IsRangeTitle(RangeKind kind, const std::string& title) {
  switch (kind) {
    case RangeKind::kLandUse:
      return std::any_of(std::begin(kLandTitles), std::end(kLandTitles),
                         [&](const TitleRow& row) { return Matches(row, title); });
    case RangeKind::kTownLots:
      return title == kLotInfoTitle || title == kHouseInfoTitle ||
             std::find(std::begin(kTownTitles), std::end(kTownTitles), title) !=
                 std::end(kTownTitles);
    case RangeKind::kFarmland:
      break;
  }
  return false;
}

std::vector<std::string> RangeTitles() {
  std::vector<std::string> titles;
  for (const TitleRow& row : kLandTitles) titles.push_back(row.title);
  titles.insert(titles.end(), std::begin(kTownTitles), std::end(kTownTitles));
  titles.push_back(kLotInfoTitle);
  titles.push_back(kHouseInfoTitle);
  return titles;
}

bool BuildLandUseRange(CStatContext& context, const std::optional<std::string>& title,
                       std::set<std::string>& made) {
  if (!title) {
    host::LindoDlgProgress("正在汇总...");
    const bool base = BuildLandBase(context, made);
    if (base) {
      for (const LandPair& pair : kLandPairs) RunPair(context, pair, made);
    }
    host::LindoDlgEndProgress();
    return base;
  }
  if (!context.IsTableExist("statdata")) {
    host::LindoDlgProgress("正在汇总...");
    BuildLandBase(context, made);
    host::LindoDlgEndProgress();
  }
  RunPair(context, kQsdmb, made);
  for (const TitleRow& row : kLandTitles) {
    if (Matches(row, *title)) RunPair(context, *LandPairOf(row.table), made);
  }
  return true;
}

bool BuildFarmlandRange(CStatContext& context, std::set<std::string>& made) {
  static const LandPair kFarmlandPairs[] = {
      {"statdata_jbnt", [](CStatContext& c) { return c.CreateJbntStatTable(); },
       [](CStatContext& c) -> short {
         c.StatJbntBaseData();
         return 1;
       }},
      {"JBNTQKTJ", [](CStatContext& c) { return c.CreateJbntQktjTables(); },
       [](CStatContext& c) -> short {
         c.StatJbntQktj();
         return 1;
       }},
      {"JBNTBHKQKTJ", [](CStatContext& c) { return c.CreateJbntBhkQktjTables(); },
       [](CStatContext& c) -> short {
         c.StatJbntBhkQktj();
         return 1;
       }},
  };
  host::LindoDlgProgressSetText("正在汇总基本农田");
  RunPair(context, kFarmlandPairs[0], made);
  const std::string base = context.Names().Plain("statdata_jbnt");
  if (context.IsTableExist(base) && !context.PiecesLieInCounty(base)) return false;
  for (const LandPair& pair : std::span(kFarmlandPairs).subspan(1)) RunPair(context, pair, made);
  return true;
}

bool BuildTownRange(CZdStatContext& context, const std::optional<std::string>& title,
                    const std::function<void()>& land_use, std::set<std::string>& made) {
  const std::string base = "statdata_czzd";
  if (!title) {
    if (context.CreateStatDataTable() <= 0) return false;
    made.insert(base);
    if (context.FillStatData() <= 0 || context.CreateUnitStatTables() <= 0 ||
        context.BuildUnitStatData() <= 0 || context.CreateAreaUnitTable() <= 0) {
      return false;
    }
    for (std::size_t i = 0; i < std::size(kTownPairs); ++i) {
      RunTownPair(context, i, land_use, made);
    }
    return true;
  }
  if (!context.IsTableExist(base)) {
    // As the full run's first four steps; the area-unit table is not made
    // on this road.
    if (context.CreateStatDataTable() > 0) {
      made.insert(base);
      context.FillStatData();
    }
    if (context.CreateUnitStatTables() > 0) context.BuildUnitStatData();
  }
  for (std::size_t i = 0; i < std::size(kTownTitles); ++i) {
    if (*title == kTownTitles[i]) RunTownPair(context, i, land_use, made);
  }
  return true;
}

void CopyLotAndHouseInfo(CZdStatContext& context, const std::optional<std::string>& title,
                         std::set<std::string>& made) {
  const bool lots = !title || *title == kLotInfoTitle;
  const bool houses = !title || *title == kHouseInfoTitle;
  if (!lots && !houses) return;
  const std::string name = host::_ZRK_GetProfileString("数据源", "名称", "");
  const std::string connection = host::_AdoGetConnectionString(name);
  if (connection.empty()) {
    context.LogNotice("宗地和房屋信息", "没有配置数据源, 不复制宗地和房屋信息");
    return;
  }
  const std::string source_name = "数据源 " + db::DescribeConnection(connection);
  db::Connection source;
  try {
    source.Open(connection);
  } catch (const db::DbError& error) {
    context.LogFailure("宗地和房屋信息", source_name + " 无法连接", error);
    return;
  }
  const struct {
    bool wanted;
    short layer;
    short (*copy)(short, db::Connection*, db::Connection*);
    const char* table;
    const char* source_table;
  } steps[] = {{lots, context.m_aiZd, RangeStatZDInfo, "ZDXX", "approve"},
               {houses, context.m_aiHouse, RangeStatFWInfo, "FWXX", "FW_QLR"}};
  for (const auto& step : steps) {
    if (!step.wanted || step.layer <= 0) continue;
    if (step.copy(step.layer, &context.m_pConn, &source) > 0) {
      made.insert(step.table);
    } else {
      context.LogFailure(
          step.table, std::string("从") + source_name + " 的 " + step.source_table + " 复制失败");
    }
  }
}

short RangeStatZDInfo(short lot_layer, db::Connection* range, db::Connection* source) {
  return CopyInfo(kLotInfo, lot_layer, range, source);
}

short RangeStatFWInfo(short house_layer, db::Connection* range, db::Connection* source) {
  return CopyInfo(kHouseInfo, house_layer, range, source);
}

namespace {

// An export's run; `by_title` takes the report road, also for a title that
// names no report.
short RunExport(const char* project_path, const std::optional<std::string>& title, RangeKind kind,
                gis::RuralCode* codes, const std::string& county) {
  if (!project_path) return 0;
  RangeRequest request;
  request.project = project_path;
  request.kind = kind;
  request.title = title;
  request.codes = codes;
  request.county = county;
  return RunRange(request).Result();
}

}  // namespace

// Mended: a failed base-table stage gave 1, as if the range's tables were
// there; the run now fails (0), the clean-up running as before and the
// range database keeping what an earlier run stored.
short LandUseRangeStat(const char* project_path, gis::RuralCode* codes, const std::string& county) {
  return RunExport(project_path, std::nullopt, RangeKind::kLandUse, codes, county);
}

short LandUseRangeStatByTbl(const char* project_path, const std::string& title,
                            gis::RuralCode* codes, const std::string& county) {
  if (title.empty()) return 0;
  return RunExport(project_path, title, RangeKind::kLandUse, codes, county);
}

short LandJBNTRangeStat(const char* project_path, gis::RuralCode* codes,
                        const std::string& county) {
  return RunExport(project_path, std::nullopt, RangeKind::kFarmland, codes, county);
}

// Mended as LandUseRangeStat: 0 after a failed base-table stage.
short LandCZZDRangeStat(const char* project_path, gis::RuralCode* codes,
                        const std::string& county) {
  return RunExport(project_path, std::nullopt, RangeKind::kTownLots, codes, county);
}

short LandCZZDRangeStatByTbl(const char* project_path, const std::string& title,
                             gis::RuralCode* codes, const std::string& county) {
  return RunExport(project_path, title, RangeKind::kTownLots, codes, county);
}

}  // namespace landstat
