#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Records the order and language of the switches it sees.
class RecordingWindow : public QObject, public ILanguageSwitchable
{
public:
    RecordingWindow(QString name, QStringList *log) : FName(std::move(name)), FLog(log) {}
    void ApplyLanguage(Language language) override
    {
        FLog->append(FName + (language == Language::English ? ":en" : ":de"));
    }

private:
    QString FName;
    QStringList *FLog;
};

} // namespace

class TestLang : public QObject
{
    Q_OBJECT

private slots:
    void everyTextExistsInBothLanguages();
    void textsThatMustStayExact();
    void messagesWithParameters();
    void fileFiltersInQtForm();
    void switchAppliesWindowsByFormAndDropsDestroyedOnes();
    void switchConvertsEveryStoredWordButDoesNotSave();
    void activationTexts();
};

void TestLang::everyTextExistsInBothLanguages()
{
    for (UiForm form : {UiForm::Options, UiForm::Main, UiForm::Lists, UiForm::Nick, UiForm::Search,
                        UiForm::Tapi, UiForm::About, UiForm::Messages, UiForm::Words}) {
        const QStringList names = UiTextNames(form);
        QVERIFY2(!names.isEmpty(), qPrintable(QString::number(int(form))));
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        for (const QString &name : names) {
            if (form == UiForm::Lists && name == u"lvMSN.Col0")
                continue; // the check-box column has no caption
            QVERIFY2(!UiText(form, name, Language::German).isEmpty(), qPrintable(name));
            QVERIFY2(!UiText(form, name, Language::English).isEmpty(), qPrintable(name));
        }
    }
    QVERIFY(UiText(UiForm::Lists, u"NoSuchControl", Language::English).isEmpty());
    QVERIFY(!HasUiText(UiForm::Nick, u"Beenden1"));
}

void TestLang::textsThatMustStayExact()
{
    const Language de = Language::German;
    const Language en = Language::English;
    QCOMPARE(UiText(UiForm::Lists, u"ClearNoSubmit1", de),
             QString::fromUtf8("Anrufe mit \"Nicht übermittelt\" löschen"));
    QCOMPARE(UiText(UiForm::Lists, u"ClearNoSubmit1", en),
             QStringLiteral("Delete \"not submitted\" calls"));
    QCOMPARE(UiText(UiForm::Nick, u"cbRejectNotSub", de),
             QString::fromUtf8("Anruf \"nicht übermittelt\" abweisen"));
    QCOMPARE(UiText(UiForm::Options, u"cbStoreNoNum", en),
             QStringLiteral("Store \"&not submitted\" calls"));
    QCOMPARE(UiText(UiForm::Options, u"cbStoreNoNum", de),
             QString::fromUtf8("\"&Nicht übermittelt\"-Anrufe speichern"));
    QCOMPARE(UiText(UiForm::Main, u"Beenden1", en), QStringLiteral("E&xit"));
    QCOMPARE(UiText(UiForm::Main, u"CallLabel", de), QStringLiteral(" Anruf von:"));
    QCOMPARE(UiText(UiForm::Main, u"OrtLabel", en), QStringLiteral(" Town: "));
    QCOMPARE(UiText(UiForm::Lists, u"OKBtn", de), QString::fromUtf8("Schließen"));
    QCOMPARE(UiText(UiForm::Search, u"lbContent", en), QStringLiteral("contents"));
    QCOMPARE(UiText(UiForm::Words, u"Entries", de), QString::fromUtf8("Einträge"));
    QCOMPARE(UiText(UiForm::Messages, u"AutostartWriteError", de),
             QString::fromUtf8("Fehler beim Schreiben der Option \"Beim Systemstart laden\" in "
                               "den Autostart-Eintrag: "));
    // The column captions of the models come from the same table.
    QCOMPARE(callColumnCaptions(de).join(u';'),
             QStringLiteral("DateTime;Datum;Zeit;Rufnummer;Spitzname;Stadt;Ziel;Status"));
    QCOMPARE(msnColumnCaptions(en).join(u';'), QStringLiteral(";MSN;Nickname;Soundfile;Action"));
}

void TestLang::messagesWithParameters()
{
    QCOMPARE(DuplicateNumberText("0301", "Anna", Language::English),
             QStringLiteral("Entry for number 0301 already exits\n\rfor nickname Anna"));
    QCOMPARE(DuplicateNumberText("0301", "Anna", Language::German),
             QString::fromUtf8("Eintrag für Nummer 0301 schon vorhanden\n\rfür Spitzname Anna"));
    QCOMPARE(NicknameTooLongText(45, Language::English),
             QStringLiteral("Please do not use nicknames longer than 45 characters"));
    QCOMPARE(NicknameTooLongText(45, Language::German),
             QStringLiteral("Benutzen Sie keine Spitznamen mit mehr als 45 Buchstaben"));
}

