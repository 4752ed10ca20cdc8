#include "lookup/OutlookIndex.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestOutlookIndex : public QObject
{
    Q_OBJECT

private slots:
    void normalise_data();
    void normalise();
    void selectedFieldsUseDefaultsOnlyForAbsentKeys();
    void strideGivesTheContact();
    void emptyNumbersNeverMatch();
    void firstContactWinsAndCaseIsIgnored();
    void changedAndRemovedContactsFollow();
    void compactionKeepsNamesAndNumbersTogether();
};

void TestOutlookIndex::normalise_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("countryCode");
    QTest::addColumn<QString>("expected");
    QTest::newRow("code, trunk zero in brackets") << "+49 (0)30 1234-567"
                                                  << "++49"
                                                  << "0301234567";
    QTest::newRow("code and blank") << "+49 30 1234567"
                                    << "++49"
                                    << "0301234567";
    QTest::newRow("slash") << "030/1234567"
                           << "++49"
                           << "0301234567";
    QTest::newRow("no trunk zero") << "30 1234567"
                                   << "++49"
                                   << "0301234567";
    QTest::newRow("foreign code") << "+1 555 1234"
                                  << "++49"
                                  << "++15551234";
    QTest::newRow("code without separator stays") << "+4930123"
                                                  << "++49"
                                                  << "++4930123";
    QTest::newRow("double plus") << "++49 30 123"
                                 << "++49"
                                 << "030123";
    QTest::newRow("padding trimmed") << "  0441 123  "
                                     << "++49"
                                     << "0441123";
    QTest::newRow("one character as it is") << " 5 "
                                            << "++49"
                                            << "5";
    QTest::newRow("no digits") << "n/a"
                               << "++49"
                               << "";
    QTest::newRow("only the bracket's zero is dropped") << "(030) 123"
                                                        << "++49"
                                                        << "030123";
    QTest::newRow("no country code") << "+49 30 123"
                                     << ""
                                     << "++4930123";
    QTest::newRow("other own code") << "+43 662 123"
                                    << "++43"
                                    << "0662123";
    QTest::newRow("text equal to the code") << "++49"
                                            << "++49"
                                            << "++49";
    QTest::newRow("letters go") << "0800-FLOWERS 12"
                                << "++49"
                                << "080012";
    // A label in front must not hide the "+" and the own country code.
    QTest::newRow("label in front") << "Tel. +49 (0)30 1234"
                                    << "++49"
                                    << "0301234";
    QTest::newRow("bracket in front") << "(+49) 30 1234"
                                      << "++49"
                                      << "0301234";
    QTest::newRow("a + after the own code") << "++49 +1 555"
                                            << "++49"
                                            << "++1555";
}

void TestOutlookIndex::normalise()
{
    QFETCH(QString, number);
    QFETCH(QString, countryCode);
    QFETCH(QString, expected);
    QCOMPARE(NormaliseContactNumber(number, countryCode), expected);
}

void TestOutlookIndex::selectedFieldsUseDefaultsOnlyForAbsentKeys()
{
    QTemporaryDir dir;
    const QString ini = dir.path() + "/corvane.ini";
    SettingsStore settings(ini);
    settings.readAll();
    const QList<PhoneField> defaults = {PhoneField::Business, PhoneField::Home, PhoneField::Mobile,
                                        PhoneField::Other, PhoneField::Primary};
    QCOMPARE(SelectedPhoneFields(settings), defaults);
    // Saved and read again at the next start, the defaults stay.
    QVERIFY(settings.writeAll());
    SettingsStore nextStart(ini);
    nextStart.readAll();
    QCOMPARE(SelectedPhoneFields(nextStart), defaults);

    // Keys the file holds give their live value; the missing ones keep their default.
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[OutlookNumbers]\nHomeTelephoneNumber=0\nCarTelephoneNumber=1\n"
               "TTYTDDTelephoneNumber=1\n");
    file.close();
    settings.readAll();
    QCOMPARE(SelectedPhoneFields(settings),
             QList<PhoneField>({PhoneField::Business, PhoneField::Car, PhoneField::Mobile,
                                PhoneField::Other, PhoneField::Primary, PhoneField::TtyTdd}));

    // Every key written off: nothing is searched.
    settings.outlookNumbers.fill(false);
    QVERIFY(settings.writeAll());
    QVERIFY(SelectedPhoneFields(settings).isEmpty());
    QCOMPARE(FixedPhoneFields(), QList<PhoneField>({PhoneField::Business, PhoneField::Primary,
                                                    PhoneField::Mobile, PhoneField::Home}));
    QCOMPARE(PhoneFieldName(PhoneField::CompanyMain), QString("CompanyMainTelephoneNumber"));
}

