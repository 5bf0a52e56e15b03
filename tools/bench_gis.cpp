// Reading speed of the GIS layer: every field of every record of a layer,
// read as text the way the engine's walks read it.
//
//   bench_gis SURVEY.gpkg [LAYER]

#include <chrono>
#include <cstdio>
#include <iostream>

#include "platform/gis/gis_error.h"
#include "platform/gis/layers.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: bench_gis SURVEY.gpkg [LAYER]\n";
    return 2;
  }
  namespace gis = landstat::gis;
  const std::string layer_name = argc > 2 ? argv[2] : "地类图斑";
  try {
    const auto start = std::chrono::steady_clock::now();
    const gis::LayerHandle layer = gis::OpenLayer(argv[1], layer_name);
    const std::vector<gis::FieldDef> fields = gis::LayerFields(layer);
    const long count = gis::RecordCount(layer, gis::EntityKind::kTable);
    std::size_t bytes = 0;
    long records = 0;
    gis::Record record;
    for (long number = 1; number < count; ++number) {
      if (!gis::ReadRecord(layer, gis::EntityKind::kTable, number, record)) continue;
      ++records;
      for (const gis::FieldDef& field : fields) bytes += record.Text(field.name).size();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld records x %zu fields read in %.2f s: %.0f records/s (%zu bytes of text)\n",
                records, fields.size(), seconds, records / seconds, bytes);
  } catch (const gis::GisError& error) {
    std::cerr << "bench_gis: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
