#include "engine/table_names.h"

namespace landstat {

namespace {

// Each unit's table-name prefix and its name.
struct UnitNames {
  short unit;
  const char* prefix;
  const char* text;
};
constexpr UnitNames kUnitNames[] = {
    {kHectare, "GQ", "公顷"}, {kMu, "MU", "亩"}, {kSquareMetre, "PM", "平方米"}};

const UnitNames* NamesOf(short unit) {
  for (const UnitNames& names : kUnitNames) {
    if (names.unit == unit) return &names;
  }
  return nullptr;
}

}  // namespace

const char* UnitPrefix(short unit) {
  const UnitNames* names = NamesOf(unit);
  return names ? names->prefix : "";
}

const char* UnitText(short unit) {
  const UnitNames* names = NamesOf(unit);
  return names ? names->text : "";
}

short UnitOfText(const std::string& text) {
  for (const UnitNames& names : kUnitNames) {
    if (text == names.text) return names.unit;
  }
  return kNoUnit;
}

std::string TableNames::Stem(const std::string& base) const {
  return server_ ? year_ + county_ + base : base;
}

std::string TableNames::Plain(const std::string& base) const {
  return server_ ? "D" + Stem(base) : base;
}

std::string TableNames::UnitCopy(short unit, const std::string& base) const {
  const std::string prefix = UnitPrefix(unit);
  return prefix.empty() ? std::string() : prefix + Stem(base);
}

std::string TableNames::Summary(char scope, short unit, const std::string& base) const {
  const std::string prefix = UnitPrefix(unit);
  return prefix.empty() ? std::string() : std::string(1, scope) + prefix + Stem(base);
}

std::string TableNames::ReserveUnit(short unit, const std::string& base) const {
  return Plain(UnitPrefix(unit) + base);
}

std::string TableNames::AreaUnit() const {
  return server_ ? "D" + county_ + "AreaUnit" : "AreaUnit";
}

}  // namespace landstat
