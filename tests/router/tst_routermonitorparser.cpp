// The router's call monitor lines: fields, numbers, line ends, and a stream cut anywhere.
#include "router/RouterMonitorParser.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace router;

namespace {

using TParser = TMonitorParser;

const char *kindName(EventKind kind)
{
    switch (kind) {
    case EventKind::Ring:
        return "RING";
    case EventKind::Call:
        return "CALL";
    case EventKind::Connect:
        return "CONNECT";
    case EventKind::Disconnect:
        return "DISCONNECT";
    }
    return "?";
}

// Only the fields the event carries, so that a row reads like the line it came from.
QString text(const TMonitorEvent &e)
{
    QString s = QStringLiteral("%1 %2").arg(QLatin1String(kindName(e.Kind))).arg(e.ConnectionId);
    switch (e.Kind) {
    case EventKind::Ring:
        return s + QStringLiteral(" caller=%1 called=%2 line=%3").arg(e.Caller, e.Called, e.Line);
    case EventKind::Call:
        return s + QStringLiteral(" ext=%1 own=%2 called=%3 line=%4")
                       .arg(QString::number(e.Extension), e.OwnNumber, e.Called, e.Line);
    case EventKind::Connect:
        return s + QStringLiteral(" ext=%1").arg(e.Extension);
    case EventKind::Disconnect:
        return s + QStringLiteral(" duration=%1").arg(e.Duration);
    }
    return s;
}

QStringList texts(const std::vector<TMonitorEvent> &events)
{
    QStringList list;
    for (const TMonitorEvent &e : events)
        list << text(e);
    return list;
}

// largestPending: the most the parser kept of an unfinished line between the reads.
TParser::TResult feedInChunks(TParser &parser, QByteArrayView bytes, qsizetype chunk,
                              qsizetype *largestPending = nullptr)
{
    TParser::TResult all;
    if (largestPending) *largestPending = 0;
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        TParser::TResult part = parser.Feed(bytes.sliced(at, std::min(chunk, bytes.size() - at)));
        all.Events.insert(all.Events.end(), part.Events.begin(), part.Events.end());
        all.Skipped += part.Skipped;
        if (largestPending) *largestPending = std::max(*largestPending, parser.PendingLength());
    }
    return all;
}

bool isPlainAscii(const QString &s)
{
    for (const QChar c : s)
        if (c < u' ' || c > u'~') return false;
    return true;
}

const QByteArray Time = "08.12.26 14:03:11;";
const QByteArray Ring = Time + "RING;0;0441123456;85606;SIP0;";
const QByteArray Disconnect = Time + "DISCONNECT;0;125;";

} // namespace

