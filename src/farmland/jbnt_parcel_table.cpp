#include "engine/stat_context.h"

namespace landstat {}  // namespace landstat