void TestOutlookIndex::strideGivesTheContact()
{
    TOutlookIndex index;
    index.Clear(4);
    index.Put("a", "Anna", {"01", "02", "03", "04"});
    index.Put("b", "Bernd", {"11", "12", "13", "14"});
    index.Put("c", "Clara", {"21", "", "", ""});
    QCOMPARE(index.Numbers().indexOf("13"), 6);
    QCOMPARE(index.Match("13"), 1); // entry 6 div 4
    QCOMPARE(index.Match("04"), 0);
    QCOMPARE(index.Match("21"), 2);
    QString name;
    QVERIFY(index.Name(1, name));
    QCOMPARE(name, QString("Bernd"));
    QVERIFY(!index.Name(3, name));
    QVERIFY(!index.Name(-1, name));

    // Every contact has exactly the stride's entries, whatever it was given.
    index.Put("d", "Dora", {"31"});
    index.Put("e", "Emil", {"41", "42", "43", "44", "45"});
    QCOMPARE(index.Numbers().size(), 5 * 4);
    QCOMPARE(index.Match("45"), -1);
    QCOMPARE(index.Match("41"), 4);
}

void TestOutlookIndex::emptyNumbersNeverMatch()
{
    TOutlookIndex index;
    index.Clear(2);
    index.Put("a", "Anna", {"", ""});
    QCOMPARE(index.Match(""), -1);
    QCOMPARE(index.Match(QString()), -1);

    index.Clear(0);
    index.Put("a", "Anna", {"0441"});
    QCOMPARE(index.Match("0441"), -1);
}

void TestOutlookIndex::firstContactWinsAndCaseIsIgnored()
{
    TOutlookIndex index;
    index.Clear(2);
    index.Put("a", "Anna", {"", "0441"});
    index.Put("b", "Bernd", {"0441", "x1"});
    QCOMPARE(index.Match("0441"), 0);
    QCOMPARE(index.Match("X1"), 1);
    QCOMPARE(index.Match("04411"), -1);
}

void TestOutlookIndex::changedAndRemovedContactsFollow()
{
    TOutlookIndex index;
    index.Clear(2);
    index.Put("a", "Anna", {"0441", ""});
    index.Put("b", "Bernd", {"0441", "0300"});
    index.Put("c", "Clara", {"0500", ""});

    // Changed: the old number is gone, the new one and the new name are found.
    index.Put("c", "Clara B.", {"0600", ""});
    QCOMPARE(index.Count(), 3);
    QCOMPARE(index.Match("0500"), -1);
    QCOMPARE(index.Match("0600"), 2);
    QString name;
    QVERIFY(index.Name(2, name));
    QCOMPARE(name, QString("Clara B."));

    // Removed: a number it shared now belongs to the next contact holding it.
    index.Remove("a");
    QCOMPARE(index.Match("0441"), index.Match("0300"));
    QVERIFY(index.Name(index.Match("0441"), name));
    QCOMPARE(name, QString("Bernd"));
    index.Remove("a"); // twice, or unknown: nothing happens
    index.Remove("zz");
    QVERIFY(!index.Contains("a"));

    // Added back later, it comes after the others.
    index.Put("a", "Anna", {"0441", ""});
    QVERIFY(index.Name(index.Match("0441"), name));
    QCOMPARE(name, QString("Bernd"));
}

void TestOutlookIndex::compactionKeepsNamesAndNumbersTogether()
{
    TOutlookIndex index;
    index.Clear(3);
    for (int i = 0; i < 100; ++i)
        index.Put(QString::number(i), QString("N%1").arg(i),
                  {QString("0%1").arg(i), "", QString("1%1").arg(i)});
    for (int i = 0; i < 100; i += 3)
        index.Put(QString::number(i), QString("M%1").arg(i), {"", QString("2%1").arg(i), ""});
    for (int i = 0; i < 100; ++i) {
        if (i % 4 != 0) index.Remove(QString::number(i));
    }
    QCOMPARE(index.Match("099"), -1); // the removals are applied
    QVERIFY(index.Count() < 100);     // and the slots compacted
    QCOMPARE(index.Numbers().size(), index.Count() * 3);
    for (int i = 0; i < 100; ++i) {
        QString name;
        const bool kept = i % 4 == 0;
        const bool changed = i % 3 == 0;
        const int byFirst = index.Match(QString("0%1").arg(i));
        const int bySecond = index.Match(QString("2%1").arg(i));
        if (!kept) {
            QCOMPARE(byFirst, -1);
            QCOMPARE(bySecond, -1);
            continue;
        }
        const int contact = changed ? bySecond : byFirst;
        QVERIFY2(contact >= 0, qPrintable(QString::number(i)));
        QVERIFY(index.Name(contact, name));
        QCOMPARE(name, QString(changed ? "M%1" : "N%1").arg(i));
        QCOMPARE(index.Match(QString("1%1").arg(i)), changed ? -1 : contact);
    }
}

QTEST_GUILESS_MAIN(TestOutlookIndex)
#include "tst_outlookindex.moc"
