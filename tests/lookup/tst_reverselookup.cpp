// The built-in reverse lookup's client: the request it sends, the decoding of the answer, and
// how it fails against servers that misbehave.
#include "lookup/ReverseLookupForm.h"
#include "tests/lookup/LookupServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using testing::LookupServer;

class TestReverseLookup : public QObject
{
    Q_OBJECT

private slots:
    void decodesInTheFixedOrder_data();
    void decodesInTheFixedOrder();
    void splitsTheBodyIntoNameAndInformation_data();
    void splitsTheBodyIntoNameAndInformation();
    void formsTheRequest_data();
    void formsTheRequest();

    void asksTheServerWithThePlainRequest();
    void anEmptyAnswerIsAnAnswer();
    void anAnswerOfTheLargestSizeIsTakenWhole_data();
    void anAnswerOfTheLargestSizeIsTakenWhole();
    void failsWithoutAnAnswerItCanUse_data();
    void failsWithoutAnAnswerItCanUse();
    void aServerThatCannotBeReachedIsNoAnswer();
    void givesUpOnAServerThatNeverAnswers();
    void abortEndsATransferAtOnce();
    void nothingIsAskedWithoutServerOrNumber();
    void verifiesTheServersCertificate();
};

void TestReverseLookup::decodesInTheFixedOrder_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("decoded");

    QTest::newRow("colon and blank") << "Name: X"
                                     << "Name=X";
    QTest::newRow("quotes and commas go") << "\"Smith, John\""
                                          << "Smith John";
    QTest::newRow("percent blank, ampersand, semicolon") << "A%20B%26C%3BD"
                                                         << "A B&C;D";
    QTest::newRow("entities") << "&auml;&ouml;&uuml;&Auml;&Ouml;&Uuml;"
                              << QString::fromUtf8("äöüÄÖÜ");
    QTest::newRow("szlig without semicolon") << "Stra&szlig;e" << QString::fromUtf8("Straß;e");
    QTest::newRow("latin-1 sharp s") << "Stra%DFe" << QString::fromUtf8("Straße");
    QTest::newRow("utf-8 codes") << "%C3%A4%C3%B6%C3%BC%C3%84%C3%96%C3%9C%C3%9F"
                                 << QString::fromUtf8("äöüÄÖÜß");
    QTest::newRow("encoded comma and quote stay") << "a%2Cb%22c"
                                                  << "a%2Cb%22c";
    QTest::newRow("case matters") << "%c3%a4 &AUML; name: x"
                                  << "%c3%a4 &AUML; name=x";
    // A code that only appears after an earlier step is decoded by a later step ...
    QTest::newRow("ampersand then entity") << "M%26uuml;ller" << QString::fromUtf8("Müller");
    // ... but never by an earlier one.
    QTest::newRow("blank after colon step") << "Name:%20X"
                                            << "Name: X";
    QTest::newRow("markup stays text") << "<b>Evil</b>"
                                       << "<b>Evil</b>";
}

void TestReverseLookup::decodesInTheFixedOrder()
{
    QFETCH(QString, line);
    QFETCH(QString, decoded);
    QCOMPARE(DecodeReverseLookupLine(line), decoded);
}

void TestReverseLookup::splitsTheBodyIntoNameAndInformation_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("info");

    QTest::newRow("one line") << QByteArray("Bakery Smith\r\n") << "Bakery Smith"
                              << "";
    QTest::newRow("name and street")
        << QByteArray("Name: M&uuml;ller\r\nStra%C3%9Fe 1") << QString::fromUtf8("Name=Müller")
        << QString::fromUtf8("Straße 1\r");
    QTest::newRow("empty") << QByteArray() << ""
                           << "";
    QTest::newRow("only blanks and controls") << QByteArray(" \r\n\t\x01 ") << ""
                                              << "";
    QTest::newRow("every line end") << QByteArray("A\nB\rC\r\nD") << "A"
                                    << "B\rC\rD\r";
    QTest::newRow("blank line inside kept") << QByteArray("A\n\nB") << "A"
                                            << "\rB\r";
    QTest::newRow("trimmed at both ends") << QByteArray("\x02 \n Mr X \nTown \r\n\r\n") << "Mr X "
                                          << "Town\r";
    QTest::newRow("windows-1252") << QByteArray("M\xFCller\nK\xF6ln") << QString::fromUtf8("Müller")
                                  << QString::fromUtf8("Köln\r");
    QTest::newRow("utf-8 with entities")
        << QByteArray("Müller &amp; S&ouml;hne") << QString::fromUtf8("Müller &amp; Söhne") << "";
}

void TestReverseLookup::splitsTheBodyIntoNameAndInformation()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, name);
    QFETCH(QString, info);
    const ReverseLookupAnswer answer = ParseReverseLookupBody(body);
    QCOMPARE(answer.name, name);
    QCOMPARE(answer.info, info);
}

