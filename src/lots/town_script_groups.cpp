#include "lots/town_script_groups.h"

#include <fmt/format.h>

#include <cctype>
#include <map>
#include <optional>
#include <regex>
#include <unordered_map>
#include <utility>

#include "platform/db/backend.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/trace.h"
#include "platform/text/number_text.h"

namespace landstat {

// One column of a grouping: the lots counted, or an expression summed.
struct GroupColumn {
  std::string name;
  bool counted = false;
  std::size_t expression = 0;  // of the summed ones, its place among the script's
};

// One common table expression: its name, the prefix of the lot number its
// groups are of, and its columns after the prefix and the code's name.
struct ScriptGroups::Level {
  std::string name;
  std::string prefix;
  std::string code_column, name_column;
  std::vector<GroupColumn> columns;
  std::string body;  // its select, blanks squeezed
};

namespace {

constexpr char kTablePrefix[] = "landstat_script_groups_";
constexpr char kLotNumber[] = "a.地籍号";

// The text with every run of blanks made one space, and none at its ends.
std::string Squeezed(std::string_view text) {
  std::string squeezed;
  for (const char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!squeezed.empty() && squeezed.back() != ' ') squeezed += ' ';
    } else {
      squeezed += c;
    }
  }
  if (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
  return squeezed;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The places in `text` outside parentheses where `separator` stands; none
// when a quote stands outside parentheses or a parenthesis is not closed.
std::optional<std::vector<std::size_t>> TopLevelPlaces(std::string_view text,
                                                       std::string_view separator) {
  const std::string upper = Upper(text);
  std::vector<std::size_t> places;
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\'' || text[at] == '"') return std::nullopt;
    if (text[at] == '(') {
      at = db::AfterClosing(text, at);
      if (at == std::string_view::npos) return std::nullopt;
      continue;
    }
    if (upper.compare(at, separator.size(), separator) == 0) places.push_back(at);
    ++at;
  }
  return places;
}

// The items of `text` between its top-level commas, each squeezed; none as
// for TopLevelPlaces.
std::optional<std::vector<std::string>> TopLevelItems(std::string_view text) {
  const std::optional<std::vector<std::size_t>> commas = TopLevelPlaces(text, ",");
  if (!commas) return std::nullopt;
  std::vector<std::string> items;
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= commas->size(); ++i) {
    const std::size_t end = i < commas->size() ? (*commas)[i] : text.size();
    items.push_back(Squeezed(text.substr(begin, end - begin)));
    begin = end + 1;
  }
  return items;
}

// "EXPRESSION AS NAME" split in its two parts; none without the AS.
std::optional<std::pair<std::string, std::string>> Named(std::string_view column) {
  const std::optional<std::vector<std::size_t>> as = TopLevelPlaces(column, " AS ");
  if (!as || as->empty()) return std::nullopt;
  return std::pair{std::string(column.substr(0, as->back())),
                   std::string(column.substr(as->back() + 4))};
}

// The expression summed by "SUM(expression)", or none. The code table's
// fields and nested groupings are the statement's to work out.
std::optional<std::string> SummedExpression(const std::string& expression) {
  if (Upper(expression.substr(0, 4)) != "SUM(") return std::nullopt;
  if (db::AfterClosing(expression, 3) != expression.size()) return std::nullopt;
  std::string inner = expression.substr(4, expression.size() - 5);
  static const std::regex kUnsafe(R"((^|[^\w])(b\.|(sum|count|avg|min|max|total)\s*\())",
                                  std::regex::icase);
  if (std::regex_search(inner, kUnsafe)) return std::nullopt;
  return inner;
}

// The text of a level's grouping after its columns, as the script must have
// it for the groups to be made in memory.
std::string GroupingTail(std::string_view source, std::string_view codes,
                         const std::string& prefix) {
  return Squeezed(fmt::format(
      "from {} a, {} b where {}=b.代码 AND a.土地用途 is not null GROUP BY {},b.代码名称", source,
      codes, prefix, prefix));
}

}  // namespace

ScriptGroups::ScriptGroups() = default;

