// The desktop's tel: handler as a line device, with a handler of the test's own installed
// in a private XDG tree (or none, when run with TEL_HANDLER=none).
#include "tapi/LineApi.h"
#include "tapi/TelLinkProvider.h"

#include <QtTest>

using namespace tapi;

class TestTelLink : public QObject
{
    Q_OBJECT

    QTemporaryDir FRoot;
    bool FHandler = true;

    QString path(const QString &name) const { return FRoot.filePath(name); }

    static void write(const QString &file, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text);
    }

private slots:
    void initTestCase()
    {
        FHandler = qEnvironmentVariable("TEL_HANDLER") != u"none";
        // GIO reads these on first use: nothing of the machine's own desktop counts.
        qputenv("XDG_DATA_HOME", path("data").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", path("system").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", path("config").toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", path("system-config").toLocal8Bit());
        if (!FHandler) return;
        write(path("phone"),
              "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + path("dialled").toLocal8Bit() + "'\n");
        QFile(path("phone")).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        write(path("data/applications/testphone.desktop"),
              "[Desktop Entry]\nType=Application\nName=Test phone\nExec=" +
                  path("phone").toLocal8Bit() + " %u\nMimeType=x-scheme-handler/tel;\n");
        write(path("config/mimeapps.list"),
              "[Default Applications]\nx-scheme-handler/tel=testphone.desktop\n");
    }

    void deviceOnlyWithAHandler()
    {
        TelLinkProvider telLink;
        LineApi lines;
        lines.addProvider(&telLink, QStringLiteral("tel"));
        HLineApp app = 0;
        uint32_t count = 0;
        if (!FHandler) {
            QVERIFY(telLink.devices().isEmpty());
            QCOMPARE(lines.lineInitialize(app, nullptr, count), LINEERR_NODEVICE);
            return;
        }
        QCOMPARE(lines.lineInitialize(app, nullptr, count), 0);
        QCOMPARE(count, 1u);
        LineDevCaps caps;
        QCOMPARE(lines.lineGetDevCaps(app, 0, 0x10004, caps), 0);
        QCOMPARE(caps.lineName, QString("Desktop telephony (tel: link)"));
    }

    void dialLaunchesTheHandler()
    {
        if (!FHandler) QSKIP("no handler installed");
        TelLinkProvider telLink;
        LineApi lines;
        lines.addProvider(&telLink, QStringLiteral("tel"));
        QStringList states;
        HLineApp app = 0;
        HLine line = 0;
        HCall call = 0;
        uint32_t count = 0;
        QCOMPARE(
            lines.lineInitialize(
                app,
                [&](uint32_t, uint32_t message, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t) {
                    if (message == LINE_CALLSTATE) states << CallStateLogName(p1, p2);
                },
                count),
            0);
        QCOMPARE(lines.lineOpen(app, 0, line, 0x20000, 0), 0);
        QVERIFY(lines.lineMakeCall(line, call, QStringLiteral("0441#12")) > 0);
        QTRY_COMPARE(states, QStringList({"LINECALLSTATE_DIALING", "LINECALLSTATE_CONNECTED, 1"}));
        QFile dialled(path("dialled"));
        QTRY_VERIFY(dialled.exists() && dialled.size() > 0);
        QVERIFY(dialled.open(QIODevice::ReadOnly));
        QCOMPARE(dialled.readAll(), QByteArray("tel:0441%2312\n"));
        QCOMPARE(lines.lineShutdown(app), 0);

        // A handler that has gone since the line was opened fails the call at once.
        QCOMPARE(lines.lineInitialize(app, nullptr, count), 0);
        QCOMPARE(lines.lineOpen(app, 0, line, 0x20000, 0), 0);
        QVERIFY(QFile::remove(path("phone")));
        QCOMPARE(lines.lineMakeCall(line, call, QStringLiteral("1")), LINEERR_OPERATIONFAILED);
        const QString why = lines.lastErrorDetail().text(Language::English);
        QVERIFY2(why.startsWith("the tel: handler could not be started: "), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestTelLink)
#include "tst_tellink.moc"