void TestReverseLookup::formsTheRequest_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QByteArray>("url");

    QTest::newRow("plain") << "http://lookup.example/"
                           << "0441123" << QByteArray("http://lookup.example/rs.php?n=0441123");
    QTest::newRow("slash added") << "https://lookup.example/de"
                                 << "0441123"
                                 << QByteArray("https://lookup.example/de/rs.php?n=0441123");
    QTest::newRow("plus kept as plus") << " http://h/ "
                                       << "++4930" << QByteArray("http://h/rs.php?n=%2B%2B4930");
    QTest::newRow("query characters encoded")
        << "http://h/"
        << "1&n=2#x y" << QByteArray("http://h/rs.php?n=1%26n%3D2%23x%20y");
}

void TestReverseLookup::formsTheRequest()
{
    QFETCH(QString, base);
    QFETCH(QString, number);
    QFETCH(QByteArray, url);
    QCOMPARE(ReverseLookupRequest(base, number), url);
}

void TestReverseLookup::asksTheServerWithThePlainRequest()
{
    // A proxy from the environment is not used: the lookup goes straight to the server.
    qputenv("http_proxy", "http://127.0.0.1:9");
    qputenv("ALL_PROXY", "http://127.0.0.1:9");
    LookupServer server;
    server.answer("++49441123", "Name: M&uuml;ller\r\nStra%C3%9Fe 1\r\n26121 Oldenburg\r\n");
    TfrmLookup client(server.baseUrl());
    ReverseLookupAnswer answer;
    const bool found = client.Lookup(QStringLiteral("++49441123"), answer);
    qunsetenv("http_proxy");
    qunsetenv("ALL_PROXY");
    QVERIFY(found);
    QCOMPARE(answer.name, QString::fromUtf8("Name=Müller"));
    QCOMPARE(answer.info, QString::fromUtf8("Straße 1\r26121 Oldenburg\r"));

    const std::vector<LookupServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests[0].target, std::string("/rs.php?n=%2B%2B49441123"));
    QCOMPARE(requests[0].number, std::string("++49441123"));
    QCOMPARE(requests[0].version, std::string("HTTP/1.1"));
    QStringList headers;
    for (const auto &[name, value] : requests[0].headers)
        if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" &&
            name != "LOCAL_PORT")
            headers << QString::fromStdString(name).toLower();
    headers.sort();
    QCOMPARE(headers, QStringList({"accept", "host"}));
}

void TestReverseLookup::anEmptyAnswerIsAnAnswer()
{
    LookupServer server;
    server.answer("0441", "");
    TfrmLookup client(server.baseUrl());
    ReverseLookupAnswer answer{QStringLiteral("stale"), QStringLiteral("stale")};
    QString failure = QStringLiteral("stale");
    QVERIFY(client.Lookup(QStringLiteral("0441"), answer, &failure));
    QCOMPARE(answer.name, QString());
    QCOMPARE(answer.info, QString());
    QCOMPARE(failure, QString());
}

void TestReverseLookup::anAnswerOfTheLargestSizeIsTakenWhole_data()
{
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("extra");
    QTest::newRow("64 KiB with length") << false << 0;
    QTest::newRow("one byte more with length") << false << 1;
    QTest::newRow("64 KiB in chunks") << true << 0;
    QTest::newRow("one byte more in chunks") << true << 1;
}

void TestReverseLookup::anAnswerOfTheLargestSizeIsTakenWhole()
{
    QFETCH(bool, chunked);
    QFETCH(int, extra);
    // A name, a line of filler and a last line, 64 KiB in all (plus the extra bytes).
    const std::string head = "Bakery\n";
    const std::string tail = "\nLast line";
    const std::string body =
        head + std::string(TfrmLookup::MaxBodyBytes + extra - head.size() - tail.size(), 'x') +
        tail;
    LookupServer server;
    if (chunked)
        server.answerChunked("0441", body);
    else
        server.answer("0441", body);
    TfrmLookup client(server.baseUrl());
    ReverseLookupAnswer answer;
    QCOMPARE(client.Lookup(QStringLiteral("0441"), answer), extra == 0);
    if (extra) return;
    QCOMPARE(answer.name, QStringLiteral("Bakery"));
    QVERIFY(answer.info.endsWith(QStringLiteral("\rLast line\r")));
    QCOMPARE(answer.info.size(), qsizetype(body.size() - head.size() + 1));
}

void TestReverseLookup::failsWithoutAnAnswerItCanUse_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("failure"); // a part of the reason
    QTest::newRow("status 404") << int(LookupServer::Behaviour::NotFound) << "HTTP status 404";
    QTest::newRow("redirect") << int(LookupServer::Behaviour::Redirect) << "HTTP status 302";
    QTest::newRow("10 MB in chunks")
        << int(LookupServer::Behaviour::HugeChunked) << "the answer is larger than 64 KiB";
    QTest::newRow("10 MB with length")
        << int(LookupServer::Behaviour::HugeWithLength) << "the answer is larger than 64 KiB";
    QTest::newRow("closed mid-body") << int(LookupServer::Behaviour::CloseMidBody) << "500 bytes";
}