std::unique_ptr<ScriptGroups> ScriptGroups::Parse(std::string_view script, std::string_view source,
                                                  std::string_view codes) {
  std::unique_ptr<ScriptGroups> groups(new ScriptGroups());
  groups->source_ = source;
  groups->codes_ = codes;
  std::map<std::string, std::size_t> places;  // of the summed expressions
  const auto skip_blanks = [&](std::size_t at) {
    while (at < script.size() && std::isspace(static_cast<unsigned char>(script[at]))) ++at;
    return at;
  };
  std::size_t at = skip_blanks(0);
  if (Upper(script.substr(at, 5)) != "WITH ") return nullptr;
  static const std::regex kPrefix(R"(mid\(a\.地籍号,1,\d+\))");
  do {
    at = skip_blanks(at + (script[at] == ',' ? 1 : 5));
    const std::size_t open = script.find('(', at);
    if (open == std::string_view::npos) return nullptr;
    const std::string head = Squeezed(script.substr(at, open - at));
    const std::size_t close = db::AfterClosing(script, open);
    if (close == std::string_view::npos || Upper(head.substr(head.size() - 3)) != " AS") {
      return nullptr;
    }
    Level level;
    level.name = head.substr(0, head.size() - 3);
    level.body = Squeezed(script.substr(open + 1, close - open - 2));
    const std::string& body = level.body;
    const std::optional<std::vector<std::size_t>> from = TopLevelPlaces(body, " FROM ");
    if (Upper(body.substr(0, 7)) != "SELECT " || !from || from->size() != 1) return nullptr;
    const std::string list = body.substr(7, from->front() - 7);
    const std::optional<std::vector<std::string>> items = TopLevelItems(list);
    if (!items || items->size() < 3) return nullptr;
    for (std::size_t i = 0; i < items->size(); ++i) {
      const auto named = Named((*items)[i]);
      if (!named) return nullptr;
      const auto& [expression, name] = *named;
      if (i == 0) {
        if (!std::regex_match(expression, kPrefix)) return nullptr;
        level.prefix = expression;
        level.code_column = name;
      } else if (i == 1) {
        if (expression != "b.代码名称") return nullptr;
        level.name_column = name;
      } else if (Upper(expression) == "COUNT(*)") {
        level.columns.push_back({name, true});
      } else if (const std::optional<std::string> summed = SummedExpression(expression)) {
        const auto [place, added] = places.emplace(*summed, groups->expressions_.size());
        if (added) groups->expressions_.push_back(*summed);
        level.columns.push_back({name, false, place->second});
      } else {
        return nullptr;
      }
    }
    if (body.substr(from->front() + 1) != GroupingTail(source, codes, level.prefix)) {
      return nullptr;
    }
    groups->levels_.push_back(std::move(level));
    at = skip_blanks(close);
  } while (at < script.size() && script[at] == ',');
  if (Upper(script.substr(at, 7)) != "SELECT ") return nullptr;
  groups->tail_ = script.substr(at);
  return groups;
}

namespace {

// A temporary table's name as each engine qualifies it.
std::string Temporary(const db::Connection& connection, const std::string& table) {
  return (connection.Kind() == db::DbKind::kEmbedded ? "temp." : "pg_temp.") + table;
}

}  // namespace

ScriptGroups::~ScriptGroups() {
  for (const std::string& table : tables_) {
    try {
      connection_->Execute("drop table if exists " + Temporary(*connection_, table));
    } catch (const db::DbError& error) {
      // A temporary table goes with the connection anyway.
      host::yDebugStr(error.what());
    }
  }
}

