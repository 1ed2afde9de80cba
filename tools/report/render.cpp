#include "render.h"

#include "base/errors.h"

#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace heliostat::report {

namespace {

constexpr Millis kDayMs = 24 * 3600 * 1000;
// A longer pause than this between two samples breaks the line: the link was stopped or silent,
// and a straight line across would show angles nobody commanded or reported.
constexpr Millis kGapMs = 10 * 1000;

constexpr double kMargin = 40;
constexpr double kChartHeight = 470;
constexpr double kPlotLeft = 120;  // in chart coordinates
constexpr double kPlotTop = 50;
constexpr double kPlotWidth = kPageWidth - 2 * kMargin - kPlotLeft - 40;
constexpr double kPlotHeight = kChartHeight - kPlotTop - 60;
constexpr double kTitleHeight = 110;
constexpr double kBandHeight = 46;

const QColor kCommanded(31, 90, 180);
const QColor kReported(245, 160, 80);
const QColor kController(40, 160, 70);
const QColor kBeam(120, 40, 160);
const QColor kThreshold(200, 30, 30);

QColor StateColor(LinkState state) {
    switch (state) {
        case LinkState::Stopped:
            return QColor(200, 200, 200);
        case LinkState::Silent:
            return QColor(220, 40, 40);
        case LinkState::Moving:
            return QColor(245, 185, 40);
        case LinkState::OnTarget:
            return QColor(50, 170, 80);
    }
    return Qt::white;
}

QColor MarkColor(MarkKind kind) {
    switch (kind) {
        case MarkKind::Failure:
            return QColor(200, 0, 0);
        case MarkKind::Stow:
            return QColor(30, 60, 200);
        case MarkKind::Clock:
            return QColor(110, 110, 110);
        case MarkKind::BeamAlarm:
            return kBeam;
        case MarkKind::Lost:
            return Qt::black;
    }
    return Qt::black;
}

QFont Font(double pixels, bool bold = false) {
    QFont font(QStringLiteral("IPAexGothic"));
    font.setPixelSize(static_cast<int>(pixels));
    font.setBold(bold);
    return font;
}

QString U(const std::string& text) {
    return QString::fromStdString(text);
}

Millis JstMidnight(Millis utc) {
    const Millis local = utc + kJstOffsetMs;
    const Millis day = local >= 0 ? local / kDayMs : (local - kDayMs + 1) / kDayMs;
    return day * kDayMs - kJstOffsetMs;
}

// The page's time axis: minutes since the JST midnight of its day.
struct TimeAxis {
    Millis midnight = 0;
    double from = 0, to = 0;  // minutes
    double step = 1;          // minutes between labels
    double Minutes(Millis t) const { return static_cast<double>(t - midnight) / 60000.0; }
};

TimeAxis MakeTimeAxis(Span page) {
    TimeAxis axis;
    axis.midnight = JstMidnight(page.start);
    double from = axis.Minutes(page.start), to = axis.Minutes(page.end);
    // At least ten seconds, so that a page of a single event still has a time axis.
    constexpr double kShortest = 10.0 / 60;
    if (to - from < kShortest) {
        const double middle = (from + to) / 2;
        from = middle - kShortest / 2;
        to = middle + kShortest / 2;
    }
    // A little room at both ends so the first and last samples do not sit on the frame.
    const double pad = (to - from) * 0.01;
    axis.from = from - pad;
    axis.to = to + pad;
    constexpr std::array<double, 15> kSteps{1.0 / 12, 1.0 / 6, 0.25, 0.5, 1,   2,   5,  10,
                                            15,       30,      60,   120, 180, 240, 360};
    axis.step = kSteps.back();
    for (const double step : kSteps) {
        if ((axis.to - axis.from) / step <= 10) {
            axis.step = step;
            break;
        }
    }
    return axis;
}

QString ClockLabel(double minutes, double step) {
    const auto total = static_cast<long long>(std::llround(minutes * 60));
    const long long seconds = ((total % 86400) + 86400) % 86400;
    if (step < 1) {
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'));
}

QCategoryAxis* MakeXAxis(const TimeAxis& time) {
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setRange(time.from, time.to);
    axis->setStartValue(time.from);
    for (double m = std::ceil(time.from / time.step) * time.step; m <= time.to; m += time.step) {
        axis->append(ClockLabel(m, time.step), m);
    }
    axis->setLabelsFont(Font(18));
    axis->setTitleText(QStringLiteral("日本標準時"));
    axis->setTitleFont(Font(18));
    axis->setGridLineVisible(true);
    return axis;
}

// At most a few points per pixel column (first, lowest, highest, last), in runs broken at gaps.
template <class Value>
std::vector<QList<QPointF>> Decimate(const std::vector<AngleSample>& samples, Span page,
                                     const TimeAxis& time, Value value) {
    std::vector<QList<QPointF>> runs;
    const auto begin = std::lower_bound(samples.begin(), samples.end(), page.start,
                                        [](const AngleSample& s, Millis t) { return s.time < t; });
    const double perPixel = (time.to - time.from) / kPlotWidth;
    Millis previous = std::numeric_limits<Millis>::min();
    long long column = std::numeric_limits<long long>::min();
    QPointF first, low, high, last;
    const auto flush = [&]() {
        if (column == std::numeric_limits<long long>::min()) {
            return;
        }
        QList<QPointF>& run = runs.back();
        run.append(first);
        // The extremes in the order they came, so the line keeps its shape.
        if (low.x() <= high.x()) {
            run.append(low);
            run.append(high);
        } else {
            run.append(high);
            run.append(low);
        }
        run.append(last);
    };
    for (auto it = begin; it != samples.end() && it->time <= page.end; ++it) {
        const QPointF point(time.Minutes(it->time), value(*it));
        const auto col = static_cast<long long>(std::floor((point.x() - time.from) / perPixel));
        if (previous == std::numeric_limits<Millis>::min() || it->time - previous > kGapMs) {
            flush();
            column = std::numeric_limits<long long>::min();
            runs.emplace_back();
        }
        if (col != column) {
            flush();
            column = col;
            first = low = high = last = point;
        } else {
            if (point.y() < low.y()) {
                low = point;
            }
            if (point.y() > high.y()) {
                high = point;
            }
            last = point;
        }
        previous = it->time;
    }
    flush();
    return runs;
}

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void Add(const std::vector<QList<QPointF>>& runs) {
        for (const auto& run : runs) {
            for (const QPointF& p : run) {
                low = std::min(low, p.y());
                high = std::max(high, p.y());
            }
        }
    }
};

class PageScene {
public:
    PageScene(const ReportInput& input, Span page, int number, int count)
        : input_(input), page_(page), time_(MakeTimeAxis(page)) {
        scene_.setSceneRect(0, 0, kPageWidth, kPageHeight);
        scene_.setBackgroundBrush(Qt::white);
        Title(number, count);
        double y = kTitleHeight;
        layout_.azimuthPlot = AngleChart(y, QStringLiteral("方位角（北から東回り）"),
                                         [](const AngleSample& s) { return s.azimuth; });
        y += kChartHeight;
        layout_.elevationPlot =
            AngleChart(y, QStringLiteral("仰角"), [](const AngleSample& s) { return s.elevation; });
        y += kChartHeight;
        layout_.beamPlot = BeamChart(y);
        y += kChartHeight;
        layout_.band = Band(y + 4);
        SummaryTable(layout_.band.bottom() + 70);
    }

