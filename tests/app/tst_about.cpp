// The about window's note on what cannot work on Wayland alone: shown only when the program
// runs there, in the interface language, as plain text.
#include "app/about.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void platformNoteOnlyWhereItApplies()
    {
        TAboutBox about;
        about.CloseAfterMs = 60000;
        auto *note = about.findChild<QLabel *>(QStringLiteral("lbPlatformNote"));
        QVERIFY(note);
        QCOMPARE(note->textFormat(), Qt::PlainText);

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(!note->isVisible());

        about.SetPlatformNote(true);
        QVERIFY(note->isVisible());
        QVERIFY2(note->text().contains(QStringLiteral("\"Im Vordergrund\"")),
                 qPrintable(note->text()));
        about.ApplyLanguage(Language::English);
        QVERIFY2(note->text().startsWith(QStringLiteral("Corvane runs on Wayland here")),
                 qPrintable(note->text()));
        QVERIFY(note->text().contains(QStringLiteral("\"Stay on top\"")));
        QCOMPARE(about.windowTitle(), QStringLiteral("Info"));

        about.SetPlatformNote(false);
        QVERIFY(!note->isVisible());
        about.ApplyLanguage(Language::German);
        QVERIFY(note->text().startsWith(QString::fromUtf8("Corvane läuft hier unter Wayland")));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
