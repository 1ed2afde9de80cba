#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
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
        QColor outline{};     // circle outline, line or text color
        QColor fill{};
        QString text{};
        QRectF box{};         // Text and Failure: the area covered, pixels
        QStringList lines{};  // Failure: the message as drawn
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

    // A failed cycle's message in red, at most two lines, where it covers no label, time
    // text or sun marker.
    void ShowFailure(const QString& message);

    // A red notice over the chart (the link's state, a record that cannot be written), at most
    // two lines, kept across clearings until replaced or removed with an empty text; placed
    // like a failure message, clear of that and of every label.
    void SetNotice(const QString& line);
    const QString& Notice() const { return notice_; }
    const QRectF& NoticeBox() const { return noticeBox_; }
    const QStringList& NoticeLines() const { return noticeShown_; }

    // How many times the chart has been cleared, so that a caller can tell whether a cycle
    // got as far as redrawing it.
    int ClearCount() const { return clearCount_; }

    const std::vector<Operation>& Operations() const { return operations_; }
    const QImage& Image() const { return image_; }
    QColor PixelAtTwips(double x, double y) const;
    bool Persistent() const { return persistent_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void DrawCircle(double cx, double cy, double radius, const QColor& outline, bool filled);
    QColor Foreground() const;
    QColor Background() const;
    QFont FontFor(const QString& text) const;
    QFont MessageFont() const;
    // The text wrapped to at most two lines of the chart's width.
    QStringList TwoLines(const QString& text, const QFont& font) const;
    // Top-left corner of the first place for a box of `size` that overlaps none of `avoid`.
    QPointF FreePlace(QSizeF size, const QList<QRectF>& avoid) const;
    QList<QRectF> Obstacles() const;
    void PlaceNotice();

    QImage image_;
    std::vector<Operation> operations_;
    bool persistent_ = false;
    cycle::FillStyle fillStyle_ = cycle::FillStyle::Transparent;
    QColor fillColor_ = Qt::black;
    QString notice_;
    QStringList noticeShown_;  // as drawn: at most two lines of the chart's width
    QRectF noticeBox_;
    QFont noticeFont_;
    int clearCount_ = 0;
};

}  // namespace heliostat::ui