namespace {

// One group of a level: the lots of one code (a prefix of their number)
// joined to one row of the code table with that code.
struct Group {
  std::string code;
  std::optional<std::string> name;
  long long count = 0;
  std::vector<double> sums;
  std::vector<char> summed;  // 1 where a value that is not null was added
};

// The groups of one level, and, per code met, the group of each row of the
// code table with that code (a code of two rows counts its lots twice, as
// the join does).
struct LevelGroups {
  std::vector<Group> groups;
  std::map<std::pair<std::string, std::optional<std::string>>, std::size_t> numbers;
  std::unordered_map<std::string, std::vector<std::size_t>> of_code;
};

using CodeNames = std::unordered_map<std::string, std::vector<std::optional<std::string>>>;

// The code table's names by code, row by row. A code that is not text
// would compare with the lot number by its own rules: DbError.
CodeNames ReadCodeNames(db::Connection& connection, const std::string& codes) {
  CodeNames names;
  const std::unique_ptr<db::RowSource> rows =
      connection.Scan("select b.代码, b.代码名称, typeof(b.代码) from " + codes + " b");
  while (rows->Next()) {
    if (rows->IsNull(0)) continue;
    if (rows->Text(2) != "text") throw db::DbError("code table: a code that is not text");
    std::optional<std::string> name;
    if (!rows->IsNull(1)) name = std::string(rows->Text(1));
    names[std::string(rows->Text(0))].push_back(std::move(name));
  }
  return names;
}

const std::vector<std::size_t>& GroupsOfCode(LevelGroups& level, const CodeNames& names,
                                             std::string_view code, std::size_t sums) {
  const std::string key(code);
  if (const auto found = level.of_code.find(key); found != level.of_code.end()) {
    return found->second;
  }
  std::vector<std::size_t>& groups = level.of_code[key];
  const auto rows = names.find(key);
  if (rows == names.end()) return groups;
  for (const std::optional<std::string>& name : rows->second) {
    const auto [place, added] = level.numbers.emplace(std::pair{key, name}, level.groups.size());
    if (added) {
      level.groups.push_back(
          {key, name, 0, std::vector<double>(sums, 0.0), std::vector<char>(sums, 0)});
    }
    groups.push_back(place->second);
  }
  return groups;
}

// A value a summed expression takes on a lot row: a field the scan reads,
// or a whole number written in the expression.
struct Operand {
  std::optional<std::size_t> field;
  double constant = 0;
};

// A summed expression as it is worked out from the fields the scan reads:
// "iif(condition, chosen, otherwise)" with a comparison for its condition,
// or any other expression, read whole as one field. The scan then reads
// each field once per row (a class area is summed plain and also decides
// four other sums), not every expression. A field is read as the
// expression would be: a field that is no number fails the scan, as the
// expression's own reading of it would (the script's statement then reads
// it).
struct WorkedExpression {
  std::optional<std::size_t> condition;  // true when its field is a number other than 0
  Operand chosen, otherwise;
};

// The fields the scan reads, each once, and how each expression is worked
// out from them.
struct ScanFields {
  std::vector<std::string> fields;
  std::vector<WorkedExpression> expressions;
};

class ScanFieldsMaker {
 public:
  ScanFields Make(const std::vector<std::string>& expressions) {
    for (const std::string& expression : expressions)
      made_.expressions.push_back(Worked(expression));
    return std::move(made_);
  }

 private:
  std::size_t Field(const std::string& expression) {
    const auto [place, added] = places_.emplace(expression, made_.fields.size());
    if (added) made_.fields.push_back(expression);
    return place->second;
  }

  Operand OperandOf(const std::string& expression) {
    static const std::regex kWhole(R"(\d{1,9})");
    if (std::regex_match(expression, kWhole)) return {std::nullopt, std::stod(expression)};
    return {Field(expression), 0};
  }

  WorkedExpression Worked(const std::string& expression) {
    const std::optional<std::vector<std::string>> parts = ChoiceParts(expression);
    // A comparison is 1, 0 or null, whatever the field it compares holds.
    static const std::regex kComparison(R"(a\.[^\s,()<>=!'"]+ ?(>|<|>=|<=|=|<>) ?\d+(\.\d+)?)");
    if (!parts || !std::regex_match((*parts)[0], kComparison)) {
      return {std::nullopt, {Field(expression), 0}, {}};
    }
    return {Field((*parts)[0]), OperandOf((*parts)[1]), OperandOf((*parts)[2])};
  }

  // The three arguments of "iif(...)", or none.
  static std::optional<std::vector<std::string>> ChoiceParts(const std::string& expression) {
    if (Upper(expression.substr(0, 4)) != "IIF(") return std::nullopt;
    if (db::AfterClosing(expression, 3) != expression.size()) return std::nullopt;
    std::optional<std::vector<std::string>> parts =
        TopLevelItems(std::string_view(expression).substr(4, expression.size() - 5));
    if (!parts || parts->size() != 3) return std::nullopt;
    return parts;
  }

