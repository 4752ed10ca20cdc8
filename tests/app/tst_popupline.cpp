// The popup's reject button on the simulated line (the simulator loaded in process): with
// two calls ringing, the button follows the call on show and rejects that call.
#include "tests/app/ProgramOnLine.h"

#include <QToolButton>

class TestPopupLine : public QObject
{
    Q_OBJECT

    SimLine FLine;

    uint32_t ring(const QString &options)
    {
        QString reply;
        if (!FLine.command(QStringLiteral("ring --type 0x21 --to 85606 ") + options, &reply))
            return 0;
        return reply.section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void rejectButtonActsOnTheCallOnShow()
    {
        Program program;
        TMainForm &form = *program.form;
        TLists &lists = *program.lists;
        QVERIFY(program.StartLine(FLine));
        auto *button = form.findChild<QToolButton *>(QStringLiteral("sbReject"));
        TCallHandler &calls = form.CallHandler();

        const uint32_t older = ring(QStringLiteral("--from 441111 --end-after 30"));
        QTRY_VERIFY(button->isVisible());
        const uint32_t newer = ring(QStringLiteral("--from 441222 --end-after 30"));
        QTRY_COMPARE(calls.PendingCalls().Count(), 2);
        QVERIFY(older && newer);

        // The newer call on show: the button rejects it, not the older one.
        auto acceptedPlci = [this] {
            const QStringList accepted = FLine.put().filter(QStringLiteral("1c 00"));
            if (accepted.isEmpty()) return uint32_t(0);
            const QStringList bytes = accepted.first().split(QLatin1Char(' '));
            return uint32_t(bytes.at(8).toUInt(nullptr, 16) | bytes.at(9).toUInt(nullptr, 16) << 8);
        };
        form.ShowCall(1);
        QVERIFY(button->isVisible());
        FLine.mark();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(FLine.waitForPut(QStringLiteral("1c 00"))); // CONNECT_RESP taking a call
        QCOMPARE(acceptedPlci(), newer & 0xFFFF);
        QTRY_VERIFY(!button->isVisible());
        QTRY_COMPARE(lists.calls().row(1).status, QStringLiteral("rejected"));
        QCOMPARE(lists.calls().row(0).status, QStringLiteral(" "));

        // The older call on show can still be rejected.
        form.ShowCall(0);
        QVERIFY(button->isVisible());
        FLine.mark();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(FLine.waitForPut(QStringLiteral("1c 00")));
        QCOMPARE(acceptedPlci(), older & 0xFFFF);
        QTRY_COMPARE(lists.calls().row(0).status, QStringLiteral("rejected"));
    }
};

QTEST_MAIN(TestPopupLine)
#include "tst_popupline.moc"