void TestReverseLookup::failsWithoutAnAnswerItCanUse()
{
    QFETCH(int, behaviour);
    QFETCH(QString, failure);
    LookupServer server;
    server.behave("0441", LookupServer::Behaviour(behaviour));
    TfrmLookup client(server.baseUrl());
    ReverseLookupAnswer answer{QStringLiteral("stale"), QStringLiteral("stale")};
    QString why;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!client.Lookup(QStringLiteral("0441"), answer, &why));
    QCOMPARE(answer.name, QString());
    QCOMPARE(answer.info, QString());
    QVERIFY2(why.contains(failure), qPrintable(why));
    // Ended by the client, not by the time-out.
    QVERIFY2(clock.elapsed() < TfrmLookup::TotalTimeoutMs - 2000,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(server.redirectsFollowed(), 0);
    if (LookupServer::Behaviour(behaviour) == LookupServer::Behaviour::HugeChunked)
        QTRY_COMPARE_WITH_TIMEOUT(server.clientsGone(), 1, 10000);

    // The same client goes on working.
    server.answer("0442", "Next");
    QVERIFY(client.Lookup(QStringLiteral("0442"), answer, &why));
    QCOMPARE(answer.name, QStringLiteral("Next"));
    QCOMPARE(why, QString());
}

void TestReverseLookup::aServerThatCannotBeReachedIsNoAnswer()
{
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(testing::ClosedPort());
    TfrmLookup client(address);
    ReverseLookupAnswer answer;
    QString why;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!client.Lookup(QStringLiteral("0441"), answer, &why));
    QVERIFY2(why.contains(QStringLiteral("refused"), Qt::CaseInsensitive), qPrintable(why));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void TestReverseLookup::givesUpOnAServerThatNeverAnswers()
{
    LookupServer server;
    server.behave("0441", LookupServer::Behaviour::Hang);
    server.answer("0442", "Answered");
    TfrmLookup client(server.baseUrl());
    ReverseLookupAnswer answer;
    QString why;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!client.Lookup(QStringLiteral("0441"), answer, &why));
    QVERIFY2(why.contains(QStringLiteral("timed out")), qPrintable(why));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= TfrmLookup::TotalTimeoutMs - 500 &&
                 elapsed < TfrmLookup::TotalTimeoutMs + 5000,
             qPrintable(QString::number(elapsed)));
    QVERIFY(client.Lookup(QStringLiteral("0442"), answer));
    QCOMPARE(answer.name, QStringLiteral("Answered"));
}

void TestReverseLookup::abortEndsATransferAtOnce()
{
    LookupServer server;
    server.behave("0441", LookupServer::Behaviour::Hang);
    server.answer("0442", "Answered");
    TfrmLookup client(server.baseUrl());
    bool found = true;
    QString why = QStringLiteral("stale");
    std::thread lookup([&] {
        ReverseLookupAnswer answer;
        found = client.Lookup(QStringLiteral("0441"), answer, &why);
    });
    QTRY_COMPARE_WITH_TIMEOUT(server.busy(), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    client.Abort();
    lookup.join();
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!found);
    QCOMPARE(why, QString()); // the program ends: nothing to tell
    ReverseLookupAnswer answer;
    QVERIFY(!client.Lookup(QStringLiteral("0442"), answer));
    QCOMPARE(server.requests().size(), size_t(1));
}

void TestReverseLookup::nothingIsAskedWithoutServerOrNumber()
{
    LookupServer server;
    server.answer("", "Nobody");
    ReverseLookupAnswer answer;
    QVERIFY(!TfrmLookup(server.baseUrl()).Lookup(QString(), answer));
    QVERIFY(!TfrmLookup(QString()).Lookup(QStringLiteral("0441"), answer));
    // Only http and https.
    QVERIFY(!TfrmLookup(server.baseUrl("ftp")).Lookup(QStringLiteral("0441"), answer));
    QVERIFY(!TfrmLookup(QStringLiteral("file:///etc/")).Lookup(QStringLiteral("passwd"), answer));
    QCOMPARE(server.requests().size(), size_t(0));
}

void TestReverseLookup::verifiesTheServersCertificate()
{
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem");
    const QString key = dir.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                              "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);

    httplib::SSLServer https(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    QVERIFY(https.is_valid());
    LookupServer server(&https);
    server.answer("0441", "Trusted?");
    TfrmLookup client(server.baseUrl("https"));
    ReverseLookupAnswer answer;
    QVERIFY(!client.Lookup(QStringLiteral("0441"), answer));
    QCOMPARE(server.requests().size(), size_t(0));
    // Plain http to the TLS port is no answer either.
    QVERIFY(!TfrmLookup(server.baseUrl()).Lookup(QStringLiteral("0441"), answer));
}

QTEST_GUILESS_MAIN(TestReverseLookup)
#include "tst_reverselookup.moc"
