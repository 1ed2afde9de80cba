#pragma once

// Helpers shared by the window tests: a fixed clock, a loopback peer standing in for the
// antenna controller, an automatic answer for modal boxes and a plain-memory cycle host.

#include <QApplication>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QPushButton>
#include <QTimer>
#include <QUdpSocket>
#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "base/jst_clock.h"
#include "cycle/solcal.h"
#include "link/loopback_peer.h"
#include "link/wire.h"
#include "ui/chart_view.h"

namespace heliostat::ui::test {

inline std::chrono::system_clock::time_point Jst(int year, int month, int day, int hour, int minute,
                                                 int second = 0) {
    base::JstDateTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return base::FromJst(t);
}

// A clock the test moves by hand.
struct ManualClock {
    std::chrono::system_clock::time_point now = Jst(2026, 6, 21, 12, 0);
    base::UtcClock Function() {
        return [this] { return now; };
    }
};

using link::test::Peer;

// Waits for the next modal message box, remembers it and answers it with `answer`.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QMessageBox*)> answer) : answer_(std::move(answer)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            timer_.stop();
            text = box->text();
            icon = box->icon();
            isDefaultNo = box->defaultButton() == box->button(QMessageBox::No);
            ++boxes;
            answer_(box);
        });
        timer_.start();
    }
    static ModalAnswerer Pressing(QMessageBox::StandardButton button) {
        return ModalAnswerer([button](QMessageBox* box) {
            if (QAbstractButton* b = box->button(button)) {
                b->click();
            } else {
                box->close();
            }
        });
    }

    int boxes = 0;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool isDefaultNo = false;

private:
    std::function<void(QMessageBox*)> answer_;
    QTimer timer_;
};

// The cycle over plain memory, to learn what the window should show and send for the same
// inputs.
class MemoryHost : public cycle::CycleHost {
public:
    std::map<cycle::Field, std::string> texts;
    std::string sent;

    std::string ReadText(cycle::Field field) override { return texts[field]; }
    void WriteText(cycle::Field field, std::string_view text) override {
        texts[field] = std::string(text);
    }
    cycle::ChartSurface& Chart() override { return chart_; }
    void SendMirrorCommand() override {
        sent = link::CommandPayload(texts[cycle::Field::MirrorAzimuth],
                                    texts[cycle::Field::MirrorElevation]);
    }

private:
    cycle::NullChart chart_;
};

inline bool IsSunRed(const QColor& c) {
    return c.red() == 255 && c.green() == 0 && c.blue() == 0;
}

inline int RedPixelCount(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += IsSunRed(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return count;
}

// The filled circles drawn since the last clearing (the sun marker).
inline QList<ChartView::Operation> FilledCircles(const ChartView& chart) {
    QList<ChartView::Operation> found;
    for (const auto& op : chart.Operations()) {
        if (op.kind == ChartView::Operation::Kind::Circle && op.filled) {
            found.push_back(op);
        }
    }
    return found;
}

}  // namespace heliostat::ui::test
