#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/stat_context.h"
#include "platform/db/connection.h"
#include "platform/gis/gis_fixtures.h"
#include "platform/gis/rural_code.h"

namespace landstat::testing {

// A small survey written by hand: the parcel, linear-feature and
// scattered-feature layers with the fields the base fill reads, and a code
// table of a handful of land classes and one line of administrative units.
using FieldValues = std::vector<std::pair<std::string, std::string>>;

// `values` with the fields of `changes` set to theirs (added when absent).
FieldValues With(FieldValues values, const FieldValues& changes);

// Areas are kept as text where the tests need a bad number in them
// (图斑地类面积, 线状地物面积) and as real numbers elsewhere.
extern const std::vector<FixtureField> kParcelFields;
extern const std::vector<FixtureField> kLineFields;
extern const std::vector<FixtureField> kPointFields;

// The administrative units of the code table.
inline const std::string kProvince = "33";
inline const std::string kCity = "3301";
inline const std::string kCountyCode = "330102";
inline const std::string kTownship = "330102001";
inline const std::string kVillage = "330102001001";
inline const std::string kGroup = "3301020010010010000";

std::vector<gis::CODESTRUCT> SmallCodeEntries();

struct SurveyFeatures {
  std::vector<FieldValues> parcels, lines, points;
  std::vector<FixtureField> parcel_fields = kParcelFields;
  std::vector<FixtureField> line_fields = kLineFields;
  std::vector<FixtureField> point_fields = kPointFields;
};

// A county of six base rows over 119.53 m²: a road between two parcels
// (0.03 m², halved), a pond (12.5 m²), a terraced paddy (89.75 m² and
// 10.25 m² of terrace) and a village parcel (7 m²).
SurveyFeatures SmallCounty();

// Writes the three layers "地类图斑", "线状地物", "零星地物" into a new
// GeoPackage (a file of that name is replaced); every layer is written,
// empty when it has no features.
void WriteSurvey(const std::string& path, const SurveyFeatures& survey);

// The farmland parcel layer "基本农田图斑" with the fields the farmland base
// fill reads; its area is a real number.
extern const std::vector<FixtureField> kJbntParcelFields;

// Writes the farmland parcel layer into the GeoPackage at `path`, beside
// the layers already there.
void WriteJbntParcels(const std::string& path, const std::vector<FieldValues>& parcels,
                      const std::vector<FixtureField>& fields = kJbntParcelFields);

// The survey's layers, open for one test.
struct OpenSurvey {
  explicit OpenSurvey(const std::string& path);
  ScopedLayer parcel, line, point;
};

// StatConfig.ini of three units: square metres (2 decimals), hectares (4)
// and mu (2), both scopes.
inline constexpr char kThreeUnits[] =
    "[AreaUnit]\nUnit1=平方米\nUnit2=公顷\nUnit3=亩\n"
    "[PointLen]\nLen1=2\nLen2=4\nLen3=2\n";

// Writes StatConfig.ini into the current program directory.
void WriteStatConfig(const std::string& text);

// Copies the installation's statement scripts (the folders Access and SQL)
// into the configuration root `config` (by default the current program
// directory's), as an installation holds them.
void InstallStatementScripts(const std::string& config = "");

// A statistics context of year 2009 and the county kCountyCode on the
// database of `connection` (naming `mode`), its units and codes loaded;
// `farmland` is its farmland parcel layer. Throws when either load fails.
std::unique_ptr<CStatContext> LoadedContext(gis::RuralCode* codes, const std::string& connection,
                                            short mode, const std::string& version = "",
                                            short farmland = 0);

// The families (by base name) a run of `version` builds, every table wanted.
std::set<std::string> RunFamilies(const std::string& version);

// The rows of a query joined column by column with '|', in the order the
// database gives them.
std::vector<std::string> Rows(db::Connection& conn, const std::string& sql);

}  // namespace landstat::testing
