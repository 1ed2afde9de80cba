#pragma once

// A chart surface that records every drawing operation as a line of text, so tests can check
// what the cycle drew and in which order.

#include <QString>
#include <QStringList>

#include "cycle/chart.h"

class RecordingChart final : public heliostat::cycle::ChartSurface {
public:
    QStringList ops;

    void Clear() override { ops << QStringLiteral("Clear"); }
    void SetAutoRedraw(bool on) override { ops << QStringLiteral("AutoRedraw %1").arg(on); }
    void SetFillStyle(heliostat::cycle::FillStyle style) override {
        ops << (style == heliostat::cycle::FillStyle::Solid
                    ? QStringLiteral("FillStyle Solid")
                    : QStringLiteral("FillStyle Transparent"));
    }
    void SetFillColor(heliostat::cycle::Rgb c) override {
        ops << QStringLiteral("FillColor %1,%2,%3").arg(c.r).arg(c.g).arg(c.b);
    }
    void Circle(double cx, double cy, double r) override {
        ops << QStringLiteral("Circle %1 %2 %3").arg(cx).arg(cy).arg(r);
    }
    void Circle(float cx, float cy, float r, heliostat::cycle::Rgb c) override {
        ops << QStringLiteral("Disc %1 %2 %3 %4,%5,%6")
                   .arg(double(cx), 0, 'f', 1)
                   .arg(double(cy), 0, 'f', 1)
                   .arg(double(r))
                   .arg(c.r)
                   .arg(c.g)
                   .arg(c.b);
    }
    void Line(double x1, double y1, double x2, double y2) override {
        ops << QStringLiteral("Line %1 %2 %3 %4").arg(x1).arg(y1).arg(x2).arg(y2);
    }
    void Print(double x, double y, std::string_view text) override {
        ops << QStringLiteral("Print %1 %2 %3")
                   .arg(x)
                   .arg(y)
                   .arg(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
};
