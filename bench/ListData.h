// Lists for the benchmarks: calls and nicknames as a long-time user has them.
#pragma once

#include "lists/DayCount.h"
#include "lists/lists.h"

#include <QRandomGenerator>

inline QList<CallRow> makeCalls(int count)
{
    QRandomGenerator random(2025);
    const QStringList towns = {"Berlin", "Hamburg", QString::fromUtf8("München"), "Oldenburg", " "};
    const QStringList states = {"answered", "not anwsered", "busy", "rejected"};
    QList<CallRow> rows;
    double key = 44000.3;
    for (int i = 0; i < count; ++i) {
        key += random.bounded(0.02);
        CallRow row;
        row.dateTime = DayCount::keyText(key);
        row.number = "0" + QString::number(30000000 + random.bounded(20000));
        row.nickname =
            random.bounded(3) == 0 ? " " : "Nick " + QString::number(random.bounded(500));
        row.town = towns[random.bounded(towns.size())];
        row.target = "Office " + QString::number(random.bounded(3));
        row.status = states[random.bounded(states.size())];
        rows.append(row);
    }
    return rows;
}

// 9 exact entries to 1 prefix entry ("0400123*"), in no particular order.
inline QList<NickRow> makeNicks(int count)
{
    QList<NickRow> rows;
    for (int i = 0; i < count; ++i) {
        const QString number = "0" + QString::number(400000000 + i * 7919);
        if (i % 10 == 9)
            rows.append({"Group " + QString::number(i), number.left(7) + "*", "", "log|"});
        else
            rows.append({"Nick " + QString::number(i), number, "", "log|popup|"});
    }
    return rows;
}
