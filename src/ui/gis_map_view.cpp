#include "ui/gis_map_view.h"

#include <QPageSetupDialog>
#include <QPainter>
#include <QPainterPath>
#include <QPrinter>
#include <QResizeEvent>
#include <filesystem>

#include "platform/gis/gis_error.h"
#include "platform/host/notifier.h"
#include "platform/host/trace.h"

namespace landstat {
namespace {

// Half-seconds an entity flashes.
constexpr int kFlashTicks = 12;
// The share of the map's frame left free around the extent.
constexpr double kMargin = 0.03;

// Colours of the layers in turn.
const QColor kLayerColours[] = {{205, 230, 180}, {120, 170, 220}, {230, 190, 140},
                                {190, 160, 210}, {160, 200, 200}, {220, 150, 150}};

// The transform that shows `range` as large as fits into `target`, north up.
QTransform FitTransform(const gis::Rect& range, const QRectF& target) {
  const double width = std::max(range.max_x - range.min_x, 1e-9);
  const double height = std::max(range.max_y - range.min_y, 1e-9);
  const double scale =
      (1 - 2 * kMargin) * std::min(target.width() / width, target.height() / height);
  const QPointF centre = target.center();
  QTransform transform;
  transform.translate(centre.x(), centre.y());
  transform.scale(scale, -scale);
  transform.translate(-(range.min_x + width / 2), -(range.min_y + height / 2));
  return transform;
}

}  // namespace

struct CGisMapView::Shape {
  long number = 0;
  std::vector<QPolygonF> parts;
};

struct CGisMapView::Layer {
  std::string name;
  gis::LayerHandle handle = 0;
  gis::EntityKind kind = gis::EntityKind::kRegion;
  QColor colour;
  std::vector<Shape> shapes;
  std::unordered_map<long, std::size_t> by_number;
};

CGisMapView::CGisMapView(QWidget* parent)
    : QWidget(parent),
      page_(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
            QPageLayout::Millimeter) {
  setMinimumSize(50, 50);
  setAutoFillBackground(false);
  flash_timer_.setInterval(250);
  connect(&flash_timer_, &QTimer::timeout, this, [this] {
    if (++flash_ticks_ >= kFlashTicks) flash_timer_.stop();
    update();
  });
}

CGisMapView::~CGisMapView() = default;

void CGisMapView::SetProject(gis::CGisXmlPrj* project) {
  StopFlash();
  layers_.clear();
  has_range_ = false;
  drawn_ = broken_ = 0;
  if (project != nullptr) {
    for (const std::string& name : project->LayerNames()) {
      try {
        ReadLayer(name, project->prjItemGetAi(name));
      } catch (const gis::GisError& error) {
        host::yDebugStr(std::string("地图: ") + error.what());
      }
    }
  }
  // Regions under lines under points.
  std::stable_sort(layers_.begin(), layers_.end(), [](const auto& a, const auto& b) {
    auto rank = [](gis::EntityKind kind) {
      return kind == gis::EntityKind::kRegion ? 0 : kind == gis::EntityKind::kLine ? 1 : 2;
    };
    return rank(a->kind) < rank(b->kind);
  });
  cache_ = QImage();
  update();
}

void CGisMapView::ReadLayer(const std::string& name, gis::LayerHandle handle) {
  if (handle <= 0 || gis::LayerKind(handle) == gis::EntityKind::kTable) return;
  auto layer = std::make_unique<Layer>();
  layer->name = name;
  layer->handle = handle;
  layer->kind = gis::LayerKind(handle);
  layer->colour = kLayerColours[layers_.size() % std::size(kLayerColours)];
  gis::VisitOutlines(
      handle,
      [&](long number, const gis::Outline& outline) {
        Shape& shape = layer->shapes.emplace_back();
        shape.number = number;
        for (const std::vector<gis::Point>& part : outline) {
          QPolygonF& polygon = shape.parts.emplace_back();
          polygon.reserve(static_cast<qsizetype>(part.size()));
          for (const gis::Point& point : part) polygon.append({point.x, point.y});
        }
        layer->by_number[number] = layer->shapes.size() - 1;
      },
      [&](long number, const std::string& reason) {
        ++broken_;
        host::yDebugStr("地图: 图层 " + name + " 记录 " + std::to_string(number) +
                        " 的图形不能绘制 (" + reason + "), 已略过");
      });
  gis::Rect extent;
  if (layer->shapes.empty() || !gis::LayerExtent(handle, extent)) return;
  drawn_ += static_cast<long>(layer->shapes.size());
  if (!has_range_) {
    range_ = extent;
  } else {
    range_ = {std::min(range_.min_x, extent.min_x), std::min(range_.min_y, extent.min_y),
              std::max(range_.max_x, extent.max_x), std::max(range_.max_y, extent.max_y)};
  }
  has_range_ = true;
  layers_.push_back(std::move(layer));
}

bool CGisMapView::GetRange(gis::Rect& range) const {
  if (has_range_) range = range_;
  return has_range_;
}

void CGisMapView::DrawShape(QPainter& painter, const Layer& layer, const Shape& shape) const {
  if (layer.kind == gis::EntityKind::kRegion) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    for (const QPolygonF& ring : shape.parts) path.addPolygon(ring);
    painter.drawPath(path);
  } else if (layer.kind == gis::EntityKind::kLine) {
    for (const QPolygonF& line : shape.parts) painter.drawPolyline(line);
  } else {
    for (const QPolygonF& point : shape.parts) painter.drawPoints(point);
  }
}