class TestRouterMonitorParser : public QObject
{
    Q_OBJECT

private slots:
    void normaliseNumber_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("normalised");
        QTest::newRow("national") << "0441123456"
                                  << "0441123456";
        QTest::newRow("blanks around") << " 0441123456\t"
                                       << "0441123456";
        QTest::newRow("hash") << "0441123456#"
                              << "0441123456";
        QTest::newRow("hashes and blanks") << "0441123456## "
                                           << "0441123456";
        QTest::newRow("hash inside") << "0441#123456"
                                     << "";
        QTest::newRow("00") << "0044201234"
                            << "++44201234";
        QTest::newRow("+") << "+44201234"
                           << "++44201234";
        QTest::newRow("++") << "++44201234"
                            << "++44201234";
        QTest::newRow("+ alone") << "+"
                                 << "";
        QTest::newRow("00 alone") << "00#"
                                  << "";
        QTest::newRow("withheld") << ""
                                  << "";
        QTest::newRow("blank inside") << "0441 123456"
                                      << "";
        QTest::newRow("letters") << "anonymous"
                                 << "";
        QTest::newRow("markup") << "<b>0441</b>"
                                << "";
        QTest::newRow("internal") << "**610"
                                  << "";
        QTest::newRow("arabic digits") << QString::fromUtf8("٠٤٤١") << "";
        QTest::newRow("32 digits") << QString(32, u'1') << QString(32, u'1');
        QTest::newRow("33 digits") << QString(33, u'1') << "";
        QTest::newRow("+ and 32 digits") << "+" + QString(32, u'4') << "++" + QString(32, u'4');
    }

    void normaliseNumber()
    {
        QFETCH(QString, raw);
        QFETCH(QString, normalised);
        QCOMPARE(NormaliseNumber(raw), normalised);
    }

    void events_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("event");
        QTest::newRow("ring") << Ring << "RING 0 caller=0441123456 called=85606 line=SIP0";
        QTest::newRow("connect") << Time + "CONNECT;0;12;0441123456;"
                                 << "CONNECT 0 ext=12";
        QTest::newRow("disconnect") << Disconnect << "DISCONNECT 0 duration=125";
        QTest::newRow("call") << Time + "CALL;1;12;85606;0302222;SIP0;"
                              << "CALL 1 ext=12 own=85606 called=0302222 line=SIP0";
        QTest::newRow("withheld") << Time + "RING;3;;85606;POTS;"
                                  << "RING 3 caller= called=85606 line=POTS";
        QTest::newRow("numbers") << Time + "RING;4;0044201234##;+4985606;ISDN;"
                                 << "RING 4 caller=++44201234 called=++4985606 line=ISDN";
        QTest::newRow("caller not a number") << Time + "RING;5;<b>x</b>;85606;SIP1;"
                                             << "RING 5 caller= called=85606 line=SIP1";
        QTest::newRow("line name is text") << Time + "RING;6;0441;85606;<i>&lt</i>;"
                                           << "RING 6 caller=0441 called=85606 line=<i>&lt</i>";
        QTest::newRow("line name too long") << Time + "RING;0;0441;85606;SIP0123456789ABCD;"
                                            << "RING 0 caller=0441 called=85606 line=";
        QTest::newRow("line name not ASCII") << Time + "RING;0;0441;85606;SIP\xc3\xa4;"
                                             << "RING 0 caller=0441 called=85606 line=";
        QTest::newRow("no separator at the end") << Time + "RING;0;0441;85606"
                                                 << "RING 0 caller=0441 called=85606 line=";
        QTest::newRow("extra fields") << Time + "CONNECT;0;12;0441123456;x;y;z"
                                      << "CONNECT 0 ext=12";
        QTest::newRow("empty extension") << Time + "CONNECT;0;;0441;"
                                         << "CONNECT 0 ext=-1";
        QTest::newRow("extension not a number") << Time + "CALL;2;x;85606;0302;"
                                                << "CALL 2 ext=-1 own=85606 called=0302 line=";
        QTest::newRow("no duration") << Time + "DISCONNECT;7;"
                                     << "DISCONNECT 7 duration=-1";
        QTest::newRow("duration too large") << Time + "DISCONNECT;7;99999999999;"
                                            << "DISCONNECT 7 duration=-1";
        QTest::newRow("trailing CR") << Disconnect + "\r"
                                     << "DISCONNECT 0 duration=125";
        QTest::newRow("largest id") << Time + "DISCONNECT;999999;0"
                                    << "DISCONNECT 999999 duration=0";
        QTest::newRow("id with zeroes") << Time + "DISCONNECT;0000007;1"
                                        << "DISCONNECT 7 duration=1";
        QTest::newRow("empty time") << QByteArray(";DISCONNECT;1;2;") << "DISCONNECT 1 duration=2";
    }

    void events()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, event);
        QString why = "stale";
        const std::optional<TMonitorEvent> parsed = ParseLine(line, &why);
        QVERIFY2(parsed, qPrintable(why));
        QCOMPARE(text(*parsed), event);
        QCOMPARE(why, QString());
    }

    void skipped_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("why");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("only CR") << QByteArray("\r") << "";
        QTest::newRow("unknown") << Time + "FOO;0;"
                                 << "unknown event FOO";
        QTest::newRow("lower case") << Time + "ring;0;0441;85606;"
                                    << "unknown event ring";
        QTest::newRow("no time") << QByteArray("RING;0;0441;85606;SIP0;") << "unknown event 0";
        QTest::newRow("no fields") << QByteArray("hello") << "line without event field";
        QTest::newRow("no id") << Time + "DISCONNECT;"
                               << "DISCONNECT without connection id";
        QTest::newRow("no caller") << Time + "RING;0;"
                                   << "RING without caller field";
        QTest::newRow("no called") << Time + "RING;0;;"
                                   << "RING without called field";
        QTest::newRow("no extension") << Time + "CONNECT;0"
                                      << "CONNECT without extension field";
        QTest::newRow("no own number") << Time + "CALL;1;12"
                                       << "CALL without own number field";
        QTest::newRow("call, no called") << Time + "CALL;1;12;85606;"
                                         << "CALL without called field";
        QTest::newRow("empty id") << Time + "DISCONNECT;;5;"
                                  << "bad connection id ";
        QTest::newRow("negative id") << Time + "DISCONNECT;-1;5;"
                                     << "bad connection id -1";
        QTest::newRow("id with sign") << Time + "DISCONNECT;+1;5;"
                                      << "bad connection id +1";
        QTest::newRow("id with blank") << Time + "DISCONNECT; 1;5;"
                                       << "bad connection id  1";
        QTest::newRow("id too large") << Time + "DISCONNECT;1000000;5;"
                                      << "bad connection id 1000000";
        QTest::newRow("id overflowing") << Time + "DISCONNECT;18446744073709551617;5;"
                                        << "bad connection id 18446744073709551617";
        QTest::newRow("id not ASCII") << Time + "DISCONNECT;\xd9\xa1;5;"
                                      << "bad connection id ??";
        QTest::newRow("NUL") << Time + QByteArray("RING;0;0441\0;85606;", 19)
                             << "line holds a NUL byte";
    }

    void skipped()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, why);
        QString reason = "stale";
        QVERIFY(!ParseLine(line, &reason));
        QCOMPARE(reason, why);
    }

    void lineEnds()
    {
        TParser parser;
        QCOMPARE(texts(parser.Feed(Ring + "\r\n" + Disconnect + "\n").Events),
                 QStringList({"RING 0 caller=0441123456 called=85606 line=SIP0",
                              "DISCONNECT 0 duration=125"}));
        // CR LF cut between two reads, and a line whose last field ends in CR.
        QVERIFY(parser.Feed(Disconnect + "\r").Events.empty());
        QCOMPARE(texts(parser.Feed("\n").Events), QStringList("DISCONNECT 0 duration=125"));
        QCOMPARE(texts(parser.Feed(Time + "DISCONNECT;3;9\r").Events), QStringList());
        QCOMPARE(texts(parser.Feed("\r\n").Events), QStringList("DISCONNECT 3 duration=9"));
        // A CR alone ends no line: it is part of the field, also at the end of a read.
        QVERIFY(parser.Feed(Time + "DISCONNECT;4;7\r").Events.empty());
        QCOMPARE(texts(parser.Feed("8;\n").Events), QStringList("DISCONNECT 4 duration=-1"));
        TParser::TResult result = parser.Feed(Time + "DISCONNECT;1;5\r" + Disconnect + "\n");
        QCOMPARE(texts(result.Events), QStringList("DISCONNECT 1 duration=-1"));
        // Empty lines are skipped without a word.
        result = parser.Feed("\n\r\n\n");
        QVERIFY(result.Events.empty());
        QCOMPARE(result.Skipped, QStringList());
    }

    void skippedLinesAreReported()
    {
        TParser parser;
        const TParser::TResult result =
            parser.Feed(Time + "FOO;1;\n" + Disconnect + "\n" + Time + "RING;x;\r\n");
        QCOMPARE(texts(result.Events), QStringList("DISCONNECT 0 duration=125"));
        QCOMPARE(result.Skipped, QStringList({"unknown event FOO: 08.12.26 14:03:11;FOO;1;",
                                              "bad connection id x: 08.12.26 14:03:11;RING;x;"}));
    }

    void lineLengths()
    {
        // Extra fields fill a line to the length wanted.
        const auto ofLength = [](qsizetype length) {
            const QByteArray line = Time + "DISCONNECT;2;5;";
            return line + QByteArray(length - line.size(), 'x');
        };
        TParser parser;
        TParser::TResult result = parser.Feed(ofLength(TParser::MaxLineLength) + "\r");
        QCOMPARE(parser.PendingLength(), TParser::MaxLineLength);
        result =
            parser.Feed("\n" + ofLength(TParser::MaxLineLength + 1) + "\r\n" + Disconnect + "\n");
        QCOMPARE(texts(result.Events),
                 QStringList({"DISCONNECT 2 duration=5", "DISCONNECT 0 duration=125"}));
        QCOMPARE(result.Skipped,
                 QStringList("line longer than 512 bytes (513 bytes): "
                             "08.12.26 14:03:11;DISCONNECT;2;5;xxxxxxxxxxxxxxxxxxxxxxxx..."));
    }

    void tenMegabyteLine()
    {
        const QByteArray huge(10 * 1024 * 1024, 'x');
        TParser parser;
        QElapsedTimer timer;
        timer.start();
        qsizetype largestPending = 0;
        const TParser::TResult result =
            feedInChunks(parser, huge + "\r\n" + Ring + "\r\n", 2048, &largestPending);
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(texts(result.Events),
                 QStringList("RING 0 caller=0441123456 called=85606 line=SIP0"));
        QCOMPARE(result.Skipped.size(), 1);
        QVERIFY(result.Skipped[0].startsWith("line longer than 512 bytes (10485760 bytes): xxx"));
        QVERIFY(largestPending <= TParser::MaxLineLength);
    }

    void garbage()
    {
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator random(18);
        for (char &c : noise)
            c = char(random.bounded(256));
        TParser parser;
        const TParser::TResult result = feedInChunks(parser, noise + "\n" + Ring + "\n", 20);
        QVERIFY(!result.Events.empty());
        QCOMPARE(text(result.Events.back()), "RING 0 caller=0441123456 called=85606 line=SIP0");
        QVERIFY(!result.Skipped.isEmpty());
        for (const QString &reason : result.Skipped) {
            QVERIFY2(isPlainAscii(reason), qPrintable(reason));
            // Two excerpts at most (a field's and the line's) and a few words.
            QVERIFY2(reason.size() <= 2 * 60 + 40, qPrintable(reason));
        }
    }

    void reset()
    {
        TParser parser;
        QVERIFY(parser.Feed(Time + "DISCONNECT;0;1").Events.empty());
        parser.Reset();
        QCOMPARE(parser.PendingLength(), 0);
        QCOMPARE(texts(parser.Feed(Disconnect + "\n").Events),
                 QStringList("DISCONNECT 0 duration=125"));
        // A long line cut off by the new connection is not reported as the next one's.
        parser.Feed(QByteArray(1000, 'x') + "\r");
        parser.Reset();
        const TParser::TResult result = parser.Feed("\n" + Disconnect + "\n");
        QCOMPARE(texts(result.Events), QStringList("DISCONNECT 0 duration=125"));
        QCOMPARE(result.Skipped, QStringList());
    }

    void chunks_data()
    {
        QTest::addColumn<qsizetype>("chunk");
        for (const qsizetype chunk : {1, 2, 20, 2048})
            QTest::newRow(qPrintable(QString::number(chunk))) << chunk;
    }

    void chunks()
    {
        QFETCH(qsizetype, chunk);
        const QByteArray stream = Ring + "\r\n" + Time + "CONNECT;0;12;0441123456;\r\n" + Time +
                                  "CALL;1;12;85606;0302222;SIP0;\n" + QByteArray(3000, 'x') +
                                  "\r\n" + QByteArray("\0\xff\r\x01;RING;\r\r\n", 13) + "\n" +
                                  Time + "CONNECT;1;;\r\n" + Disconnect + "\r\n" + Time +
                                  "DISCONNECT;1;9\r\n" + Time + "RING;0;;85606";
        TParser whole;
        const TParser::TResult expected = whole.Feed(stream);
        QCOMPARE(
            texts(expected.Events),
            QStringList({"RING 0 caller=0441123456 called=85606 line=SIP0", "CONNECT 0 ext=12",
                         "CALL 1 ext=12 own=85606 called=0302222 line=SIP0", "CONNECT 1 ext=-1",
                         "DISCONNECT 0 duration=125", "DISCONNECT 1 duration=9"}));
        QCOMPARE(expected.Skipped.size(), 2);

        TParser parser;
        qsizetype largestPending = 0;
        const TParser::TResult result = feedInChunks(parser, stream, chunk, &largestPending);
        QVERIFY(largestPending <= TParser::MaxLineLength);
        QCOMPARE(texts(result.Events), texts(expected.Events));
        QCOMPARE(result.Skipped, expected.Skipped);
        QCOMPARE(parser.PendingLength(), whole.PendingLength());
        QCOMPARE(texts(parser.Feed("\n").Events), QStringList("RING 0 caller= called=85606 line="));
    }
};

QTEST_GUILESS_MAIN(TestRouterMonitorParser)
#include "tst_routermonitorparser.moc"