    void Render(QPainter& painter, const QRectF& target) {
        // The charts lay out their titles, legends and axes in posted events.
        QCoreApplication::processEvents();
        for (QChart* chart : charts_) {
            chart->layout()->activate();
        }
        scene_.render(&painter, target, scene_.sceneRect(), Qt::KeepAspectRatio);
    }

    const PageLayout& Layout() const { return layout_; }

private:
    QGraphicsSimpleTextItem* Text(const QString& text, double x, double y, const QFont& font,
                                  const QColor& color = Qt::black) {
        auto* item = scene_.addSimpleText(text, font);
        item->setBrush(color);
        item->setPos(x, y);
        return item;
    }

    void Title(int number, int count) {
        const QString day = U(JstText(page_.start)).left(10);
        Text(QStringLiteral("太陽追尾の記録　%1（日本標準時）").arg(day), kMargin, 22,
             Font(34, true));
        Text(QStringLiteral("%1 / %2 ページ").arg(number).arg(count), kPageWidth - kMargin - 170,
             30, Font(22));
        QStringList names;
        for (const QString& file : input_.sessionFiles) {
            names << QFileInfo(file).fileName();
        }
        QString files = QStringLiteral("セッション記録: %1").arg(names.join(QStringLiteral("、")));
        if (!input_.controllerFile.isEmpty()) {
            files += QStringLiteral("　コントローラ記録: %1")
                         .arg(QFileInfo(input_.controllerFile).fileName());
        }
        if (files.size() > 110) {
            files = files.left(109) + QStringLiteral("…");
        }
        Text(files, kMargin, 72, Font(18), QColor(80, 80, 80));
    }

