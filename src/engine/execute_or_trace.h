#pragma once

#include <string>

#include "platform/db/connection.h"
#include "platform/db/db_error.h"
#include "platform/host/trace.h"

namespace landstat {

// Executes one statement; when the database refuses it, the statement and
// the database's message go to the debug trace and the result is false.
inline bool ExecuteOrTrace(db::Connection& connection, const std::string& statement) {
  try {
    connection.Execute(statement);
    return true;
  } catch (const db::DbError& error) {
    host::yDebugStr(statement);
    host::yDebugStr(error.what());
    return false;
  }
}

}  // namespace landstat
