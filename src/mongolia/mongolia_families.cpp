// The summary families of the Inner Mongolia run, in one list: each runs on
// the Inner Mongolia context through the family's Mongolia hooks, in stage
// order, after the base table and before the area-unit records.

#include "engine/table_family.h"
#include "mongolia/mg_stat_context.h"

namespace landstat {
namespace {

const FamilyRegistration kMongoliaFamilies({});

}  // namespace
}  // namespace landstat
