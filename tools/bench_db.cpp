// Rows per second of the database layer's three write paths, on SQLite and
// (when a server is given) PostgreSQL: inserts through AddNew/Update, an
// updating walk over every row, and an insert-select.
//
//   bench_db [--sizes 10000,100000,1000000] [--pg CONNINFO] [--dir DIR]

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/db/sql_dialect.h"
#include "platform/db/sqlite_backend.h"

namespace {

using landstat::db::Connection;
using landstat::db::Recordset;
using landstat::db::SqlDialect;
using landstat::db::Value;

constexpr int kClassColumns = 20;

// A table shaped like the base table: codes and names, then area columns.
std::string CreateStatement(const SqlDialect& dialect, const std::string& table) {
  std::string sql = "create table " + table +
                    " (序号 int default 0, 座落单位代码 varchar(19), 座落单位名称 varchar(60), "
                    "权属性质 varchar(60), 地类备注 varchar(60), 土地总面积 double default 0.00";
  for (int c = 0; c < kClassColumns; ++c) {
    sql += ", BM" + std::to_string(100 + c) + " double default 0.00";
  }
  return dialect.ApplyTypeWords(sql + ")");
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* engine, const char* path, long rows, double seconds) {
  std::printf("%-9s %-22s %9ld rows %8.2f s %12.0f rows/s\n", engine, path, rows, seconds,
              rows / seconds);
  std::fflush(stdout);
}

void RunSize(const char* engine, Connection& conn, long rows) {
  const SqlDialect& dialect = SqlDialect::For(conn.Kind());
  for (const char* table : {"bench_rows", "bench_copy", "bench_sums"}) {
    if (conn.TableExists(table)) conn.Execute(std::string("drop table ") + table);
  }
  conn.Execute(CreateStatement(dialect, "bench_rows"));

  Report(engine, "AddNew/Update insert", rows, Seconds([&] {
           Recordset rs(conn, "select * from bench_rows where 1<>1");
           for (long i = 0; i < rows; ++i) {
             rs.AddNew();
             rs.SetField("序号", Value(i));
             rs.SetField("座落单位代码", Value("330102" + std::to_string(100000000 + i % 5000)));
             rs.SetField("座落单位名称", Value("村民小组"));
             rs.SetField("权属性质", Value(i % 3 ? "30" : "20"));
             rs.SetField("土地总面积", Value(1000.0 + i % 97));
             rs.SetField("BM" + std::to_string(100 + i % kClassColumns), Value(1000.0 + i % 97));
           }
           rs.Update();
           rs.Close();
         }));

  Report(engine, "updating walk", rows, Seconds([&] {
           Recordset rs(conn, "select * from bench_rows where 土地总面积 > 0 order by 序号");
           for (; !rs.IsEOF(); rs.MoveNext()) {
             rs.SetField("土地总面积", Value(rs.Number("土地总面积") * 0.0015));
             rs.SetField("地类备注", Value("K"));
             rs.Update();
           }
           rs.Close();
         }));

  Report(engine, "insert-select", rows, Seconds([&] {
           conn.Execute(dialect.CopyStructure("bench_copy", "bench_rows"));
           conn.Execute("insert into bench_copy select * from bench_rows");
         }));

  Report(engine, "select into (group by)", rows, Seconds([&] {
           conn.Execute(dialect.SaveQueryAs(
               "bench_sums", "select " + dialect.Left("座落单位代码", 12) +
                                 " as XZQDM, sum(土地总面积) as XZQZMJ from bench_rows group by " +
                                 dialect.Left("座落单位代码", 12)));
         }));
}

std::vector<long> ParseSizes(const std::string& text) {
  std::vector<long> sizes;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) sizes.push_back(std::stol(item));
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes = {10000, 100000, 1000000};
  std::string conninfo;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "landstat-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--sizes")
      sizes = ParseSizes(argv[i + 1]);
    else if (option == "--pg")
      conninfo = argv[i + 1];
    else if (option == "--dir")
      dir = argv[i + 1];
  }
  try {
    std::filesystem::create_directories(dir);
    for (long rows : sizes) {
      const std::string file = (dir / ("bench_" + std::to_string(rows) + ".sqlite")).string();
      std::filesystem::remove(file);
      landstat::db::CreateSqliteFile(file);
      Connection sqlite("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file);
      RunSize("sqlite", sqlite, rows);
      sqlite.Close();
      std::filesystem::remove(file);
      if (!conninfo.empty()) {
        Connection server(conninfo);
        RunSize("postgres", server, rows);
      }
    }
  } catch (const landstat::db::DbError& error) {
    std::cerr << "bench_db: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
