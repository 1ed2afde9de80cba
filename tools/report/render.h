#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "timeline.h"

// The report's pages: one JST day each, drawn with Qt Charts off-screen.
namespace heliostat::report {

struct ReportInput {
    const Timeline* timeline = nullptr;
    std::optional<Span> range;  // --from/--to; the whole record when not given
    QStringList sessionFiles;
    QString controllerFile;  // empty: none
    long long malformedLines = 0;
    long long truncatedLines = 0;
};

// The stretch of the record each page shows: the window's events of one JST day.
std::vector<Span> PageSpans(const ReportInput& input);

// Where a page's parts lie, in the page's own units (the pixels of a PNG).
struct PageLayout {
    QRectF azimuthPlot, elevationPlot, beamPlot, band;
    bool beamLogarithmic = false;  // the beam errors span more than two decades
};

inline constexpr int kPageWidth = 1600;
inline constexpr int kPageHeight = 2263;  // A4's proportions

// One page as an image of kPageWidth × kPageHeight pixels.
QImage RenderPage(const ReportInput& input, Span page, PageLayout* layout = nullptr);

// Writes the report: every page to a PDF, the page with the 1-based number `page` to a PNG or
// SVG. HeliostatError with a Japanese reason when it cannot.
void WriteReport(const ReportInput& input, const QString& path, int page);

}  // namespace heliostat::report