    QChart* Chart(double y, const QString& title) {
        auto* chart = new QChart;
        scene_.addItem(chart);
        charts_.push_back(chart);
        chart->setGeometry(kMargin, y, kPageWidth - 2 * kMargin, kChartHeight);
        chart->setBackgroundRoundness(0);
        // Title and legend are drawn beside the chart: with a fixed plot area (which lines up
        // the time axes of all three) the chart would squeeze its own to nothing.
        chart->legend()->hide();
        chart->setPlotArea(QRectF(kPlotLeft, kPlotTop, kPlotWidth, kPlotHeight));
        Text(title, kMargin + 10, y + 10, Font(22, true));
        legendX_ = kPageWidth - kMargin - 20;
        legendY_ = y + 14;
        return chart;
    }

    // A legend entry, placed right to left along the chart's title line.
    void LegendEntry(const QString& name, const QPen& pen) {
        auto* label = Text(name, 0, legendY_, Font(18));
        legendX_ -= label->boundingRect().width();
        label->setPos(legendX_, legendY_);
        QPen sample = pen;
        sample.setWidthF(std::max(pen.widthF(), 3.0));
        scene_.addLine(legendX_ - 44, legendY_ + 11, legendX_ - 8, legendY_ + 11, sample);
        legendX_ -= 44 + 28;
    }

    QRectF PlotRect(double y) const {
        return QRectF(kMargin + kPlotLeft, y + kPlotTop, kPlotWidth, kPlotHeight);
    }

    void AddRuns(QChart* chart, const std::vector<QList<QPointF>>& runs, const QString& name,
                 const QPen& pen, QAbstractAxis* x, QAbstractAxis* y) {
        for (const auto& run : runs) {
            auto* series = new QLineSeries;
            series->setName(name);
            series->setPen(pen);
            series->replace(run);
            chart->addSeries(series);
            series->attachAxis(x);
            series->attachAxis(y);
        }
        LegendEntry(name, pen);
    }

    QValueAxis* YAxis(QChart* chart, Range range, const QString& title, double minimumSpan,
                      std::optional<double> floor) {
        if (!(range.low <= range.high)) {
            range = {floor.value_or(0), floor.value_or(0) + minimumSpan};
        }
        if (range.high - range.low < minimumSpan) {
            const double middle = (range.low + range.high) / 2;
            range = {middle - minimumSpan / 2, middle + minimumSpan / 2};
        }
        const double pad = (range.high - range.low) * 0.08;
        double low = range.low - pad;
        if (floor && low < *floor) {
            low = *floor;
        }
        const double high = range.high + pad;
        // Round steps anchored at 0; the range ends between ticks, since the chart hides a
        // label that would sit on the top edge of a fixed plot area.
        const double raw = (high - low) / 5;
        const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
        double step = magnitude * 10;
        for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
            if (magnitude * factor >= raw) {
                step = magnitude * factor;
                break;
            }
        }
        auto* axis = new QValueAxis;
        axis->setRange(low, high);
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
        axis->setTickInterval(step);
        const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
        axis->setLabelFormat(
            QStringLiteral("%.%1f").arg(decimals + (step == magnitude * 2.5 ? 1 : 0)));
        axis->setLabelsFont(Font(18));
        axis->setTitleText(title);
        axis->setTitleFont(Font(18));
        chart->addAxis(axis, Qt::AlignLeft);
        return axis;
    }

