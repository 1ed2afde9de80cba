#include "ui/chart_view.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

namespace heliostat::ui {

namespace {

constexpr double kTwips = ChartView::kTwipsPerPixel;

int Pixels(int twips) {
    return static_cast<int>(std::lround(twips / kTwips));
}

QColor ToColor(cycle::Rgb c) {
    return QColor(c.r, c.g, c.b);
}

}  // namespace

ChartView::ChartView(QWidget* parent)
    : QWidget(parent), image_(Pixels(kWidthTwips), Pixels(kHeightTwips), QImage::Format_RGB32) {
    setFixedSize(image_.size());
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // About the 9-point text of the original chart, so the 200-twip line spacing fits.
    QFont chartFont = font();
    chartFont.setPixelSize(11);
    setFont(chartFont);
    image_.fill(Background());
}

QColor ChartView::Foreground() const {
    return palette().color(QPalette::WindowText);
}
QColor ChartView::Background() const {
    return palette().color(QPalette::Base);
}

void ChartView::Clear() {
    image_.fill(Background());
    operations_.clear();
    update();
}

void ChartView::SetAutoRedraw(bool persistent) {
    persistent_ = persistent;
}

void ChartView::SetFillStyle(cycle::FillStyle style) {
    fillStyle_ = style;
}

void ChartView::SetFillColor(cycle::Rgb color) {
    fillColor_ = ToColor(color);
}

void ChartView::Circle(double cx, double cy, double radius) {
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Foreground());
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(cx / kTwips, cy / kTwips), radius / kTwips, radius / kTwips);
    operations_.push_back(
        {Operation::Kind::Circle, cx, cy, 0, 0, radius, false, Foreground(), QColor(), {}});
    update();
}

void ChartView::Circle(float cx, float cy, float radius, cycle::Rgb outline) {
    const bool filled = fillStyle_ == cycle::FillStyle::Solid;
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ToColor(outline));
    painter.setBrush(filled ? QBrush(fillColor_) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QPointF(cx / kTwips, cy / kTwips), radius / kTwips, radius / kTwips);
    operations_.push_back({Operation::Kind::Circle,
                           cx,
                           cy,
                           0,
                           0,
                           radius,
                           filled,
                           ToColor(outline),
                           filled ? fillColor_ : QColor(),
                           {}});
    update();
}

void ChartView::Line(double x1, double y1, double x2, double y2) {
    QPainter painter(&image_);
    painter.setPen(Foreground());
    painter.drawLine(QPointF(x1 / kTwips, y1 / kTwips), QPointF(x2 / kTwips, y2 / kTwips));
    operations_.push_back(
        {Operation::Kind::Line, x1, y1, x2, y2, 0, false, Foreground(), QColor(), {}});
    update();
}

void ChartView::Print(double x, double y, std::string_view text) {
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QPainter painter(&image_);
    painter.setFont(font());
    painter.setPen(Foreground());
    const QFontMetricsF metrics(font());
    painter.drawText(QPointF(x / kTwips, y / kTwips + metrics.ascent()), qtext);
    operations_.push_back(
        {Operation::Kind::Text, x, y, 0, 0, 0, false, Foreground(), QColor(), qtext});
    update();
}

void ChartView::ShowFailure(const QString& message) {
    QPainter painter(&image_);
    painter.setFont(font());
    const QRectF area(2, 2, image_.width() - 4, image_.height() - 4);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
    const QRectF used = painter.boundingRect(area, flags, message);
    // A plain backing keeps the message readable over the grid lines.
    painter.fillRect(used.adjusted(-2, -1, 2, 1), Background());
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(area, flags, message);
    operations_.push_back(
        {Operation::Kind::Failure, 0, 0, 0, 0, 0, false, QColor(255, 0, 0), QColor(), message});
    update();
}

QColor ChartView::PixelAtTwips(double x, double y) const {
    const QPoint p(static_cast<int>(std::floor(x / kTwips)),
                   static_cast<int>(std::floor(y / kTwips)));
    return image_.rect().contains(p) ? image_.pixelColor(p) : QColor();
}

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
    // A thin sunken edge, on screen only, so the chart reads as its own area.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

}  // namespace heliostat::ui
