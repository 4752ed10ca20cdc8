#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>

// One pending call: an ordered list of name=value lines ("Caller", "NickName", "Target",
// "Town", "Address", "Time", later "AdditionalInfo"). Names compare case-insensitively; an
// empty value removes its line, so an absent and an empty value read the same.
class TCallRecord
{
public:
    QString value(const QString &name) const;
    void setValue(const QString &name, const QString &value);
    QStringList names() const;
    // "name=value" per line, in order.
    QStringList lines() const;

    bool operator==(const TCallRecord &) const = default;

    // The call handling's id of the call the record belongs to (0: none). Not a line.
    quint64 CallId = 0;

private:
    qsizetype indexOf(const QString &name) const;

    QList<std::pair<QString, QString>> FLines;
};

// Raised by TCalls::Get for an index outside the list.
class TCallsIndexError : public std::out_of_range
{
public:
    explicit TCallsIndexError(int index);
    int index() const { return FIndex; }

private:
    int FIndex;
};

// The calls since the user last acknowledged the popup, oldest first. After Acknowledge only
// the newest stays, and the next call takes its place instead of joining it.
//
// Owned by the main window for the whole run; main thread only.
class TCalls
{
public:
    void Add(const QString &Caller, const QString &NickName, const QString &Time,
             const QString &Address, const QString &Town, const QString &Target);
    int Count() const { return int(FRecords.size()); }
    // A negative index means the newest record. Throws TCallsIndexError for a bad index.
    TCallRecord &Get(int Index);
    const TCallRecord &Get(int Index) const;
    // The record's NickName is not empty; false for a bad index.
    bool HasNickName(int Index) const;
    void Acknowledge();
    bool IsAcknowledged() const { return FAcknowledged; }

private:
    int resolve(int Index) const;

    QList<TCallRecord> FRecords;
    bool FAcknowledged = true;
};
