#pragma once

#include <string>
#include <vector>

namespace landstat {

// Settings of StatConfig.ini (in qentar/_secondfun_ under the program
// directory). A missing file or key takes the default named here.

// Section "AreaUnit": "Unit1" (default "平方米"), "Unit2", "Unit3" (default
// empty). Unit 2 comes back empty when it equals unit 1, unit 3 when it
// equals unit 1 or unit 2.
void GetUnit(std::string& unit1, std::string& unit2, std::string& unit3);
bool SetUnit(const std::string& unit1, const std::string& unit2, const std::string& unit3);

// Section "PointLen": "Len1" to "Len3", the decimals of the three units
// (default 2; a value that is not a whole number from 0 to 10 counts as 2).
void GetPointLen(int& len1, int& len2, int& len3);
bool SetPointLen(int len1, int len2, int len3);

// Section "TYPE", "Type": 0 by location, 1 by ownership, 2 both (default 2).
// Returns the length of the text read.
int GetStatType(int& type);
bool SetStatType(int type);

// The units of a run as configured: unit 1 (the unit of the survey's
// areas: square metres unless it says hectares or mu), units 2 and 3
// (kNoUnit for none), the decimals of each, the statistics type, and the
// units wanted (a configured unit is wanted).
struct ConfiguredUnits {
  short units[3];
  short decimals[3];
  short stat_type;
  bool pm, gq, mu;
};
ConfiguredUnits ReadConfiguredUnits();

// What the getters above replaced by a default, one line each naming the
// file, its section and key, the value found and the value used: a missing
// or unreadable file, decimals that are no whole number from 0 to 10, a
// scope other than 0, 1 and 2. Empty when every setting is taken as
// written.
std::vector<std::string> StatConfigWarnings();

// What makes the area units unusable, one line each naming the file, the
// key and its value: a unit key that names none of 平方米, 公顷 and 亩
// (Unit2 and Unit3 may be empty), or a unit that repeats an earlier key's
// (naming both keys). A job refuses to run on them. Empty otherwise, also
// when the file is missing (the defaults apply).
std::vector<std::string> StatConfigErrors();

// True when StatConfig.ini was there and read whole: only then does a unit
// it leaves out mean that the unit is no longer wanted.
bool StatConfigRead();

// Section "HD", "MSSM" not "0": the base tables carry "描述说明".
bool IsExistHDMSSM();
// Section "KZ", "DLBM" not "0": the extension class columns are built.
bool IsExistKZDLBM();

// The connection string of a county's statistics database: in the
// stand-alone mode (rivadoverid.ini, "数据源"/"模式" holding "单机", the
// default) the SQLite file "<folder>/<year><county>.sqlite" in the Access
// form; in the server mode the connection string of the configured data
// source ("数据源"/"名称").
std::string GetCnnstr(const std::string& folder, const std::string& year,
                      const std::string& county);
// True in the stand-alone mode.
bool IsStandAloneMode();

}  // namespace landstat
