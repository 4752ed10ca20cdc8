// FindTown's prefix index against the rule read line by line. The input is table lines, then
// a line with the number to look up.

#include "phone/isdntool.h"

#include <cstdint>

namespace {

QString findByScan(const QStringList &lines, const QString &number)
{
    const bool plus = number.startsWith(u'+');
    for (const QString &line : lines) {
        const qsizetype blank = line.indexOf(u' ');
        if (blank <= 0) continue;
        const qsizetype p = number.indexOf(line.left(blank)) + 1;
        if ((plus && p == 1) || (!plus && p == 2)) {
            QString town = line.mid(blank, AreaCodeTable::MaxNameLength);
            while (!town.isEmpty() && town.front().unicode() <= 32)
                town.remove(0, 1);
            while (!town.isEmpty() && town.back().unicode() <= 32)
                town.chop(1);
            return town;
        }
    }
    return QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList lines = text.split(u'\n');
    const QString number = lines.takeLast();
    AreaCodeTable table;
    table.setLines(lines);
    if (table.FindTown(number) != findByScan(lines, number)) __builtin_trap();
    return 0;
}
