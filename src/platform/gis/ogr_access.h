#pragma once

// The OGR objects behind the GIS layer's handles, for the files of the GIS
// layer that work on OGR directly (the cut of a project by a polygon). The
// engine reaches layers through layers.h only.

#include <functional>
#include <string>

#include "platform/gis/layers.h"

class GDALDataset;
class OGRLayer;

namespace landstat::gis::detail {

// Registers GDAL's drivers once, with its errors kept off the terminal:
// they reach callers as GisError.
void RegisterGdal();
// GDAL's text for its last error, or "no further detail".
std::string GdalMessage();
// The OGR layer of an open handle, with any walk through the handle ended;
// raises GisError for a handle that names no open layer. Whoever sets a
// filter on it clears it again.
OGRLayer& OgrLayerOf(LayerHandle layer);
// The data source of an open handle's layer.
GDALDataset& OgrDatasetOf(LayerHandle layer);
// The record number of each OGR feature id of the layer, as its walks by
// number see it (0 for an id that has none), taken when it is called: call
// it before setting a filter on the layer.
std::function<long(long long)> RecordNumbers(LayerHandle layer);

}  // namespace landstat::gis::detail