  ScanFields made_;
  std::unordered_map<std::string, std::size_t> places_;
};

// The expressions' values on the row whose fields were read: `present` 0
// where the value is null.
void WorkOut(const ScanFields& scan, const std::vector<double>& fields,
             const std::vector<char>& read, std::vector<double>& values,
             std::vector<char>& present) {
  for (std::size_t e = 0; e < scan.expressions.size(); ++e) {
    const WorkedExpression& expression = scan.expressions[e];
    const bool chosen = !expression.condition ||
                        (read[*expression.condition] && fields[*expression.condition] != 0);
    const Operand& operand = chosen ? expression.chosen : expression.otherwise;
    present[e] = operand.field ? read[*operand.field] : 1;
    values[e] = operand.field ? fields[*operand.field] : operand.constant;
  }
}

// Groups the lots of `source` (those with a land use) at every level, in
// one scan in the order of its rows.
std::vector<LevelGroups> GroupLots(db::Connection& connection,
                                   const std::vector<ScriptGroups::Level>& script_levels,
                                   const std::vector<std::string>& expressions,
                                   const std::string& source, const std::string& codes) {
  const CodeNames names = ReadCodeNames(connection, codes);
  std::string scan = "select ";
  for (const ScriptGroups::Level& level : script_levels) scan += level.prefix + ",";
  const ScanFields fields = ScanFieldsMaker().Make(expressions);
  for (const std::string& field : fields.fields) scan += field + ",";
  scan.pop_back();
  scan += " from " + source + " a where a.土地用途 is not null";

  std::vector<LevelGroups> levels(script_levels.size());
  std::vector<double> field_values(fields.fields.size());
  std::vector<char> read(fields.fields.size());
  std::vector<double> values(expressions.size());
  std::vector<char> present(expressions.size());
  const int first_field = static_cast<int>(script_levels.size());
  const std::unique_ptr<db::RowSource> rows = connection.Scan(scan);
  while (rows->Next()) {
    for (std::size_t f = 0; f < fields.fields.size(); ++f) {
      read[f] = rows->NumberUnlessNull(first_field + static_cast<int>(f), field_values[f]);
    }
    WorkOut(fields, field_values, read, values, present);
    for (std::size_t l = 0; l < script_levels.size(); ++l) {
      const int code = static_cast<int>(l);
      if (rows->IsNull(code)) continue;
      const std::vector<GroupColumn>& columns = script_levels[l].columns;
      for (const std::size_t number :
           GroupsOfCode(levels[l], names, rows->Text(code), columns.size())) {
        Group& group = levels[l].groups[number];
        ++group.count;
        // Added in the order of the rows, as the grouping statement adds them.
        for (std::size_t c = 0; c < columns.size(); ++c) {
          if (columns[c].counted || !present[columns[c].expression]) continue;
          group.sums[c] += values[columns[c].expression];
          group.summed[c] = 1;
        }
      }
    }
  }
  return levels;
}

// Writes the groups of a level into `table`, made for them, each sum
// rounded as the script's rounded sum.
void WriteLevel(db::Connection& connection, const std::string& table,
                const ScriptGroups::Level& level, const LevelGroups& groups, int decimals) {
  std::vector<std::string> names = {level.code_column, level.name_column};
  for (const GroupColumn& column : level.columns) names.push_back(column.name);
  db::RowWriter writer(connection, table, names);
  std::vector<db::Value> row(names.size());
  for (const Group& group : groups.groups) {
    row[0] = db::Value(group.code);
    row[1] = group.name ? db::Value(*group.name) : db::Value();
    for (std::size_t c = 0; c < level.columns.size(); ++c) {
      if (level.columns[c].counted) {
        row[c + 2] = db::Value(group.count);
      } else {
        row[c + 2] =
            group.summed[c] ? db::Value(text::RoundDecimal(group.sums[c], decimals)) : db::Value();
      }
    }
    writer.Add(row);
  }
  writer.Close();
}

