// What the benchmarks of the popup share: a steady clock in microseconds (the line simulator's
// log uses the same), the time the popup's number label first painted each text, percentiles.
#pragma once

#include <QEvent>
#include <QHash>
#include <QLabel>
#include <QObject>

#include <algorithm>
#include <chrono>
#include <vector>

inline qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Times when the popup's number label painted each text, first paint only.
class PaintWatch : public QObject
{
public:
    QHash<QString, qint64> paintedAt;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const QString text = static_cast<QLabel *>(watched)->text();
            if (!paintedAt.contains(text)) paintedAt.insert(text, nowUs());
        }
        return false;
    }
};

inline double percentile(std::vector<qint64> values, double p)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return double(values[std::min(values.size() - 1, size_t(p * double(values.size())))]);
}
