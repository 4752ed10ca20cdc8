// What the long-run test rings and what it expects of each call: its kind, the simulator's
// command, and the row the "Calls" file must hold for it. Also the file's rows as stored and,
// for the ISDN line, each call as the line simulator's message log tells it, so that the rows
// are checked against what happened on the line as well as against the plan.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace soak {

enum class Line
{
    Capi,  // the ISDN line, the simulator loaded in process
    Router // a home router's call monitor, the simulator's router port
};

enum class Kind
{
    Unknown,     // nobody the program knows: looked up on the server
    Nickname,    // from the phone book
    BlockedNick, // from a phone-book entry that rejects every call
    BlockedMsn,  // to the own number whose entry rejects every call
    Withheld,    // without number
    UserReject,  // rejected with the popup's button (ISDN only)
    Dropped,     // rings while the router's connection drops
};

const QString kOffice = QStringLiteral("85606");
const QString kBlockedMsn = QStringLiteral("85607");
const QString kOfficeName = QStringLiteral("Office");
const QString kBlockedMsnName = QStringLiteral("Blocked line");
const QString kBlank = QStringLiteral(" ");
const QString kWithheld = QStringLiteral("-not transmitted-");
const QString kTown = QStringLiteral("Berlin"); // every number is in 030

// The call list's English status words (the spelling is the stored one).
const QString kAnswered = QStringLiteral("answered");
const QString kNotAnswered = QStringLiteral("not anwsered");
const QString kBusy = QStringLiteral("busy");
const QString kRejected = QStringLiteral("rejected");
const QString kUnknown = QStringLiteral("unknown");

// What the lookup server answers for a number: the name, then an address line.
inline QString LookupName(const QString &number)
{
    return QStringLiteral("Lookup ") + number;
}
inline QByteArray LookupBody(const QString &number)
{
    return (LookupName(number) + QStringLiteral("\r\nSoak Street 1\r\n")).toUtf8();
}

struct Call
{
    Kind kind = Kind::Unknown;
    QString number; // as the program shows it: "0" and the digits, or kWithheld
    QString ring;   // the simulator's command
    bool hangs = false; // the lookup server does not answer in time for it
    // The row it must have.
    QString nickname = kBlank;
    QString target = kOfficeName;
    QString status;

    // The program asks the lookup server for the caller (a rejected one too: it is shown).
    bool lookedUp() const
    {
        return number != kWithheld && kind != Kind::Nickname && kind != Kind::BlockedNick;
    }
};

// The calls rung in bulk, by their place in the run: mostly unknown callers, every tenth from
// the phone book and as many from entries that reject them, every twentieth without number,
// every fiftieth to the own number that rejects every call.
inline Kind BulkKind(int index)
{
    if (index % 20 == 5) return Kind::Withheld;
    if (index % 10 == 3) return Kind::Nickname;
    if (index % 10 == 7) return Kind::BlockedNick;
    if (index % 50 == 11) return Kind::BlockedMsn;
    return Kind::Unknown;
}

// Digits as the exchange sends a national number (type 0x21); distinct for every call of the
// run, the specials in a range of their own.
inline QString Digits(Line line, bool special, int serial)
{
    const char *range = line == Line::Capi ? (special ? "309" : "301") : (special ? "308" : "302");
    return QStringLiteral("%1%2").arg(QLatin1String(range)).arg(serial, 7, 10, QLatin1Char('0'));
}

// The ring command and the outcome. On the ISDN line the call ends by itself with one of three
// reasons, or is rejected; the router's calls go one of five ways (the router rejects nothing).
inline void PlanOutcome(Line line, int index, Call &call, const QString &base)
{
    // Calls overlap: each rings between 50 and 400 ms.
    const double seconds = 0.05 + (index % 8) * 0.05;
    const QString endAfter = QString::number(seconds, 'f', 2);
    const QString answeredEnd = QString::number(seconds + 0.05, 'f', 2);
    if (line == Line::Capi) {
        if (call.kind == Kind::BlockedNick || call.kind == Kind::BlockedMsn) {
            // Rings long enough for the program's reject to end it, however busy it is.
            call.ring = base + QStringLiteral(" --end-after 10");
            call.status = kRejected;
            return;
        }
        static const struct
        {
            const char *reason;
            const QString &status;
        } Ends[] = {{"0x3490", kNotAnswered}, {"0x34a2", kBusy}, {"0x3400", kAnswered}};
        const auto &end = Ends[index % 3];
        call.ring = base + QStringLiteral(" --end-after %1 --reason %2")
                               .arg(endAfter, QLatin1String(end.reason));
        call.status = end.status;
        return;
    }
    switch (index % 5) {
    case 0:
        call.ring = base + QStringLiteral(" --end-after ") + endAfter;
        call.status = kNotAnswered;
        break;
    case 1:
        call.ring = base + QStringLiteral(" --answer-after 0.03 --end-after ") + answeredEnd;
        call.status = kAnswered;
        break;
    case 2: // the answering machine: missed at the desk
        call.ring = base + QStringLiteral(" --answer-after 0.03 --extension 40 --end-after ") +
                    answeredEnd;
        call.status = kNotAnswered;
        break;
    case 3:
        call.ring = base + QStringLiteral(" --blocked");
        call.status = kNotAnswered;
        break;
    default: // answered at another phone
        call.ring = base + QStringLiteral(" --reason 0x3400 --end-after ") + endAfter;
        call.status = kAnswered;
        break;
    }
}

