#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/survey_fixture.h"
#include "mongolia/mg_stat_context.h"

namespace landstat::testing {

// A small Inner Mongolia survey written by hand: a code table of the county
// kMgCounty with its category, bureau, second-level and ownership units and
// a few land classes (01, 011, 0101; 10, 104; 12, 123; 05, 051), and the three
// feature layers with the fields the Inner Mongolia fill reads.
inline const std::string kMgCounty = "150102";
inline const std::string kMgCategory = "15010201";
inline const std::string kMgBureau = "1501020101";
inline const std::string kMgSecond = "1501020101001";
inline const std::string kMgOwner = "1501020101001000001";

std::vector<gis::CODESTRUCT> MgCodeEntries();
// The code file of MgCodeEntries, written to `path`.
void WriteMgCodeFile(const std::string& path);

extern const std::vector<FixtureField> kMgParcelFields;
extern const std::vector<FixtureField> kMgLineFields;
extern const std::vector<FixtureField> kMgPointFields;

// A survey of the three layers with the Inner Mongolia fields; `parcels`,
// `lines` and `points` as given.
SurveyFeatures MgSurvey(std::vector<FieldValues> parcels, std::vector<FieldValues> lines = {},
                        std::vector<FieldValues> points = {});

// A parcel of the owner kMgOwner with the class, the area and the changes.
FieldValues MgParcel(const std::string& number, const std::string& class_code,
                     const std::string& area, const FieldValues& changes = {});
// A scattered feature of kMgOwner in parcel `parcel`.
FieldValues MgPoint(const std::string& parcel, const std::string& class_code,
                    const std::string& area, const FieldValues& changes = {});
// A linear feature between parcels 1 and 2 of kMgOwner.
FieldValues MgLine(const std::string& ratio, const std::string& area,
                   const FieldValues& changes = {});

// An Inner Mongolia context of year 2009 and the county kMgCounty on the
// database of `connection`, its units and codes loaded. Throws when they
// do not load.
std::unique_ptr<CMgStatContext> MgContext(gis::RuralCode* codes, const std::string& connection,
                                          short parcel = 0, short line = 0, short point = 0);

}  // namespace landstat::testing