    template <class Value>
    QRectF AngleChart(double y, const QString& title, Value value) {
        QChart* chart = Chart(y, title);
        const Timeline& t = *input_.timeline;
        const auto commanded = Decimate(t.commands, page_, time_, value);
        const auto reported = Decimate(t.replies, page_, time_, value);
        const auto controller = Decimate(t.controllerPositions, page_, time_, value);
        Range range;
        range.Add(commanded);
        range.Add(reported);
        range.Add(controller);
        auto* x = MakeXAxis(time_);
        chart->addAxis(x, Qt::AlignBottom);
        auto* yAxis = YAxis(chart, range, QStringLiteral("度"), 1.0, std::nullopt);
        // Broad replies beneath a thin command: where the mount follows, the command runs
        // inside the reply's band; where it lags, the two part. (Dashed pens would tell them
        // apart too, but cost a quarter of a second on a day's samples.)
        AddRuns(chart, reported, QStringLiteral("応答（現在角度）"), QPen(kReported, 7), x, yAxis);
        if (!controller.empty()) {
            AddRuns(chart, controller, QStringLiteral("コントローラ記録"), QPen(kController, 3.5),
                    x, yAxis);
        }
        AddRuns(chart, commanded, QStringLiteral("指令"), QPen(kCommanded, 1.5), x, yAxis);
        return PlotRect(y);
    }

    QRectF BeamChart(double y) {
        QChart* chart = Chart(y, QStringLiteral("ビーム誤差（目標と反射光のなす角）"));
        const Timeline& t = *input_.timeline;
        // Errors of a swinging mirror (100° and more) and of a tracking one (hundredths) on
        // one page: past two decades the axis is logarithmic, or the tracking would lie flat
        // on zero. Zero itself (four decimals) is drawn at the floor.
        constexpr double kLogFloor = 0.001;
        double smallest = std::numeric_limits<double>::infinity(), largest = 0;
        for (const ValueSample& s : t.beamErrors) {
            if (s.time >= page_.start && s.time <= page_.end) {
                smallest = std::min(smallest, std::max(s.value, kLogFloor));
                largest = std::max(largest, s.value);
            }
        }
        const bool logarithmic = largest > 0 && largest / smallest >= 100;
        std::vector<AngleSample> beam;
        beam.reserve(t.beamErrors.size());
        for (const ValueSample& s : t.beamErrors) {
            beam.push_back({s.time, logarithmic ? std::max(s.value, kLogFloor) : s.value, 0});
        }
        const auto runs =
            Decimate(beam, page_, time_, [](const AngleSample& s) { return s.azimuth; });
        Range range;
        range.Add(runs);
        if (t.beamThreshold) {
            range.low = std::min(range.low, std::max(*t.beamThreshold, kLogFloor));
            range.high = std::max(range.high, *t.beamThreshold);
        }
        auto* x = MakeXAxis(time_);
        chart->addAxis(x, Qt::AlignBottom);
        QAbstractAxis* yAxis = nullptr;
        if (logarithmic) {
            auto* axis = new QLogValueAxis;
            axis->setBase(10);
            // Whole decades, the outer ones inside the range so that their labels are drawn.
            axis->setRange(std::pow(10.0, std::floor(std::log10(range.low))) / 1.5,
                           std::pow(10.0, std::ceil(std::log10(range.high))) * 1.5);
            axis->setLabelFormat(QStringLiteral("%g"));
            axis->setMinorTickCount(8);
            axis->setLabelsFont(Font(18));
            axis->setTitleText(QStringLiteral("度（対数目盛）"));
            axis->setTitleFont(Font(18));
            chart->addAxis(axis, Qt::AlignLeft);
            yAxis = axis;
            layout_.beamLogarithmic = true;
        } else {
            yAxis = YAxis(chart, range, QStringLiteral("度"), 0.1, 0.0);
        }
        AddRuns(chart, runs, QStringLiteral("ビーム誤差"), QPen(kBeam, 2), x, yAxis);
        if (t.beamThreshold) {
            AddRuns(chart,
                    {{QPointF(time_.from, *t.beamThreshold), QPointF(time_.to, *t.beamThreshold)}},
                    QStringLiteral("警報しきい値 %1°").arg(*t.beamThreshold),
                    QPen(kThreshold, 2, Qt::DashLine), x, yAxis);
        }
        const QRectF plot = PlotRect(y);
        if (runs.empty()) {
            auto* note = Text(QStringLiteral("この記録にはビーム誤差がありません"), 0, 0, Font(24),
                              QColor(120, 120, 120));
            note->setPos(plot.center() - note->boundingRect().center());
        }
        return plot;
    }