// The lots grouped by the server into temporary `table`: one group per
// prefix of every level, counted, each summed expression summed, unrounded.
void GroupLotsOnServer(db::Connection& connection, const std::string& table,
                       const std::vector<ScriptGroups::Level>& levels,
                       const std::vector<std::string>& expressions, const std::string& source) {
  std::string columns, prefixes;
  for (std::size_t l = 0; l < levels.size(); ++l) {
    columns += levels[l].prefix + " AS k" + std::to_string(l) + ",";
    prefixes += (l ? "," : "") + levels[l].prefix;
  }
  columns += "count(*) AS n";
  for (std::size_t e = 0; e < expressions.size(); ++e) {
    columns += ",SUM(" + expressions[e] + ") AS s" + std::to_string(e);
  }
  connection.Execute("create temp table " + table + " as select " + columns + " from " + source +
                     " a where a.土地用途 is not null group by " + prefixes);
}

// Fills the level's `table` from the server's groups of the lots in
// `lot_groups`: those of each code joined to the code table and added up,
// each sum rounded as the script's rounded sum.
void WriteLevelOnServer(db::Connection& connection, const db::SqlDialect& dialect,
                        const std::string& table, const ScriptGroups::Level& level,
                        std::size_t number, const std::string& lot_groups, const std::string& codes,
                        int decimals) {
  const std::string code = "f.k" + std::to_string(number);
  std::string names = level.code_column + "," + level.name_column;
  std::string sums = code + ",b.代码名称";
  for (const GroupColumn& column : level.columns) {
    names += "," + column.name;
    sums += column.counted ? ",SUM(f.n)" : ",SUM(f.s" + std::to_string(column.expression) + ")";
  }
  connection.Execute("insert into " + table + "(" + names + ") " +
                     dialect.RoundSums("select " + sums + " from " + lot_groups + " f, " + codes +
                                           " b where " + code + "=b.代码 group by " + code +
                                           ",b.代码名称",
                                       decimals));
}

}  // namespace

std::string ScriptGroups::Statement(db::Connection& connection, const db::SqlDialect& dialect,
                                    std::string_view empty_script, std::string_view empty_source,
                                    int decimals) {
  connection_ = &connection;
  const std::unique_ptr<ScriptGroups> shapes = Parse(empty_script, empty_source, codes_);
  if (!shapes || shapes->levels_.size() != levels_.size() || decimals < 0) {
    throw db::DbError("the script's groupings cannot be made in memory");
  }
  // In memory on the embedded engine; on a server by the server, once by
  // every level's prefix, each level then added up from those groups.
  const bool in_memory = connection.Kind() == db::DbKind::kEmbedded;
  std::vector<LevelGroups> groups;
  const std::string lot_groups = std::string(kTablePrefix) + "lots";
  if (in_memory) {
    groups = GroupLots(connection, levels_, expressions_, source_, codes_);
  } else {
    connection.Execute("drop table if exists " + Temporary(connection, lot_groups));
    GroupLotsOnServer(connection, lot_groups, levels_, expressions_, source_);
    tables_.push_back(lot_groups);
  }
  // A level's table takes the columns of the script's own grouping of no
  // lots. A server makes it from the query's columns without planning the
  // query (WITH NO DATA), which for a hundred rounded sums costs more than
  // the grouping itself.
  const std::string shape_only = in_memory ? "" : " with no data";
  std::string with;
  for (std::size_t l = 0; l < levels_.size(); ++l) {
    const std::string table = kTablePrefix + std::to_string(l);
    connection.Execute("drop table if exists " + Temporary(connection, table));
    connection.Execute("create temp table " + table + " as " +
                       dialect.RoundSums(shapes->levels_[l].body, decimals) + shape_only);
    tables_.push_back(table);
    if (in_memory) {
      WriteLevel(connection, table, levels_[l], groups[l], decimals);
    } else {
      WriteLevelOnServer(connection, dialect, table, levels_[l], l, lot_groups, codes_, decimals);
    }
    with += (with.empty() ? "with " : ", ") + levels_[l].name + " AS (select * from " + table + ")";
  }
  return with + " " + tail_;
}

}  // namespace landstat
