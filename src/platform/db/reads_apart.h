#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/db/connection.h"

namespace landstat::db {

// Runs reads of whole tables at the same time, each on a connection of its
// own to the same embedded database, so that each uses a processor of its
// own. They run one after another on `connection` instead on a server (it
// reads nothing faster in parallel through one transaction), for a single
// read, and while `connection` holds writes not yet committed (other
// connections would not see them). A read must only read. The first error
// raised by any read goes to the caller once every read has ended.
void ReadApart(Connection& connection, const std::vector<std::function<void(Connection&)>>& reads);

// Whether reads given to ReadApart would run apart (when there are two or
// more).
bool CanReadApart(Connection& connection);
// Whether other connections see `table`: a temporary table of this
// connection is its own.
bool SharedTable(Connection& connection, const std::string& table);

}  // namespace landstat::db
