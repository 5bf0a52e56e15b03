// Seconds the change balance table takes on synthetic data: a base year of
// N parcel rows with every class column of the national classification and
// M change records between 1,000 groups, on SQLite (and PostgreSQL when a
// server is given).
//
//   bench_balance [--parcels 1000000] [--changes 100000] [--pg CONNINFO] [--dir DIR]

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/database_helpers.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_dialect.h"
#include "platform/gis/layers.h"
#include "platform/gis/rural_code.h"
#include "report/balance_units.h"
#include "report/change_balance.h"
#include "resources/resources.h"

namespace {

using landstat::db::Connection;
using landstat::db::Recordset;
using landstat::db::Value;

constexpr long kGroups = 1000;
constexpr long kSeedRows = 1000;  // base rows made one by one; the rest by doubling them

std::vector<landstat::gis::CODESTRUCT> LandClasses() {
  std::vector<landstat::gis::CODESTRUCT> classes;
  std::istringstream lines{std::string(landstat::resources::LandClassCodes())};
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    classes.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                       line.substr(second + 1)});
  }
  return classes;
}

std::string Group(long i) {
  return "330102" + std::to_string(100 + i % 10) + std::to_string(100 + i % kGroups / 10) +
         "0010000";
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The base year: rows of one leaf class each, doubled until there are `parcels`.
long MakeBaseYear(Connection& conn, const std::vector<landstat::gis::CODESTRUCT>& classes,
                  long parcels) {
  std::string sql =
      "create table bench_base (座落单位代码 varchar(19), 权属性质 varchar(4), "
      "土地总面积 double default 0";
  std::vector<std::string> leaves;
  for (const auto& c : classes) {
    sql += ", BM" + c.code + " double default 0";
    if (c.code.size() == 3) leaves.push_back(c.code);
  }
  conn.Execute(landstat::db::SqlDialect::For(conn.Kind()).ApplyTypeWords(sql + ")"));
  Recordset rs(conn, "select * from bench_base where 1<>1");
  for (long i = 0; i < kSeedRows; ++i) {
    const std::string& leaf = leaves[static_cast<std::size_t>(i) % leaves.size()];
    const double area = 1000.0 + static_cast<double>(i % 97);
    rs.AddNew();
    rs.SetField("座落单位代码", Value(Group(i)));
    rs.SetField("权属性质", Value(i % 3 ? "30" : "20"));
    rs.SetField("土地总面积", Value(area));
    rs.SetField("BM" + leaf, Value(area));
    rs.SetField("BM" + leaf.substr(0, 2), Value(area));
  }
  rs.Update();
  rs.Close();
  long rows = kSeedRows;
  for (; rows < parcels; rows *= 2) conn.Execute("insert into bench_base select * from bench_base");
  return rows;
}

void MakeChanges(Connection& conn, const std::vector<landstat::gis::CODESTRUCT>& classes,
                 long changes) {
  conn.Execute(
      landstat::db::SqlDialect::For(conn.Kind())
          .ApplyTypeWords(
              "create table bench_change (变更前座落代码 varchar(19), 变更后座落代码 varchar(19), "
              "变更前权属性质 varchar(4), 变更后权属性质 varchar(4), 变更前地类号 varchar(10), "
              "变更后地类号 varchar(10), 变更面积 double)"));
  Recordset rs(conn, "select * from bench_change where 1<>1");
  for (long i = 0; i < changes; ++i) {
    const auto& from = classes[static_cast<std::size_t>(i * 7) % classes.size()];
    const auto& to = classes[static_cast<std::size_t>(i * 13 + 5) % classes.size()];
    rs.AddNew();
    rs.SetField(0, Value(Group(i * 31)));
    rs.SetField(1, Value(Group(i * 31)));
    rs.SetField(2, Value(i % 5 ? "30" : "20"));
    rs.SetField(3, Value(i % 7 ? "30" : "10"));
    rs.SetField(4, Value(from.code));
    rs.SetField(5, Value(to.code));
    rs.SetField(6, Value(10.0 + static_cast<double>(i % 1000)));
  }
  rs.Update();
  rs.Close();
}

void Run(const char* engine, Connection& conn, long parcels, long changes) {
  for (const char* table : {"bench_base", "bench_change"}) {
    if (conn.TableExists(table)) conn.Execute(std::string("drop table ") + table);
  }
  const std::vector<landstat::gis::CODESTRUCT> classes = LandClasses();
  const std::unique_ptr<landstat::gis::RuralCode> codes(
      landstat::gis::RuralCode::FromEntries(classes));
  long rows = 0;
  const double made = Seconds([&] {
    rows = MakeBaseYear(conn, classes, parcels);
    MakeChanges(conn, classes, changes);
  });
  landstat::report::BalanceNotes notes;
  short table = 0;
  const double built = Seconds([&] {
    table = landstat::report::GetBalanceAi(codes.get(), &conn, nullptr, "bench_base", "bench_base",
                                           "bench_change", "330102", "330102", 1, &notes);
  });
  if (table <= 0) {
    std::cerr << "bench_balance: " << engine << ": " << notes.failure << "\n";
    return;
  }
  const double converted = Seconds([&] { landstat::report::BalanceTableInUnit(table, 1, 2); });
  std::printf(
      "%-9s %9ld base rows %8ld changes  made %7.2f s  balance table %7.2f s  to mu %5.3f s"
      "  (records 1 to %ld)\n",
      engine, rows, changes, made, built, converted,
      landstat::gis::RecordCount(table, landstat::gis::EntityKind::kTable) - 1);
  landstat::gis::CloseLayer(table);
  for (const char* drop : {"drop table bench_base", "drop table bench_change"}) conn.Execute(drop);
}

}  // namespace

int main(int argc, char** argv) {
  long parcels = 1000000, changes = 100000;
  std::string pg, dir = std::filesystem::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--parcels") {
      parcels = std::stol(value);
    } else if (option == "--changes") {
      changes = std::stol(value);
    } else if (option == "--pg") {
      pg = value;
    } else if (option == "--dir") {
      dir = value;
    } else {
      std::cerr << "usage: bench_balance [--parcels N] [--changes M] [--pg CONNINFO] [--dir DIR]\n";
      return 2;
    }
  }
  try {
    const std::string file = (std::filesystem::path(dir) / "bench_balance.sqlite").string();
    std::filesystem::remove(file);
    landstat::CreateAcessDB(file);
    {
      Connection sqlite(file);
      Run("SQLite", sqlite, parcels, changes);
    }
    std::filesystem::remove(file);
    if (!pg.empty()) {
      Connection server(pg);
      Run("PostgreSQL", server, parcels, changes);
    }
  } catch (const std::exception& error) {
    std::cerr << "bench_balance: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
