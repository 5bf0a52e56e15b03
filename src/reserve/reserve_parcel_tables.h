#pragma once

#include <string>

namespace landstat {

class CStatContext;

// True when the reserve layer has every field the reserve tables and their
// summaries need; else one failure naming the layer and the first field it
// lacks, and false.
bool ReserveLayerHasNeededFields(CStatContext& c);

// The create statement of a reserve parcel table (ZB_GDHB and its four
// class tables, all of one layout): 30 columns, "面积" numeric with default
// 0.00 and the others varchar(80). The numeric type follows the configured
// data source: "float" for type 1, "NUMBER" for type 2 (Oracle), "double"
// for any other.
std::string GdhbCreateStatement(const std::string& table, int db_type);

}  // namespace landstat
