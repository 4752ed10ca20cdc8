#include "settings/RouterAddress.h"

#include <QTest>

Q_DECLARE_METATYPE(RouterAddressProblem)

class TestRouterAddress : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        auto row = [](const char *name, const char *text, const char *host, int port) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(host) << port;
        };
        row("name", "router.home", "router.home", 1012);
        row("name and port", "router.home:1013", "router.home", 1013);
        row("single label", "router", "router", 1012);
        row("root dot", "router.home.", "router.home.", 1012);
        row("hyphen and digits", "box-7590.lan", "box-7590.lan", 1012);
        row("upper case", "Router.Home", "Router.Home", 1012);
        row("letters of other scripts", "müller-router.de", "müller-router.de", 1012);
        row("blanks around", "  router.home:1012 \t", "router.home", 1012);
        row("IPv4", "192.168.178.1", "192.168.178.1", 1012);
        row("IPv4 and port", "10.0.0.1:65535", "10.0.0.1", 65535);
        row("lowest port", "10.0.0.1:1", "10.0.0.1", 1);
        row("port with leading zero", "10.0.0.1:01012", "10.0.0.1", 1012);
        row("IPv6 in brackets", "[fd00::1]", "fd00::1", 1012);
        row("IPv6 in brackets and port", "[fd00::1]:2012", "fd00::1", 2012);
        row("bare IPv6", "fd00::1", "fd00::1", 1012);
        row("bare IPv6 ending in digits", "fd00::1:1012", "fd00::1:1012", 1012);
        row("IPv6 loopback", "::1", "::1", 1012);
        row("IPv6 with IPv4 tail", "[::ffff:192.168.1.1]:1012", "::ffff:192.168.1.1", 1012);
        row("IPv6 with scope", "[fe80::1%eth0]:1012", "fe80::1%eth0", 1012);
        row("bare IPv6 with scope", "fe80::1%2", "fe80::1%2", 1012);
        row("IPv6 in capitals", "[FD00::AB]:1012", "FD00::AB", 1012);
        row("63-character label", "a23456789012345678901234567890123456789012345678901234567890123",
            "a23456789012345678901234567890123456789012345678901234567890123", 1012);
    }

    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        const RouterAddress address = ParseRouterAddress(text);
        QCOMPARE(address.problem, RouterAddressProblem::None);
        QVERIFY(address.isValid());
        QCOMPARE(address.host, host);
        QCOMPARE(int(address.port), port);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<RouterAddressProblem>("problem");
        using P = RouterAddressProblem;
        auto row = [](const char *name, const char *text, P problem) {
            QTest::newRow(name) << QString::fromUtf8(text) << problem;
        };
        row("empty", "", P::Empty);
        row("blanks only", " \t ", P::Empty);

        row("port 0", "router.home:0", P::BadPort);
        row("port 65536", "router.home:65536", P::BadPort);
        row("huge port", "router.home:99999999999999999999", P::BadPort);
        row("port of letters", "router.home:abc", P::BadPort);
        row("port with sign", "router.home:+1012", P::BadPort);
        row("negative port", "router.home:-1", P::BadPort);
        row("blank in port", "router.home:10 12", P::BadPort);
        row("blank before port", "router.home: 1012", P::BadPort);
        row("colon without port", "router.home:", P::BadPort);
        row("IPv6 colon without port", "[fd00::1]:", P::BadPort);
        row("IPv6 port 0", "[fd00::1]:0", P::BadPort);

        row("semicolon", "router.home;1012", P::BadHost);
        row("semicolon after name", "router;", P::BadHost);
        row("blank inside", "router home", P::BadHost);
        row("blank before colon", "router :1012", P::BadHost);
        row("port only", ":1012", P::BadHost);
        row("underscore", "my_router", P::BadHost);
        row("scheme", "http://router.home", P::BadHost);
        row("path", "router.home/monitor", P::BadHost);
        row("empty label", "router..home", P::BadHost);
        row("leading dot", ".router.home", P::BadHost);
        row("only a dot", ".", P::BadHost);
        row("leading hyphen", "-router.home", P::BadHost);
        row("trailing hyphen", "router-.home", P::BadHost);
        row("64-character label",
            "a234567890123456789012345678901234567890123456789012345678901234", P::BadHost);
        row("name too long", QByteArray(".abcdefghi").repeated(26).mid(1).constData(), P::BadHost);
        row("short IPv4", "192.168.178", P::BadHost);
        row("number only", "1012", P::BadHost);
        row("IPv4 part above 255", "192.168.178.256", P::BadHost);
        row("IPv4 with leading zero", "192.168.178.010", P::BadHost);
        row("IPv4 with five parts", "1.2.3.4.5", P::BadHost);
        row("IPv4 with empty part", "1.2..4", P::BadHost);

        row("IPv6 not closed", "[fd00::1", P::BadIpv6);
        row("IPv6 not closed, port", "[fd00::1:1012", P::BadIpv6);
        row("empty brackets", "[]", P::BadIpv6);
        row("IPv4 in brackets", "[192.168.1.1]", P::BadIpv6);
        row("name in brackets", "[router.home]:1012", P::BadIpv6);
        row("text after brackets", "[fd00::1]1012", P::BadIpv6);
        row("bad IPv6", "fd00:::1", P::BadIpv6);
        row("bad bracketed IPv6", "[fd00::g]:1012", P::BadIpv6);
        row("name with two ports", "router.home:10:12", P::BadIpv6);
        row("scope with semicolon", "[fe80::1%eth0;x]", P::BadIpv6);
        row("empty scope", "fe80::1%", P::BadIpv6);
        row("blank in IPv6", "[fd00:: 1]", P::BadIpv6);
    }

    void refused()
    {
        QFETCH(QString, text);
        QFETCH(RouterAddressProblem, problem);
        const RouterAddress address = ParseRouterAddress(text);
        QCOMPARE(address.problem, problem);
        QVERIFY(!address.isValid());
        QVERIFY(address.host.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRouterAddress)
#include "tst_routeraddress.moc"