inline Call BulkCall(Line line, int index)
{
    Call call;
    call.kind = BulkKind(index);
    const QString digits = Digits(line, false, index);
    QString base;
    if (call.kind == Kind::Withheld) {
        call.number = kWithheld;
        base = QStringLiteral("ring --to ") + kOffice;
    } else {
        call.number = QLatin1Char('0') + digits;
        const QString to = call.kind == Kind::BlockedMsn ? kBlockedMsn : kOffice;
        base = QStringLiteral("ring --from %1 --type 0x21 --to %2").arg(digits, to);
    }
    if (call.kind == Kind::Nickname) call.nickname = QStringLiteral("Nick %1").arg(index);
    if (call.kind == Kind::BlockedNick) call.nickname = QStringLiteral("Blocked %1").arg(index);
    if (call.kind == Kind::BlockedMsn) call.target = kBlockedMsnName;
    // Now and then the server keeps the program waiting, never among the last calls before
    // the run pauses (every 500 calls), so that a pause finds the lookup idle.
    call.hangs = call.kind == Kind::Unknown && index % 97 == 13 && index % 500 < 480;
    PlanOutcome(line, index, call, base);
    return call;
}

// A call rung on its own between the bulk: kind UserReject (rings until the user rejects it),
// Dropped (rings until the router's connection drops) or Unknown (ends at once).
inline Call SpecialCall(Line line, Kind kind, int serial)
{
    Call call;
    call.kind = kind;
    const QString digits = Digits(line, true, serial);
    call.number = QLatin1Char('0') + digits;
    call.ring = QStringLiteral("ring --from %1 --type 0x21 --to %2").arg(digits, kOffice);
    if (kind == Kind::UserReject) {
        call.ring += QStringLiteral(" --end-after 30");
        call.status = kRejected;
    } else if (kind == Kind::Dropped) {
        call.status = kUnknown;
    } else {
        call.ring += QStringLiteral(" --end-after 0.2");
        call.status = kNotAnswered;
    }
    return call;
}

// ---- The "Calls" file ------------------------------------------------------------------------

struct Row
{
    QString number, nickname, town, target, status;
};

// The rows of a "Calls" file: after the header and the column captions, one row per line
// ("date-time;date;time;number;nickname;town;target;status;").
inline QList<Row> ReadCallsFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    QList<Row> rows;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) line.chop(1);
        const QStringList f = QString::fromUtf8(line).split(u';');
        if (f.size() >= 8) rows.append(Row{f[3], f[4], f[5], f[6], f[7]});
    }
    return rows;
}

// Every numbered call has exactly one row, with its caller's name (for an unknown caller none,
// or the name the server gave for exactly that number), town, own number and status; the calls
// without number have as many rows with the same statuses; no row is left over. At most `limit`
// differences are named.
inline QStringList CompareRows(const QList<Call> &calls, const QList<Row> &rows, int limit = 20)
{
    QStringList problems;
    auto problem = [&](const QString &text) {
        if (problems.size() < limit) problems << text;
    };
    QHash<QString, QList<Row>> byNumber;
    for (const Row &row : rows)
        byNumber[row.number].append(row);
    QMap<QString, int> withheld; // status -> calls less rows
    for (const Call &call : calls) {
        if (call.number == kWithheld) {
            ++withheld[call.status];
            continue;
        }
        const QList<Row> found = byNumber.take(call.number);
        if (found.size() != 1) {
            problem(QStringLiteral("%1: %2 rows").arg(call.number).arg(found.size()));
            continue;
        }
        const Row &row = found.first();
        const bool named = row.nickname == call.nickname ||
                           (call.lookedUp() && row.nickname == LookupName(call.number));
        if (!named || row.town != kTown || row.target != call.target || row.status != call.status)
            problem(QStringLiteral("%1: stored '%2;%3;%4;%5', expected '%6;%7;%8;%9'")
                        .arg(call.number, row.nickname, row.town, row.target, row.status,
                             call.nickname, kTown, call.target, call.status));
    }
    for (const Row &row : byNumber.value(kWithheld)) {
        if (row.nickname != kBlank || row.town != kBlank || row.target != kOfficeName)
            problem(QStringLiteral("a call without number stored as '%1;%2;%3'")
                        .arg(row.nickname, row.town, row.target));
        --withheld[row.status];
    }
    byNumber.remove(kWithheld);
    for (auto it = withheld.cbegin(); it != withheld.cend(); ++it)
        if (it.value() != 0)
            problem(QStringLiteral("calls without number, '%1': %2 more calls than rows")
                        .arg(it.key())
                        .arg(it.value()));
    for (auto it = byNumber.cbegin(); it != byNumber.cend(); ++it)
        problem(QStringLiteral("%1: %2 rows of no call").arg(it.key()).arg(it.value().size()));
    return problems;
}

