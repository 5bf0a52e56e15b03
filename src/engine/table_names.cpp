#include "engine/table_names.h"

namespace landstat {

const char* UnitPrefix(short unit) {
  switch (unit) {
    case kHectare:
      return "GQ";
    case kMu:
      return "MU";
    case kSquareMetre:
      return "PM";
    default:
      return "";
  }
}

const char* UnitText(short unit) {
  switch (unit) {
    case kHectare:
      return "公顷";
    case kMu:
      return "亩";
    case kSquareMetre:
      return "平方米";
    default:
      return "";
  }
}

short UnitOfText(const std::string& text) {
  for (short unit : {kHectare, kMu, kSquareMetre}) {
    if (text == UnitText(unit)) return unit;
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

std::string TableNames::AreaUnit() const {
  return server_ ? "D" + county_ + "AreaUnit" : "AreaUnit";
}

}  // namespace landstat
