#include "lists/Calls.h"

QString TCallRecord::value(const QString &name) const
{
    const qsizetype i = indexOf(name);
    return i < 0 ? QString() : FLines.at(i).second;
}

void TCallRecord::setValue(const QString &name, const QString &value)
{
    const qsizetype i = indexOf(name);
    if (value.isEmpty()) {
        if (i >= 0) FLines.removeAt(i);
    } else if (i >= 0) {
        FLines[i].second = value;
    } else {
        FLines.append({name, value});
    }
}

QStringList TCallRecord::names() const
{
    QStringList result;
    for (const auto &line : FLines)
        result.append(line.first);
    return result;
}

QStringList TCallRecord::lines() const
{
    QStringList result;
    for (const auto &line : FLines)
        result.append(line.first + u'=' + line.second);
    return result;
}

qsizetype TCallRecord::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < FLines.size(); ++i) {
        if (FLines.at(i).first.compare(name, Qt::CaseInsensitive) == 0) return i;
    }
    return -1;
}

TCallsIndexError::TCallsIndexError(int index)
    : std::out_of_range("Fatal Error: TCalls.Get index error: " + std::to_string(index)),
      FIndex(index)
{
}

void TCalls::Add(const QString &Caller, const QString &NickName, const QString &Time,
                 const QString &Address, const QString &Town, const QString &Target)
{
    TCallRecord record;
    record.setValue(QStringLiteral("Caller"), Caller);
    record.setValue(QStringLiteral("NickName"), NickName);
    record.setValue(QStringLiteral("Target"), Target);
    record.setValue(QStringLiteral("Town"), Town);
    record.setValue(QStringLiteral("Address"), Address);
    record.setValue(QStringLiteral("Time"), Time);
    if (FAcknowledged && FRecords.size() == 1)
        FRecords.first() = record;
    else
        FRecords.append(record);
    FAcknowledged = false;
}

int TCalls::resolve(int Index) const
{
    const int index = Index < 0 ? Count() - 1 : Index;
    if (index < 0 || index > Count() - 1) throw TCallsIndexError(index);
    return index;
}

TCallRecord &TCalls::Get(int Index)
{
    return FRecords[resolve(Index)];
}

const TCallRecord &TCalls::Get(int Index) const
{
    return FRecords.at(resolve(Index));
}

bool TCalls::HasNickName(int Index) const
{
    try {
        return !Get(Index).value(QStringLiteral("NickName")).isEmpty();
    } catch (const TCallsIndexError &) {
        return false;
    }
}

void TCalls::Acknowledge()
{
    FAcknowledged = true;
    while (FRecords.size() > 1)
        FRecords.removeFirst();
}
