#include "lists/Calls.h"

#include <QTest>

class TestCalls : public QObject
{
    Q_OBJECT

private slots:
    void acknowledgeKeepsTheNewestAndTheNextCallReplacesIt();
    void recordLinesFollowTheNameRules();
    void getReportsBadIndexes();
};

void TestCalls::acknowledgeKeepsTheNewestAndTheNextCallReplacesIt()
{
    TCalls calls;
    QVERIFY(calls.IsAcknowledged());
    calls.Add("0301", "Anna", "10:00:00", "", "Berlin", "Office");
    QCOMPARE(calls.Count(), 1); // a fresh list appends
    QVERIFY(!calls.IsAcknowledged());
    calls.Add("0302", "", "10:01:00", "", "", "Office");
    calls.Add("0303", "Carl", "10:02:00", "", "", "Home");
    QCOMPARE(calls.Count(), 3);

    calls.Acknowledge();
    QVERIFY(calls.IsAcknowledged());
    QCOMPARE(calls.Count(), 1);
    QCOMPARE(calls.Get(0).value("Caller"), QString("0303"));

    calls.Add("0304", "Dora", "10:03:00", "", "", "Office");
    QCOMPARE(calls.Count(), 1);
    QCOMPARE(calls.Get(-1).value("Caller"), QString("0304"));
    QCOMPARE(calls.Get(-1).value("NickName"), QString("Dora"));
    calls.Add("0305", "", "10:04:00", "", "", "Office");
    QCOMPARE(calls.Count(), 2);
    QCOMPARE(calls.Get(0).value("Caller"), QString("0304"));
}

void TestCalls::recordLinesFollowTheNameRules()
{
    TCalls calls;
    calls.Add("0301", "", "10:00:00", "", "Berlin", "Office");
    TCallRecord &record = calls.Get(-1);
    // Empty values have no line; the order of the others is fixed.
    QCOMPARE(record.lines(),
             QStringList({"Caller=0301", "Target=Office", "Town=Berlin", "Time=10:00:00"}));
    QVERIFY(!calls.HasNickName(-1));

    record.setValue("AdditionalInfo", "Hauptstr. 1\r12345 Ort\r");
    record.setValue("nickname", "Anna"); // names ignore case
    QVERIFY(calls.HasNickName(0));
    QCOMPARE(record.value("NICKNAME"), QString("Anna"));
    QCOMPARE(record.names().last(), QString("nickname"));
    record.setValue("Town", "");
    QVERIFY(!record.names().contains("Town"));
    QCOMPARE(record.value("Town"), QString());
}

void TestCalls::getReportsBadIndexes()
{
    TCalls calls;
    try {
        calls.Get(-1);
        QFAIL("no error for an empty list");
    } catch (const TCallsIndexError &error) {
        QCOMPARE(QString(error.what()), QString("Fatal Error: TCalls.Get index error: -1"));
    }
    calls.Add("1", "", "", "", "", "");
    QVERIFY_THROWS_EXCEPTION(TCallsIndexError, calls.Get(1));
    QVERIFY(!calls.HasNickName(5));
    QVERIFY(!calls.HasNickName(-1));
}

QTEST_GUILESS_MAIN(TestCalls)
#include "tst_calls.moc"
