#pragma once

namespace landstat {

class StatRunLog;

// The repair of the three layers of a range cut out of a county: parcels,
// linear features and scattered features are clipped geometrically, but the
// attributes that tie them together are not. These functions book line and
// point areas to the parcels they still touch, recompute deductions and net
// areas, and remove features booked to no parcel. They work on open layers
// (gis::LayerHandle) in place and never save them; the caller does.
//
// GisError escapes for what stops a repair as a whole: a layer open for
// reading only, a field the repair needs that a layer lacks (named with
// the layer), a write the source refuses. A repair writes to its
// GeoPackage in one transaction (gis::EditTransaction), so then none of it
// reaches the file; the caller should close the layers.

// The full repair by geometry; `mode` 0 for land-use layers, otherwise
// basic-farmland layers. Adds the text fields "图斑编号1" and "图斑编号2" to the
// lines and "图斑编号" to the points (emptied first when there from an
// earlier run), which name the parcel each feature is booked to, and the
// double fields 零星地物面积 and 线状地物面积 to parcels that lack them (farmland
// parcels often do). A parcel or line whose geometry is empty or invalid is
// skipped and logged naming layer and record. A parcel whose 扣除地类系数 is
// not a number from 0 to below 100 (empty is 0) is logged naming the record
// and the value and left as it was, its features booked to it (so none is
// removed). Failures go to `log` when given. 1 when done; 0 when a handle
// is 0 or less.
short clip_analyse(short parcels, short lines, short points, short mode, StatRunLog* log = nullptr);

// Recomputes, on the records of `kind` (2 parcels, 0 lines, 1 points, 7 or
// -1 attributes) that `expression` selects (gis::AttributeExpression), the
// deduction with no line or point deduction: 扣除地类面积 := A × c and
// `remainder_field` := A − that, A read from `area_field`, c from
// 扣除地类系数; 线状地物面积 and 零星地物面积 emptied. A record whose coefficient
// is not a number from 0 to below 100 is left as it was. 1 when done; 0 when
// the layer is not open, the kind is below -1, a text is null or the
// expression selects nothing.
short dealAiExp(short layer, short kind, const char* area_field, const char* remainder_field,
                const char* expression);

// A repair by attributes: line and point areas booked to the parcels their
// links name (half to each side of a line of ratio 0.5, found by geometry),
// then deduction and net areas recomputed; parcels and lines are saved.
// UpdateClipData reads 扣除地类系数 as a percentage, UpdateClipJbntData as a
// fraction (see the differences in the source). 1 when done; 0 when the
// parcel handle is 0 or less.
short UpdateClipData(short parcels, short lines, short points);
short UpdateClipJbntData(short parcels, short lines, short points);

// The deduction coefficient as a fraction: values of 1 and above are
// percentages, values below 1 fractions already.
double DeductionFraction(double coefficient);

}  // namespace landstat
