#include "mongolia/mg_beside.h"

#include "engine/run_schema.h"

namespace landstat::mg {

MgBesideSchema::MgBesideSchema(const std::string& connection, const std::string& target)
    : db::BesideSchema(connection, target, RunSchema::NameOf(target, "mongolia", "beside")) {}

}  // namespace landstat::mg
