#include "phone/isdntool.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// The area-code rule as written, line by line, to check the indexed look-up against.
QString findTownByScan(const QStringList &lines, const QString &number)
{
    const bool plus = number.startsWith(u'+');
    for (const QString &line : lines) {
        const qsizetype blank = line.indexOf(u' ');
        if (blank <= 0) continue;
        const qsizetype p = number.indexOf(line.left(blank)) + 1;
        if ((plus && p == 1) || (!plus && p == 2)) {
            QString town = line.mid(blank, 100);
            while (!town.isEmpty() && town.front().unicode() <= 32)
                town.remove(0, 1);
            while (!town.isEmpty() && town.back().unicode() <= 32)
                town.chop(1);
            return town;
        }
    }
    return QString();
}

} // namespace

class TestIsdnTool : public QObject
{
    Q_OBJECT

private slots:
    void cutLeadingZeroes_data();
    void cutLeadingZeroes();
    void findTownRules_data();
    void findTownRules();
    void findTownMatchesTheLineByLineRule();
    void shippedTableHasTheKnownPairs();
    void countryCodesFromTheTable();
    void flagWordsInEitherLanguage();
    void statusWordsAndNotTransmitted();
    void isPhoneNumber_data();
    void isPhoneNumber();
    void languageConversion();
};

void TestIsdnTool::cutLeadingZeroes_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two of two") << "00441123" << 2 << "441123";
    QTest::newRow("two of one") << "0441123" << 2 << "441123";
    QTest::newRow("one of two") << "00441123" << 1 << "0441123";
    QTest::newRow("none") << "0441" << 0 << "0441";
    QTest::newRow("negative") << "0441" << -3 << "0441";
    QTest::newRow("all zeroes") << "000" << 5 << "";
    QTest::newRow("empty") << "" << 2 << "";
    QTest::newRow("inner zeroes stay") << "1000" << 3 << "1000";
}

void TestIsdnTool::cutLeadingZeroes()
{
    QFETCH(QString, number);
    QFETCH(int, n);
    QFETCH(QString, expected);
    QCOMPARE(CutLeadingZeroes(number, n), expected);
}

void TestIsdnTool::findTownRules_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("town");
    QTest::newRow("first line wins, not the longest") << QStringList{"44 X", "441 Y"} << "04411234"
                                                      << "X";
    QTest::newRow("swapped") << QStringList{"441 Y", "44 X"} << "04411234"
                             << "Y";
    QTest::newRow("country") << QStringList{"++43 Z"} << "++4366212345"
                             << "Z";
    QTest::newRow("country needs ++ form") << QStringList{"++43 Z"} << "004366212345"
                                           << "";
    QTest::newRow("second character onward") << QStringList{"441 Y"} << "5441"
                                             << "Y";
    QTest::newRow("earlier occurrence counts") << QStringList{"3 X"} << "3341"
                                               << "";
    QTest::newRow("line without blank skipped") << QStringList{"441Y", "441 Z"} << "0441"
                                                << "Z";
    QTest::newRow("leading blank is no prefix") << QStringList{" 441 Y"} << "0441"
                                                << "";
    QTest::newRow("name trimmed") << QStringList{"30   Berlin \t"} << "030123"
                                  << "Berlin";
    QTest::newRow("name cut at 100")
        << QStringList{"30 " + QString(150, 'b')} << "030" << QString(99, 'b');
    QTest::newRow("national prefix never at first") << QStringList{"0 X"} << "0441"
                                                    << "";
    QTest::newRow("empty number") << QStringList{"30 Berlin"} << ""
                                  << "";
}

void TestIsdnTool::findTownRules()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, number);
    QFETCH(QString, town);
    AreaCodeTable table;
    table.setLines(lines);
    QCOMPARE(table.FindTown(number), town);
    QCOMPARE(findTownByScan(lines, number), town);
}

void TestIsdnTool::findTownMatchesTheLineByLineRule()
{
    // Small alphabets make overlapping prefixes, repeats and early occurrences common.
    QRandomGenerator random(4711);
    auto text = [&random](int maxLength, const QString &alphabet) {
        QString s;
        const int length = random.bounded(maxLength + 1);
        for (int i = 0; i < length; ++i)
            s += alphabet[random.bounded(alphabet.size())];
        return s;
    };
    for (int round = 0; round < 300; ++round) {
        QStringList lines;
        const int count = random.bounded(1, 30);
        for (int i = 0; i < count; ++i) {
            const QString prefix =
                random.bounded(4) == 0 ? "++" + text(2, "0123") : text(3, "0123+");
            lines.append(prefix +
                         (random.bounded(10) == 0 ? QString() : " T" + QString::number(i)));
        }
        AreaCodeTable table;
        table.setLines(lines);
        for (int n = 0; n < 40; ++n) {
            const QString number = (random.bounded(3) == 0 ? "++" : "") + text(7, "0123");
            QCOMPARE(table.FindTown(number), findTownByScan(lines, number));
        }
    }
}

void TestIsdnTool::countryCodesFromTheTable()
{
    AreaCodeTable table;
    table.setLines({"30 Berlin", "++43 Österreich", "++1 Vereinigte Staaten", "++43 Österreich",
                    "++44", " ++45 Dänemark", "0++ kein Präfix", "++1 Kanada", "++49 Deutschland"});
    QCOMPARE(table.CountryCodes(), QStringList({"++43", "++1", "0++", "++49"}));
}