void TestLang::fileFiltersInQtForm()
{
    QCOMPARE(QtFileFilter("Wave|*.wav"), QStringLiteral("Wave (*.wav)"));
    QCOMPARE(QtFileFilter("All files (*.gif;*.jpg)|*.gif;*.jpg|Bitmaps (*.bmp)|*.bmp"),
             QStringLiteral("All files (*.gif *.jpg);;Bitmaps (*.bmp)"));
    const QString pictures =
        QtFileFilter(UiText(UiForm::Options, u"PictureFilter", Language::German));
    QCOMPARE(pictures.split(QStringLiteral(";;")).size(), 7);
    QVERIFY(pictures.startsWith(
        QStringLiteral("Alle Dateien (*.gif *.jpg *.jpeg *.bmp *.ico *.emf *.wmf);;")));
}

void TestLang::switchAppliesWindowsByFormAndDropsDestroyedOnes()
{
    QStringList log;
    TLanguageSwitch language;
    QCOMPARE(language.Index(), -1);
    auto *search = new RecordingWindow("search", &log);
    auto *main = new RecordingWindow("main", &log);
    auto *lists = new RecordingWindow("lists", &log);
    auto *options = new RecordingWindow("options", &log);
    language.Register(search, UiForm::Search);
    language.Register(lists, UiForm::Lists);
    language.Register(main, UiForm::Main);
    language.Register(options, UiForm::Options);
    language.Register(main, UiForm::Main); // twice changes nothing

    language.SetLanguage(1);
    QCOMPARE(log, QStringList({"options:en", "main:en", "lists:en", "search:en"}));
    QCOMPARE(language.language(), Language::English);

    log.clear();
    delete lists;
    QVERIFY(!language.IsRegistered(lists));
    language.SetLanguage(7); // anything but 1 is German
    QCOMPARE(language.Index(), 0);
    QCOMPARE(log, QStringList({"options:de", "main:de", "search:de"}));
    delete search;
    delete main;
    delete options;
}

void TestLang::switchConvertsEveryStoredWordButDoesNotSave()
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath("corvane.ini"));
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir.path(), QLocale(QLocale::German, QLocale::Germany));
    TLanguageSwitch language(&lists);
    language.SetLanguage(0);

    const QStringList german = {"abgewiesen", "besetzt",   "nicht angenommen",
                                "angenommen", "unbekannt", "Verbindung getrennt"};
    const QStringList english = {"rejected", "busy",    "not anwsered",
                                 "answered", "unknown", "Verbindung getrennt"};
    QList<CallRow> calls;
    for (int i = 0; i < german.size(); ++i) {
        CallRow row;
        row.dateTime = QString::number(46000 + i);
        row.number = i % 2 ? QString::fromUtf8("-nicht übermittelt-") : QStringLiteral("0301");
        row.status = german.at(i);
        calls.append(row);
    }
    lists.calls().setRows(calls);
    const QString germanAll = BuildActionText(true, true, true, true, Language::German);
    lists.nicks().setRows({NickRow{"Anna", "0301", "", "speichern|popup|alle abweisen|"}});
    lists.msns().setRows({MsnRow{true, "4711", "Office", "", germanAll}});

    language.SetLanguage(1);
    for (int i = 0; i < german.size(); ++i) {
        QCOMPARE(lists.calls().row(i).status, english.at(i));
        QCOMPARE(lists.calls().row(i).number,
                 i % 2 ? QStringLiteral("-not transmitted-") : QStringLiteral("0301"));
    }
    QCOMPARE(lists.nicks().row(0).action, QStringLiteral("log|popup|reject all|"));
    QCOMPARE(lists.msns().row(0).action,
             QStringLiteral("log|popup|reject all|reject not submmitted|"));
    QCOMPARE(lists.calls().headerData(1, Qt::Horizontal).toString(), QStringLiteral("Date"));

    language.SetLanguage(0);
    QCOMPARE(lists.msns().row(0).action, germanAll);
    QCOMPARE(lists.calls().row(1).status, QStringLiteral("besetzt"));
    // Saving after a switch is the options dialog's business.
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

void TestLang::activationTexts()
{
    TLanguageSwitch language;
    QList<std::pair<QString, bool>> shown;
    language.SetActivationTexts(true); // no hook yet: nothing happens
    language.OnActivationTexts = [&](const QString &caption, bool inactive) {
        shown.append({caption, inactive});
    };
    bool inactive = true;
    language.MonitoringInactive = [&] { return inactive; };
    language.SetLanguage(1);
    inactive = false;
    language.SetLanguage(0);
    language.SetActivationTexts(true);
    QCOMPARE(shown, (QList<std::pair<QString, bool>>{
                        {"&Activate", true}, {"&Deaktivieren", false}, {"&Aktivieren", true}}));
}

QTEST_GUILESS_MAIN(TestLang)
#include "tst_lang.moc"
