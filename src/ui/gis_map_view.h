#pragma once

#include <QImage>
#include <QPageLayout>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gis/layers.h"
#include "platform/gis/project.h"

namespace landstat {

// The map of the layer browser: the project's layers drawn from their
// geometries (regions, then lines, then points, each layer in a colour of
// its own) at the extent of all of them. A geometry that cannot be drawn is
// left out and named in the trace. An entity flashes when its grid row is
// clicked. The map prints to a PDF file on the page the page setup chose.
class CGisMapView : public QWidget {
 public:
  explicit CGisMapView(QWidget* parent = nullptr);
  ~CGisMapView() override;

  // Reads the geometries of the project's layers (none when null); a layer
  // that cannot be opened is named in the trace and left out.
  void SetProject(gis::CGisXmlPrj* project);

  // Flashes an entity of a layer for a few seconds; StopFlash ends it.
  void Flash(gis::LayerHandle layer, long number);
  void StopFlash();
  // The record that flashes, 0 when none.
  long FlashingRecord() const { return flash_record_; }

  // What the drawing holds: entities drawn and geometries left out.
  long DrawnCount() const { return drawn_; }
  long BrokenCount() const { return broken_; }
  // The extent of the drawn layers; false when nothing is drawn.
  bool GetRange(gis::Rect& range) const;

  // Draws the map into `target` of a painter (the screen, a page).
  void Render(QPainter& painter, const QRectF& target) const;

  // The page the map prints on (A4 landscape at the start).
  QPageLayout& PageLayout() { return page_; }
  // Qt's page-setup dialog on the page; false when cancelled.
  bool PageSetup();
  // Prints the map onto the page into a PDF file; false, with the reason
  // told, when it cannot be written.
  bool PrintToPdf(const std::string& path) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Shape;
  struct Layer;
  void ReadLayer(const std::string& name, gis::LayerHandle handle);
  void DrawShape(QPainter& painter, const Layer& layer, const Shape& shape) const;
  const Shape* Find(gis::LayerHandle layer, long number, const Layer** owner) const;

  std::vector<std::unique_ptr<Layer>> layers_;
  gis::Rect range_;
  bool has_range_ = false;
  long drawn_ = 0;
  long broken_ = 0;
  QImage cache_;
  QPageLayout page_;
  QTimer flash_timer_;
  gis::LayerHandle flash_layer_ = 0;
  long flash_record_ = 0;
  int flash_ticks_ = 0;
};

}  // namespace landstat