// ---- The ISDN line's message log ---------------------------------------------------------------

// One call as the line saw it: offered with CONNECT_IND, taken by the program (CONNECT_RESP
// with anything but "ignore", or DISCONNECT_REQ: how the program rejects), ended with
// DISCONNECT_IND and its reason.
struct LineCall
{
    QString number; // as the program shows it
    bool taken = false;
    int reason = -1; // -1: not ended

    QString status() const
    {
        if (taken) return kRejected;
        switch (reason) {
        case 0x3400:
        case 0x349a:
            return kAnswered;
        case 0x3490:
            return kNotAnswered;
        case 0x34a2:
            return kBusy;
        default:
            return QStringLiteral("reason %1").arg(reason, 0, 16);
        }
    }
};

// The calls of a log the simulator writes with CAPISIM_LOG ("< " to the program, "> " from it,
// then the message's bytes in hex), in the order the program fetched them. A PLCI stands for
// one call from its CONNECT_IND to its DISCONNECT_IND; the exchange gives it out again later.
inline QList<LineCall> ReadCapiLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    auto u16 = [](const QByteArray &m, int at) {
        return int(uint8_t(m[at])) | int(uint8_t(m[at + 1])) << 8;
    };
    QList<LineCall> calls;
    QHash<quint32, qsizetype> live; // PLCI -> its call
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.size() < 3 || (line[0] != '<' && line[0] != '>')) continue;
        const QByteArray m = QByteArray::fromHex(line.mid(2)); // skips the blanks
        if (m.size() < 14) continue;
        const bool toProgram = line[0] == '<';
        const int command = u16(m, 4); // command, subcommand
        const quint32 plci = quint32(u16(m, 8)) | quint32(u16(m, 10)) << 16;
        if (toProgram && command == 0x8202) { // CONNECT_IND
            // The called party, then the calling party: type, presentation, digits.
            const int calling = 15 + uint8_t(m[14]);
            const int length = calling < m.size() ? uint8_t(m[calling]) : 0;
            const QString digits = QString::fromLatin1(m.mid(calling + 3, length - 2));
            live.insert(plci, calls.size());
            calls.append(LineCall{digits.isEmpty() ? kWithheld : QLatin1Char('0') + digits});
        } else if (!live.contains(plci)) {
            continue;
        } else if ((!toProgram && command == 0x8302 && u16(m, 12) != 1) || // CONNECT_RESP
                   (!toProgram && command == 0x8004)) {                    // DISCONNECT_REQ
            calls[live.value(plci)].taken = true;
        } else if (toProgram && command == 0x8204) { // DISCONNECT_IND
            calls[live.take(plci)].reason = u16(m, 12);
        }
    }
    return calls;
}

// The line offered every call once, and each went as planned.
inline QStringList CompareWithLine(const QList<Call> &calls, const QList<LineCall> &line,
                                   int limit = 20)
{
    QStringList problems;
    auto problem = [&](const QString &text) {
        if (problems.size() < limit) problems << text;
    };
    QHash<QString, QStringList> outcomes; // number -> the status of each of its calls
    for (const LineCall &call : line)
        outcomes[call.number].append(call.status());
    for (const Call &call : calls) {
        QStringList &seen = outcomes[call.number];
        if (!seen.removeOne(call.status))
            problem(QStringLiteral("%1: the line shows %2, planned %3")
                        .arg(call.number, seen.join(u','), call.status));
    }
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it)
        if (!it.value().isEmpty())
            problem(QStringLiteral("%1: on the line but not rung: %2")
                        .arg(it.key(), it.value().join(u',')));
    return problems;
}

} // namespace soak
