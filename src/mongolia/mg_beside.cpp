#include "mongolia/mg_beside.h"

#include "engine/run_schema.h"

namespace landstat::mg {

MgBesideSchema::MgBesideSchema(const std::string& connection, const std::string& target,
                               const std::string& year, const std::string& county)
    : db::BesideSchema(connection, target,
                       RunSchema::NameOf(target, year + "_mongolia_beside", county)) {}

}  // namespace landstat::mg
