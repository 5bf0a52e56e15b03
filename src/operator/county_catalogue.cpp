// The county catalogue of the batch.

#include "operator/county_catalogue.h"

#include <algorithm>
#include <filesystem>

#include "engine/database_helpers.h"
#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/db/recordset.h"
#include "platform/host/paths.h"

namespace landstat {
namespace fs = std::filesystem;

const char* const kCountyCatalogueName = "counties.sqlite";

std::string DefaultCountyCatalogue() {
  return (fs::path(host::ProgramDir()) / kCountyCatalogueName).string();
}

namespace {

constexpr char kSchema[] =
    "create table if not exists 标准专题表 (描述 varchar(60), 简称 varchar(20));"
    "create table if not exists 行政区域 (代码 varchar(19) primary key, 名称 varchar(60), "
    "上级代码 varchar(19));"
    "create table if not exists 县级工程 (代码 varchar(6) primary key, 工程文件 varchar(260))";

}  // namespace

CountyCatalogue ReadCountyCatalogue(const std::string& path) {
  if (!fs::is_regular_file(path)) throw db::DbError("no county catalogue " + path);
  db::Connection catalogue(path);
  CountyCatalogue read;
  for (db::Recordset rows(catalogue, "select 代码, 名称, 上级代码 from 行政区域 order by 代码");
       !rows.IsEOF(); rows.MoveNext()) {
    read.regions.push_back({rows.Text("代码"), rows.Text("名称"), rows.Text("上级代码")});
  }
  const fs::path folder = fs::absolute(path).parent_path();
  for (db::Recordset rows(catalogue, "select 代码, 工程文件 from 县级工程"); !rows.IsEOF();
       rows.MoveNext()) {
    const fs::path project = rows.Text("工程文件");
    read.projects[rows.Text("代码")] =
        (project.is_absolute() ? project : folder / project).lexically_normal().string();
  }
  return read;
}

std::string ReadSecondSurveyThemes(const std::string& connection) {
  try {
    db::Connection catalogue(connection);
    db::Recordset rows(catalogue, "select * from 标准专题表 where 描述 like '%二次调查%'");
    return rows.IsEOF() ? std::string() : rows.Text("简称");
  } catch (const db::DbError&) {
    return "";
  }
}

void AddCatalogueCounty(const std::string& path, const std::vector<CatalogueRegion>& regions,
                        const std::string& county, const std::string& project) {
  if (!fs::exists(path) && CreateAcessDB(path) <= 0) {
    throw db::DbError("cannot create the county catalogue " + path);
  }
  db::Connection catalogue(path);
  db::Transaction unit(catalogue);
  catalogue.Execute(kSchema);
  if (!catalogue.Scalar("select count(*) from 标准专题表").AsInteger()) {
    catalogue.Execute("insert into 标准专题表 values ('第二次土地调查', 'DC')");
  }
  for (const CatalogueRegion& region : regions) {
    catalogue.Execute("delete from 行政区域 where 代码 = ?", {db::Value(region.code)});
    catalogue.Execute("insert into 行政区域 values (?, ?, ?)",
                      {db::Value(region.code), db::Value(region.name), db::Value(region.parent)});
  }
  catalogue.Execute("delete from 县级工程 where 代码 = ?", {db::Value(county)});
  catalogue.Execute("insert into 县级工程 values (?, ?)", {db::Value(county), db::Value(project)});
  unit.Commit();
}

}  // namespace landstat