    double X(Millis t) const {
        return kMargin + kPlotLeft +
               (time_.Minutes(t) - time_.from) / (time_.to - time_.from) * kPlotWidth;
    }

    // The link's state as coloured bands, one colour per pixel column, and the marks above it.
    QRectF Band(double y) {
        const QRectF band(kMargin + kPlotLeft, y + 26, kPlotWidth, kBandHeight);
        Text(QStringLiteral("リンク状態"), kMargin, band.top() + 10, Font(18, true));
        const auto columns = static_cast<std::size_t>(kPlotWidth);
        std::vector<std::array<double, 4>> share(columns, {0, 0, 0, 0});
        const double left = band.left();
        for (const StateSpan& s : input_.timeline->states) {
            if (s.span.end < page_.start || s.span.start > page_.end) {
                continue;
            }
            const double a =
                std::clamp(X(std::max(s.span.start, page_.start)) - left, 0.0, kPlotWidth);
            const double b = std::clamp(X(std::min(s.span.end, page_.end)) - left, 0.0, kPlotWidth);
            for (auto c = static_cast<std::size_t>(a); c < columns && static_cast<double>(c) < b;
                 ++c) {
                const double overlap =
                    std::min(b, static_cast<double>(c + 1)) - std::max(a, static_cast<double>(c));
                share[c][static_cast<std::size_t>(s.state)] += std::max(overlap, 1e-6);
            }
        }
        scene_.addRect(band, QPen(QColor(150, 150, 150)), QBrush(Qt::white));
        std::size_t c = 0;
        while (c < columns) {
            // Any outage in a column shows (a 6 s outage is a fraction of a column of a
            // long day, and the point of the band); otherwise the state that held longest.
            const auto best = [&](std::size_t i) {
                const auto& s = share[i];
                if (s[static_cast<std::size_t>(LinkState::Silent)] > 0) {
                    return static_cast<int>(LinkState::Silent);
                }
                const auto it = std::max_element(s.begin(), s.end());
                return *it > 0 ? static_cast<int>(it - s.begin()) : -1;
            };
            const int state = best(c);
            std::size_t end = c + 1;
            while (end < columns && best(end) == state) {
                ++end;
            }
            if (state >= 0) {
                scene_.addRect(QRectF(left + static_cast<double>(c), band.top(),
                                      static_cast<double>(end - c), band.height()),
                               Qt::NoPen, StateColor(static_cast<LinkState>(state)));
            }
            c = end;
        }
        // Marks: a small triangle above the band per pixel column and kind.
        std::vector<std::array<bool, 5>> marked(columns, {false, false, false, false, false});
        for (const Mark& m : input_.timeline->marks) {
            if (m.time < page_.start || m.time > page_.end) {
                continue;
            }
            const double x = X(m.time);
            const auto col = static_cast<std::size_t>(std::clamp(x - left, 0.0, kPlotWidth - 1));
            const auto kind = static_cast<std::size_t>(m.kind);
            if (marked[col][kind]) {
                continue;
            }
            marked[col][kind] = true;
            const double top = band.top() - 22 + 4 * static_cast<double>(kind);
            QPolygonF triangle;
            triangle << QPointF(x - 6, top) << QPointF(x + 6, top) << QPointF(x, top + 12);
            scene_.addPolygon(triangle, Qt::NoPen, MarkColor(m.kind));
        }
        // The legend under the band.
        double x = band.left();
        const double ly = band.bottom() + 12;
        for (const LinkState s :
             {LinkState::OnTarget, LinkState::Moving, LinkState::Silent, LinkState::Stopped}) {
            scene_.addRect(QRectF(x, ly + 3, 22, 16), Qt::NoPen, StateColor(s));
            x += 30 +
                 Text(QString::fromUtf8(StateName(s)), x + 28, ly, Font(18))
                     ->boundingRect()
                     .width() +
                 24;
        }
        const std::array<std::pair<MarkKind, const char*>, 5> kinds{
            {{MarkKind::Failure, "失敗"},
             {MarkKind::Stow, "退避"},
             {MarkKind::BeamAlarm, "ビーム警報"},
             {MarkKind::Lost, "記録の欠落"},
             {MarkKind::Clock, "時計の警告"}}};
        for (const auto& [kind, name] : kinds) {
            QPolygonF triangle;
            triangle << QPointF(x, ly + 4) << QPointF(x + 14, ly + 4) << QPointF(x + 7, ly + 18);
            scene_.addPolygon(triangle, Qt::NoPen, MarkColor(kind));
            x += 22 + Text(QString::fromUtf8(name), x + 20, ly, Font(18))->boundingRect().width() +
                 24;
        }
        return band;
    }

