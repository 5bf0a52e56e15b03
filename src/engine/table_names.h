#pragma once

#include <string>

namespace landstat {

// Unit codes of the whole system.
constexpr short kHectare = 0;
constexpr short kMu = 1;
constexpr short kSquareMetre = 2;
constexpr short kNoUnit = static_cast<short>(0xFFFF);

// The table-name prefix of a unit: "GQ", "MU", "PM"; empty for none.
const char* UnitPrefix(short unit);
// The name of a unit as the configuration and the area-unit table write it:
// "公顷", "亩", "平方米"; empty for none.
const char* UnitText(short unit);
// The unit of such a name; kNoUnit for any other text.
short UnitOfText(const std::string& text);

// Names of the statistics tables in each naming mode, in one place so that
// builders and readers agree. Mode 0 is a stand-alone database per county
// and year with plain names; any other mode a server database whose names
// carry the year and the county code.
class TableNames {
 public:
  TableNames() = default;
  TableNames(short db_mode, std::string year, std::string county)
      : server_(db_mode != 0), year_(std::move(year)), county_(std::move(county)) {}

  bool IsServer() const { return server_; }
  const std::string& Year() const { return year_; }
  const std::string& County() const { return county_; }
  // The base name, with year and county in front on a server.
  std::string Stem(const std::string& base) const;
  // A plain table: "statdata", or "D" + year + county + "statdata".
  std::string Plain(const std::string& base) const;
  // A unit copy: "GQstatdata", or "GQ" + year + county + "statdata".
  std::string UnitCopy(short unit, const std::string& base) const;
  // A summary table by scope ('Z' location, 'Q' ownership) and unit:
  // "ZGQTDLY_YJFL", or "ZGQ" + year + county + "TDLY_YJFL".
  std::string Summary(char scope, short unit, const std::string& base) const;
  // A unit table of the reserve and dispute families, whose base names carry
  // no scope letter: "GQZB_GDHB", or "D" + year + county + "GQZB_GDHB".
  std::string ReserveUnit(short unit, const std::string& base) const;
  // The area-unit table: "AreaUnit", or "D" + county + "AreaUnit".
  std::string AreaUnit() const;

 private:
  bool server_ = false;
  std::string year_;
  std::string county_;
};

}  // namespace landstat
