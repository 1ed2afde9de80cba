#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

#include "cycle/chart.h"

namespace heliostat::ui {

// The sky chart area: a drawing surface in twips (15 twips a pixel) whose content persists in
// an off-screen image and is repainted from it. Every drawing call since the last Clear() is
// also kept as an operation, so that tests can check what was drawn without depending on a
// font.
class ChartView : public QWidget, public cycle::ChartSurface {
    Q_OBJECT

public:
    static constexpr double kTwipsPerPixel = 15;
    static constexpr int kWidthTwips = 2835;
    static constexpr int kHeightTwips = 2595;

    struct Operation {
        enum class Kind { Circle, Line, Text, Failure };
        Kind kind = Kind::Circle;
        double x = 0, y = 0;    // centre, start point or top-left corner, twips
        double x2 = 0, y2 = 0;  // end point of a line
        double radius = 0;
        bool filled = false;  // a solid fill was in effect
        QColor outline;       // circle outline, line or text color
        QColor fill;
        QString text;
    };

    explicit ChartView(QWidget* parent = nullptr);

    void Clear() override;
    void SetAutoRedraw(bool persistent) override;
    void SetFillStyle(cycle::FillStyle style) override;
    void SetFillColor(cycle::Rgb color) override;
    void Circle(double cx, double cy, double radius) override;
    void Circle(float cx, float cy, float radius, cycle::Rgb outline) override;
    void Line(double x1, double y1, double x2, double y2) override;
    void Print(double x, double y, std::string_view text) override;

    // A failed cycle's message, in red across the top of the chart.
    void ShowFailure(const QString& message);

    const std::vector<Operation>& Operations() const { return operations_; }
    const QImage& Image() const { return image_; }
    QColor PixelAtTwips(double x, double y) const;
    bool Persistent() const { return persistent_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor Foreground() const;
    QColor Background() const;

    QImage image_;
    std::vector<Operation> operations_;
    bool persistent_ = false;
    cycle::FillStyle fillStyle_ = cycle::FillStyle::Transparent;
    QColor fillColor_ = Qt::black;
};

}  // namespace heliostat::ui