    void SummaryTable(double y) {
        // The whole JST day (within --from/--to), so that a run across midnight loses nothing
        // between the last row of one page and the first of the next.
        Span day{JstMidnight(page_.start), JstMidnight(page_.start) + kDayMs - 1};
        if (input_.range) {
            day = {std::max(day.start, input_.range->start), std::min(day.end, input_.range->end)};
        }
        Summary s = Summarise(*input_.timeline, day);
        Text(QStringLiteral("この日の要約"), kMargin, y, Font(24, true));
        y += 44;
        const auto share = s.OnTargetShare();
        const auto fixed = [](double v, int d) { return QString::number(v, 'f', d); };
        std::vector<std::pair<QString, QString>> rows{
            {QStringLiteral("期間"),
             s.span ? QStringLiteral("%1 ～ %2（%3）")
                          .arg(U(JstText(s.span->start)).mid(11), U(JstText(s.span->end)).mid(11),
                               U(DurationText(s.span->Length())))
                    : QStringLiteral("記録なし")},
            {QStringLiteral("コマンド"), QString::number(s.commands)},
            {QStringLiteral("有効な応答 / 無効な応答"),
             QStringLiteral("%1 / %2").arg(s.replies).arg(s.invalidReplies)},
            {QStringLiteral("目標上の時間"),
             share ? QStringLiteral("%1 %（運転中 %2 のうち）")
                         .arg(fixed(*share * 100, 1), U(DurationText(s.running)))
                   : QStringLiteral("運転なし")},
            {QStringLiteral("ビーム誤差 中央値 / 95% / 最大"),
             s.beamMedian
                 ? QStringLiteral("%1° / %2° / %3°")
                       .arg(fixed(*s.beamMedian, 4), fixed(*s.beamP95, 4), fixed(*s.beamMax, 4))
                 : QStringLiteral("記録なし")},
            {QStringLiteral("失われた記録 / 読めない行"),
             QStringLiteral("%1 / %2").arg(s.recordsLost).arg(input_.malformedLines)},
            {QStringLiteral("途絶"), QStringLiteral("%1 回").arg(s.outages.size())},
        };
        if (!input_.controllerFile.isEmpty()) {
            rows.insert(rows.begin() + 3, {QStringLiteral("コントローラが受けたコマンド"),
                                           QStringLiteral("%1（拒否 %2）")
                                               .arg(s.controllerCommands)
                                               .arg(s.controllerRejected)});
        }
        const double valueX = kMargin + 420;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (i % 2 == 0) {
                scene_.addRect(QRectF(kMargin, y - 4, kPageWidth - 2 * kMargin, 34), Qt::NoPen,
                               QColor(240, 243, 248));
            }
            Text(rows[i].first, kMargin + 10, y, Font(21));
            Text(rows[i].second, valueX, y, Font(21));
            y += 34;
        }
        // The outages, as many as the page holds.
        constexpr std::size_t kShown = 6;
        for (std::size_t i = 0; i < s.outages.size() && i < kShown; ++i) {
            const Outage& o = s.outages[i];
            QString reason = U(o.reason);
            if (reason.size() > 40) {
                reason = reason.left(39) + QStringLiteral("…");
            }
            Text(QStringLiteral("%1 ～ %2　%3　%4%5")
                     .arg(U(JstText(o.span.start)).mid(11), U(JstText(o.span.end)).mid(11),
                          U(DurationText(o.span.Length())), reason,
                          o.open ? QStringLiteral("（記録の終わりまで）") : QString()),
                 valueX, y, Font(19), QColor(150, 20, 20));
            y += 28;
        }
        if (s.outages.size() > kShown) {
            Text(QStringLiteral("ほか %1 回（--summary で全部）").arg(s.outages.size() - kShown),
                 valueX, y, Font(19), QColor(150, 20, 20));
        }
    }

    const ReportInput& input_;
    Span page_;
    TimeAxis time_;
    QGraphicsScene scene_;
    std::vector<QChart*> charts_;
    PageLayout layout_;
    double legendX_ = 0, legendY_ = 0;
};

}  // namespace