void CGisMapView::Render(QPainter& painter, const QRectF& target) const {
  painter.save();
  painter.fillRect(target, Qt::white);
  if (has_range_) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    // Points keep their size on a page of many dots per inch.
    const double dot =
        painter.device() ? std::max(painter.device()->logicalDpiX() / 96.0, 1.0) : 1.0;
    painter.setTransform(FitTransform(range_, target), true);
    for (const auto& layer : layers_) {
      // Regions are washed in so that the layers under them show.
      QPen pen(layer->colour.darker(layer->kind == gis::EntityKind::kRegion ? 200 : 160));
      pen.setCosmetic(true);
      pen.setWidthF(layer->kind == gis::EntityKind::kPoint ? 4 * dot : 0);
      painter.setPen(pen);
      QColor wash = layer->colour;
      wash.setAlpha(70);
      painter.setBrush(layer->kind == gis::EntityKind::kRegion ? QBrush(wash) : Qt::NoBrush);
      for (const Shape& shape : layer->shapes) DrawShape(painter, *layer, shape);
    }
  }
  painter.restore();
}

const CGisMapView::Shape* CGisMapView::Find(gis::LayerHandle handle, long number,
                                            const Layer** owner) const {
  for (const auto& layer : layers_) {
    if (layer->handle != handle) continue;
    auto found = layer->by_number.find(number);
    if (found == layer->by_number.end()) return nullptr;
    *owner = layer.get();
    return &layer->shapes[found->second];
  }
  return nullptr;
}

void CGisMapView::Flash(gis::LayerHandle layer, long number) {
  StopFlash();
  flash_layer_ = layer;
  flash_record_ = number;
  flash_ticks_ = 0;
  flash_timer_.start();
  update();
}

void CGisMapView::StopFlash() {
  flash_timer_.stop();
  flash_layer_ = 0;
  flash_record_ = 0;
  update();
}

void CGisMapView::resizeEvent(QResizeEvent* event) {
  cache_ = QImage();
  QWidget::resizeEvent(event);
}

void CGisMapView::paintEvent(QPaintEvent*) {
  if (cache_.size() != size()) {
    cache_ = QImage(size(), QImage::Format_RGB32);
    QPainter cache_painter(&cache_);
    Render(cache_painter, QRectF(QPointF(0, 0), QSizeF(size())));
  }
  QPainter painter(this);
  painter.drawImage(0, 0, cache_);
  const Layer* layer = nullptr;
  const Shape* shape = flash_record_ > 0 ? Find(flash_layer_, flash_record_, &layer) : nullptr;
  // The entity shows on the even ticks while it flashes, and stays marked.
  if (shape == nullptr || (flash_timer_.isActive() && flash_ticks_ % 2 == 1)) return;
  painter.setTransform(FitTransform(range_, QRectF(rect())));
  QPen pen(Qt::red);
  pen.setCosmetic(true);
  pen.setWidth(layer->kind == gis::EntityKind::kPoint ? 8 : 3);
  painter.setPen(pen);
  painter.setBrush(QColor(255, 255, 0, 160));
  DrawShape(painter, *layer, *shape);
}

bool CGisMapView::PageSetup() {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageLayout(page_);
  QPageSetupDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return false;
  page_ = printer.pageLayout();
  return true;
}

bool CGisMapView::PrintToPdf(const std::string& path) const {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(path));
  printer.setPageLayout(page_);
  QPainter painter;
  if (!painter.begin(&printer)) {
    host::AfxMessageBox("无法写出地图文件 " + path);
    return false;
  }
  // The painter's origin is the corner of the page's printable area.
  Render(painter,
         QRectF(QPointF(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size()));
  painter.end();
  std::error_code error;
  if (std::filesystem::file_size(path, error) == 0 || error) {
    host::AfxMessageBox("无法写出地图文件 " + path);
    return false;
  }
  return true;
}

}  // namespace landstat
