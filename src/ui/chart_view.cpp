#include "ui/chart_view.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <cmath>

#include "ui/operator_text.h"

namespace heliostat::ui {

namespace {

constexpr double kTwips = ChartView::kTwipsPerPixel;

int Pixels(int twips) {
    return static_cast<int>(std::lround(twips / kTwips));
}

QColor ToColor(cycle::Rgb c) {
    return QColor(c.r, c.g, c.b);
}

constexpr double kMargin = 2;  // pixels kept free at the chart's edges
// Just below the horizon circle (2100 twips) and just below the "N" label, in pixels.
constexpr double kHorizonBottom = 2110 / kTwips;
constexpr double kBelowNorth = 180 / kTwips;

const QColor kMessageRed(255, 0, 0);

double WidestLine(const QFontMetricsF& metrics, const QStringList& lines) {
    double width = 0;
    for (const QString& line : lines) {
        width = std::max(width, metrics.horizontalAdvance(line));
    }
    return width;
}

// Lines of a message in red at `box`, on a plain backing that keeps the grid lines out of them.
void DrawMessage(QPainter& painter, const QFont& font, const QRectF& box, const QStringList& lines,
                 const QColor& background) {
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.fillRect(box.adjusted(-1, 0, 1, 0), background);
    painter.setPen(kMessageRed);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        painter.drawText(QPointF(box.left(), box.top() + metrics.height() * static_cast<double>(i) +
                                                 metrics.ascent()),
                         lines.at(i));
    }
}

bool IsRingLabel(const QString& text) {
    return text == QStringLiteral("0°") || text == QStringLiteral("30°") ||
           text == QStringLiteral("60°");
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

QFont ChartView::FontFor(const QString& text) const {
    QFont f = font();
    // The ring labels stand 300 twips (20 pixels) apart, less than "60°" is wide at the
    // chart's size in a Japanese font; a smaller size keeps them apart.
    if (IsRingLabel(text)) {
        f.setPixelSize(8);
    }
    return f;
}

QFont ChartView::MessageFont() const {
    QFont f = font();
    f.setPixelSize(10);
    return f;
}

QStringList ChartView::TwoLines(const QString& text, const QFont& font) const {
    const QFontMetricsF metrics(font);
    return WrapText(
        text, [&metrics](const QString& t) { return metrics.horizontalAdvance(t); },
        image_.width() - 2 * kMargin, 2);
}

void ChartView::Clear() {
    image_.fill(Background());
    operations_.clear();
    ++clearCount_;
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
    DrawCircle(cx, cy, radius, Foreground(), false);
}

void ChartView::Circle(float cx, float cy, float radius, cycle::Rgb outline) {
    DrawCircle(cx, cy, radius, ToColor(outline), fillStyle_ == cycle::FillStyle::Solid);
}

void ChartView::DrawCircle(double cx, double cy, double radius, const QColor& outline,
                           bool filled) {
    QPainter painter(&image_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(outline);
    painter.setBrush(filled ? QBrush(fillColor_) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QPointF(cx / kTwips, cy / kTwips), radius / kTwips, radius / kTwips);
    operations_.push_back({.kind = Operation::Kind::Circle,
                           .x = cx,
                           .y = cy,
                           .radius = radius,
                           .filled = filled,
                           .outline = outline,
                           .fill = filled ? fillColor_ : QColor()});
    update();
}

void ChartView::Line(double x1, double y1, double x2, double y2) {
    QPainter painter(&image_);
    painter.setPen(Foreground());
    painter.drawLine(QPointF(x1 / kTwips, y1 / kTwips), QPointF(x2 / kTwips, y2 / kTwips));
    operations_.push_back({.kind = Operation::Kind::Line,
                           .x = x1,
                           .y = y1,
                           .x2 = x2,
                           .y2 = y2,
                           .outline = Foreground()});
    update();
}

void ChartView::Print(double x, double y, std::string_view text) {
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const QFont textFont = FontFor(qtext);
    QPainter painter(&image_);
    painter.setFont(textFont);
    painter.setPen(Foreground());
    const QFontMetricsF metrics(textFont);
    const QPointF topLeft(x / kTwips, y / kTwips);
    painter.drawText(QPointF(topLeft.x(), topLeft.y() + metrics.ascent()), qtext);
    operations_.push_back(
        {.kind = Operation::Kind::Text,
         .x = x,
         .y = y,
         .outline = Foreground(),
         .text = qtext,
         .box = QRectF(topLeft, QSizeF(metrics.horizontalAdvance(qtext), metrics.height()))});
    PlaceNotice();
    update();
}

void ChartView::ShowFailure(const QString& message) {
    // Two whole lines: a message too long for them first loses its step name ("（日没時刻）"
    // before the "："), then the font shrinks; the reason itself is never cut.
    QString text = message;
    QFont messageFont = MessageFont();
    QStringList lines;
    for (;;) {
        lines = TwoLines(text, messageFont);
        const bool whole = !lines.last().endsWith(u'…') || text.endsWith(u'…');
        if (whole || messageFont.pixelSize() <= 6) {
            break;
        }
        const QString shorter = QString(text).replace(
            QRegularExpression(QStringLiteral("（[^（）]*）：")), QStringLiteral("："));
        if (shorter != text) {
            text = shorter;
        } else {
            messageFont.setPixelSize(messageFont.pixelSize() - 1);
        }
    }
    const QFontMetricsF metrics(messageFont);
    const QSizeF size(WidestLine(metrics, lines),
                      metrics.height() * static_cast<double>(lines.size()));
    const QRectF box(FreePlace(size, Obstacles()), size);

    QPainter painter(&image_);
    DrawMessage(painter, messageFont, box, lines, Background());
    operations_.push_back({.kind = Operation::Kind::Failure,
                           .x = box.left() * kTwips,
                           .y = box.top() * kTwips,
                           .outline = kMessageRed,
                           .text = message,
                           .box = box,
                           .lines = lines});
    PlaceNotice();
    update();
}

QList<QRectF> ChartView::Obstacles() const {
    QList<QRectF> avoid;
    for (const Operation& op : operations_) {
        if (op.kind == Operation::Kind::Text || op.kind == Operation::Kind::Failure) {
            avoid << op.box;
        } else if (op.kind == Operation::Kind::Circle && op.filled) {
            const double r = op.radius / kTwips;
            avoid << QRectF(op.x / kTwips - r, op.y / kTwips - r, 2 * r, 2 * r);
        }
    }
    return avoid;
}

QPointF ChartView::FreePlace(QSizeF size, const QList<QRectF>& avoid) const {
    const double right = image_.width() - kMargin - size.width();
    const double bottom = image_.height() - kMargin - size.height();
    // First choices lie outside the horizon circle (below it, then below the "N"), where the
    // message covers the fewest grid lines; then every row from the top.
    QList<double> rows = {kHorizonBottom, kBelowNorth};
    for (double y = kMargin; y <= bottom; y += 2) {
        rows << y;
    }
    for (const double y : rows) {
        for (const double x : {kMargin, right}) {
            const QRectF candidate(QPointF(x, std::min(y, bottom)), size);
            bool free = true;
            for (const QRectF& r : avoid) {
                free = free && !candidate.intersects(r);
            }
            if (free) {
                return candidate.topLeft();
            }
        }
    }
    return QPointF(kMargin, std::min(kHorizonBottom, bottom));
}

void ChartView::SetNotice(const QString& line) {
    notice_ = line;
    PlaceNotice();
    update();
}

void ChartView::PlaceNotice() {
    if (notice_.isEmpty()) {
        noticeBox_ = QRectF();
        noticeShown_.clear();
        return;
    }
    // Two lines of the chart's width, in a smaller font when the text needs it.
    noticeFont_ = MessageFont();
    for (;;) {
        noticeShown_ = TwoLines(notice_, noticeFont_);
        if (!noticeShown_.last().endsWith(u'…') || noticeFont_.pixelSize() <= 7) {
            break;
        }
        noticeFont_.setPixelSize(noticeFont_.pixelSize() - 1);
    }
    const QFontMetricsF metrics(noticeFont_);
    // A pixel of air around every label, so that the line never touches one.
    QList<QRectF> avoid;
    for (const QRectF& r : Obstacles()) {
        avoid << r.adjusted(-1, -1, 1, 1);
    }
    const QSizeF size(WidestLine(metrics, noticeShown_),
                      metrics.height() * static_cast<double>(noticeShown_.size()));
    noticeBox_ = QRectF(FreePlace(size, avoid), size);
}

QColor ChartView::PixelAtTwips(double x, double y) const {
    const QPoint p(static_cast<int>(std::floor(x / kTwips)),
                   static_cast<int>(std::floor(y / kTwips)));
    return image_.rect().contains(p) ? image_.pixelColor(p) : QColor();
}

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), image_, event->rect());
    if (!notice_.isEmpty()) {
        DrawMessage(painter, noticeFont_, noticeBox_, noticeShown_, Background());
    }
    // A thin sunken edge, on screen only, so the chart reads as its own area.
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width() - 1, 0);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(width() - 1, 0, width() - 1, height() - 1);
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
}

}  // namespace heliostat::ui