std::vector<Span> PageSpans(const ReportInput& input) {
    std::vector<Span> pages;
    const std::vector<Millis>& times = input.timeline->windowTimes;
    for (const Millis t : times) {
        if (input.range && (t < input.range->start || t > input.range->end)) {
            continue;
        }
        if (!pages.empty() && JstMidnight(pages.back().start) == JstMidnight(t)) {
            pages.back().end = t;
        } else {
            pages.push_back({t, t});
        }
    }
    return pages;
}

QImage RenderPage(const ReportInput& input, Span page, PageLayout* layout) {
    const std::vector<Span> pages = PageSpans(input);
    const auto it = std::find_if(pages.begin(), pages.end(),
                                 [&](const Span& s) { return s.start == page.start; });
    PageScene scene(input, page, static_cast<int>(it - pages.begin()) + 1,
                    static_cast<int>(pages.size()));
    QImage image(kPageWidth, kPageHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    scene.Render(painter, QRectF(0, 0, kPageWidth, kPageHeight));
    painter.end();
    if (layout) {
        *layout = scene.Layout();
    }
    return image;
}

void WriteReport(const ReportInput& input, const QString& path, int page) {
    const auto unwritable = [&path] {
        return HeliostatError(QStringLiteral("%1 に書けません").arg(path).toStdString(), "write");
    };
    const std::vector<Span> pages = PageSpans(input);
    if (pages.empty()) {
        throw HeliostatError("描く記録がありません（指定の期間にウィンドウの記録がありません）",
                             "write");
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    const int count = static_cast<int>(pages.size());
    if (page > count) {
        throw HeliostatError(QStringLiteral("%1 ページ目はありません（全 %2 ページ）")
                                 .arg(page)
                                 .arg(count)
                                 .toStdString(),
                             "write");
    }
    const int shown = std::max(page, 1);
    const Span chosen = pages[static_cast<std::size_t>(shown - 1)];
    if (suffix == QStringLiteral("png")) {
        const QImage image = RenderPage(input, chosen);
        // zlib's fast levels: a third of the time of its default for a few per cent more bytes.
        if (!image.save(path, "PNG", 80)) {
            throw unwritable();
        }
        return;
    }
    if (suffix == QStringLiteral("svg")) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(kPageWidth, kPageHeight));
        svg.setViewBox(QRect(0, 0, kPageWidth, kPageHeight));
        svg.setTitle(QStringLiteral("太陽追尾の記録"));
        QPainter painter;
        if (!painter.begin(&svg)) {
            throw unwritable();
        }
        PageScene scene(input, chosen, shown, count);
        scene.Render(painter, QRectF(0, 0, kPageWidth, kPageHeight));
        if (!painter.end()) {
            throw unwritable();
        }
        return;
    }
    QPdfWriter pdf(path);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(8, 8, 8, 8), QPageLayout::Millimeter);
    pdf.setResolution(200);
    pdf.setTitle(QStringLiteral("太陽追尾の記録"));
    pdf.setCreator(QStringLiteral("heliostat-report"));
    QPainter painter;
    if (!painter.begin(&pdf)) {
        throw unwritable();
    }
    // A PDF holds every day, or only the page asked for.
    for (int i = page > 0 ? page - 1 : 0; i < (page > 0 ? page : count); ++i) {
        if (i > std::max(page - 1, 0)) {
            pdf.newPage();
        }
        PageScene scene(input, pages[static_cast<std::size_t>(i)], i + 1, count);
        scene.Render(painter, QRectF(painter.viewport()));
    }
    if (!painter.end()) {
        throw unwritable();
    }
}

}  // namespace heliostat::report
