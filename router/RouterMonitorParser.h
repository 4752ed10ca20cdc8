// The lines a home router's call monitor sends (TCP port 1012), turned into events. One line
// per event, fields ended by ';', lines ended by CR LF or LF:
//
//     08.12.26 14:03:11;RING;0;0441123456;85606;SIP0;
//     08.12.26 14:03:15;CONNECT;0;12;0441123456;
//     08.12.26 14:05:20;DISCONNECT;0;125;
//     08.12.26 14:10:02;CALL;1;12;85606;0302222;SIP0;
//
// Pure functions and a small stateful splitter; no sockets, no event loop. The router is a
// peer we do not control: every line is checked, and what is kept of a line is bounded.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace router {

enum class EventKind
{
    Ring,
    Call,
    Connect,
    Disconnect
};

struct TMonitorEvent
{
    EventKind Kind = EventKind::Ring;
    int ConnectionId = 0; // 0..999999; ids are reused by the router for later calls
    QString Caller;       // RING: the caller, normalised (empty: withheld)
    QString Called;       // RING: the own number called; CALL: the number dialled (normalised)
    QString OwnNumber;    // CALL: the own number used (normalised)
    int Extension = -1;   // CONNECT, CALL: the extension (-1 when the field is empty)
    QString Line;         // RING, CALL: "SIP0", "POTS", "ISDN"… (printable ASCII only, max 16)
    int Duration = -1;    // DISCONNECT: seconds (-1 when missing)

    bool operator==(const TMonitorEvent &) const = default;
};

// Trailing '#' (any number) removed, a leading "00" or "+" becomes "++" (the program's
// international form: "0044…" -> "++44…", "+44…" -> "++44…"; "++44…" stays), spaces trimmed.
// A result that is not digits (after a leading "++"), or longer than 32 digits, or empty, gives
// an empty string: such a caller counts as withheld; a call is never dropped for its number.
QString NormaliseNumber(QStringView raw);

// One line without its line end (a trailing CR is tolerated): the event, or nullopt with *why
// (a short English reason for the log: "unknown event FOO", "RING without caller field", ...).
// An empty line gives nullopt with an empty *why: it is skipped silently.
std::optional<TMonitorEvent> ParseLine(QByteArrayView line, QString *why = nullptr);

// Bytes from the peer made fit for the log: at most 60 characters, control characters and
// non-ASCII shown as '?', cut with "..." when longer.
QString Excerpt(QByteArrayView bytes);

// Splits what the router sends into lines and parses them. Owned by the monitor's socket
// source; one connection at a time; not thread-safe.
class TMonitorParser
{
public:
    // The longest line kept (without its line end); longer lines are skipped whole up to their
    // line end, so memory stays bounded whatever the peer sends.
    static constexpr qsizetype MaxLineLength = 512;

    struct TResult
    {
        std::vector<TMonitorEvent> Events;
        QStringList Skipped;
    };

    // Bytes as they came from the socket, cut anywhere (CR LF or LF end a line; CR LF split
    // across two reads must work). Returns the events of the lines completed by these bytes, in
    // order, and a reason per skipped line (with an excerpt of it, see Excerpt).
    TResult Feed(QByteArrayView bytes);
    // A new connection: a partial line from the old one is dropped.
    void Reset();
    // The bytes of the unfinished line kept now (never more than MaxLineLength).
    qsizetype PendingLength() const { return FLine.size(); }

private:
    void Take(QByteArrayView part);
    void Append(QByteArrayView part);
    void EndLine(TResult &result);

    QByteArray FLine;         // the unfinished line, without a CR that may end it
    bool FCr = false;         // a CR came last: the line end's, or part of the line
    qsizetype FOverlong = -1; // while skipping a line too long: its length so far
    QString FOverlongStart;   // the beginning of that line, for the log
};

} // namespace router