void TestIsdnTool::shippedTableHasTheKnownPairs()
{
    AreaCodeTable table;
    QVERIFY(table.load(CORVANE_SHIPPED_ORTE));
    QVERIFY(table.count() > 5000);
    QCOMPARE(table.FindTown("030123456"), QString("Berlin"));
    QCOMPARE(table.FindTown("0891234567"), QString::fromUtf8("München"));
    QCOMPARE(table.FindTown("0441123456"), QString("Oldenburg"));
    QCOMPARE(table.FindTown("++43662123456"), QString::fromUtf8("Österreich"));
    // 0212 and 02129 both exist; the longer code comes first in the file.
    QCOMPARE(table.FindTown("02129123456"), QString("Haan Rheinland"));
    QCOMPARE(table.FindTown("0212123456"), QString("Solingen"));
    QCOMPARE(table.FindTown("0151123456"), QString()); // mobile, no town
    QVERIFY(!AreaCodeTable().load("/nonexistent/orte.asc"));
}

void TestIsdnTool::flagWordsInEitherLanguage()
{
    // German words read while English is in force, and the other way round.
    QVERIFY(HasStoreFlag("speichern|popup|"));
    QVERIFY(HasPopupFlag("speichern|popup|"));
    QVERIFY(!HasRejectAllFlag("speichern|popup|"));
    QVERIFY(HasRejectAllFlag("log|reject all|"));
    QVERIFY(!HasPopupFlag("log|reject all|"));
    QVERIFY(HasRejectNotSubmittedFlag("reject not submmitted|"));
    QVERIFY(!HasRejectNotSubmittedFlag("reject not submitted|"));
    QVERIFY(HasRejectNotSubmittedFlag(QString::fromUtf8("abweisen bei \"nicht übermittelt\"|")));
    QVERIFY(!HasStoreFlag(""));
    QVERIFY(!HasStoreFlag("LOG|")); // case-sensitive
    QCOMPARE(BuildActionText(true, true, false, false, Language::English), QString("log|popup|"));
    QCOMPARE(BuildActionText(true, false, true, true, Language::German),
             QString::fromUtf8("speichern|alle abweisen|abweisen bei \"nicht übermittelt\"|"));
    QCOMPARE(BuildActionText(false, false, false, false, Language::German), QString());
}

void TestIsdnTool::statusWordsAndNotTransmitted()
{
    QVERIFY(IsNotTransmitted("-not transmitted-"));
    QVERIFY(IsNotTransmitted(QString::fromUtf8("-nicht übermittelt-")));
    QVERIFY(!IsNotTransmitted("-not transmitted- "));
    QVERIFY(IsStatusNotAnswered("not anwsered"));
    QVERIFY(!IsStatusNotAnswered("not answered"));
    QVERIFY(IsStatusAnswered("angenommen"));
    QVERIFY(!IsStatusAnswered("nicht angenommen"));
    QVERIFY(IsStatusBusy("besetzt") && IsStatusBusy("busy"));
    QVERIFY(IsStatusRejected("abgewiesen") && IsStatusRejected("rejected"));
    QVERIFY(IsStatusUnknown("unbekannt") && IsStatusUnknown("unknown"));
    QCOMPARE(languageFromIndex(1), Language::English);
    QCOMPARE(languageFromIndex(0), Language::German);
    QCOMPARE(languageFromIndex(-1), Language::German);
    QCOMPARE(languageFromIndex(7), Language::German);
}

void TestIsdnTool::isPhoneNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("national") << "0441123456" << true;
    QTest::newRow("international") << "++43662123456" << true;
    QTest::newRow("signed") << "-5" << true;
    QTest::newRow("not transmitted") << "-not transmitted-" << false;
    QTest::newRow("blank inside") << "0441 123" << false;
    QTest::newRow("blank around") << " 0441" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("too long for 64 bits") << "++4930123456789012345678" << false;
    QTest::newRow("star") << "0441*" << false;
}

void TestIsdnTool::isPhoneNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(IsPhoneNumber(text), expected);
}

void TestIsdnTool::languageConversion()
{
    QCOMPARE(convertActionText("log|reject all|", Language::German),
             QString("speichern|alle abweisen|"));
    QCOMPARE(
        convertActionText(QString::fromUtf8("speichern|popup|alle abweisen|"), Language::English),
        QString("log|popup|reject all|"));
    QCOMPARE(convertActionText(QString::fromUtf8("abweisen bei \"nicht übermittelt\"|"),
                               Language::English),
             QString("reject not submmitted|"));
    QCOMPARE(convertStatus("besetzt", Language::English), QString("busy"));
    QCOMPARE(convertStatus("unbekannt", Language::English), QString("unknown"));
    QCOMPARE(convertStatus("not anwsered", Language::German), QString("nicht angenommen"));
    QCOMPARE(convertStatus("Leitung gestört", Language::English), QString("Leitung gestört"));
    QCOMPARE(convertNumber(QString::fromUtf8("-nicht übermittelt-"), Language::English),
             QString("-not transmitted-"));
    QCOMPARE(convertNumber("0441", Language::English), QString("0441"));
}

QTEST_GUILESS_MAIN(TestIsdnTool)
#include "tst_isdntool.moc"
