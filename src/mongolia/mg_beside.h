#pragma once

// The Inner Mongolia run's tables made beside it (db::BesideSchema), in a
// schema named after the run's year and county: runs of other counties may
// build beside theirs on the same server at the same time.

#include <string>

#include "platform/db/beside_tables.h"

namespace landstat::mg {

class MgBesideSchema : public db::BesideSchema {
 public:
  MgBesideSchema(const std::string& connection, const std::string& target, const std::string& year,
                 const std::string& county);
};

class MgBesideLane : public db::BesideLane {
 public:
  using db::BesideLane::BesideLane;
};

}  // namespace landstat::mg
