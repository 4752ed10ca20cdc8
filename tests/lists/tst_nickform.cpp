#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tests/lists/WidgetTestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// A valid PCM wave file of a tenth of a second of silence.
void writeWave(const QString &path)
{
    const quint32 samples = 800;
    QByteArray data;
    auto u32 = [&data](quint32 v) { data.append(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&data](quint16 v) { data.append(reinterpret_cast<const char *>(&v), 2); };
    data.append("RIFF");
    u32(36 + samples * 2);
    data.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(16000);
    u16(2);
    u16(16);
    data.append("data");
    u32(samples * 2);
    data.append(QByteArray(samples * 2, '\0'));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

class TestNickForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void okChecksInTheirOrder();
    void duplicateCheckSkipsTheEditedRow();
    void msnModeChecksTheMsnListOnly();
    void messagesFollowTheLanguage();
    void rejectBoxesExcludeEachOther();
    void soundChooserWritesLastWavePath();
    void playsTheSoundAndStopsOnClose();
    void modeSetsTitleAndNumberLabel();

private:
    // Opens the form in the mode, types the fields and presses OK; a form the checks keep
    // open is cancelled. True when it closed with OK.
    bool enterAndPressOk(TNickForm::Mode mode, const QString &nickname, const QString &number);

    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    QScopedPointer<TLists> FLists;
    QScopedPointer<TNickForm> FForm;
};

void TestNickForm::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->filePath("corvane.ini")));
    FSettings->readAll();
    FPrompts = ScriptedPrompts();
    FLists.reset(new TLists(*FSettings, FPrompts, FDir->path()));
    FLists->SetLanguage(Language::English);
    FLists->nicks().setRows({NickRow{"Anna", "123*", "", ""}, NickRow{"Bert", "0301", "", ""}});
    FLists->msns().setRows({MsnRow{true, "4711", "Office", "", ""}});
    FForm.reset(new TNickForm(*FLists));
    FForm->ApplyLanguage(Language::English);
}

void TestNickForm::cleanup()
{
    FForm.reset();
    FLists.reset();
}

bool TestNickForm::enterAndPressOk(TNickForm::Mode mode, const QString &nickname,
                                   const QString &number)
{
    auto ran = whenModal<TNickForm>([&](TNickForm *form) {
        QLineEdit *edNick = child<QLineEdit>(form, "edNick");
        QLineEdit *edNumber = child<QLineEdit>(form, "edNumber");
        QCOMPARE(form->focusWidget(), edNick);
        edNick->setText(nickname);
        edNumber->setText(number);
        QTest::mouseClick(child<QPushButton>(form, "OKBtn"), Qt::LeftButton);
        if (form->isVisible()) form->reject();
    });
    const bool ok = FForm->Open(mode);
    if (!*ran) qWarning("the editor did not open");
    return ok;
}

void TestNickForm::okChecksInTheirOrder()
{
    const QString empty = "Please insert number and nickname or press Cancel";
    const QString semicolon = "Number or nickname must not contain a semicolon";
    FForm->Reset();
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "", "0402"));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Carl", ""));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Carl", "04;02"));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Ca;rl", "0402"));
    // The semicolon check comes before the duplicate check.
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Ca;rl", "0301"));
    QCOMPARE(FPrompts.messages, QStringList({empty, empty, semicolon, semicolon, semicolon}));

    // 45 characters fit, a 46th is not taken by the field.
    FPrompts.messages.clear();
    const QString longest(TNickForm::MaxNicknameLength, u'x');
    QVERIFY(enterAndPressOk(TNickForm::Mode::Nickname, longest + "y", "0402"));
    QCOMPARE(FForm->Nickname(), longest);
    QVERIFY(FPrompts.messages.isEmpty());

    // A prefix entry and the plain number are different entries.
    QVERIFY(enterAndPressOk(TNickForm::Mode::Nickname, "Carl", "123"));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Carl", "123*"));
    QCOMPARE(FPrompts.messages,
             QStringList({"Entry for number 123* already exits\n\rfor nickname Anna"}));
}

void TestNickForm::duplicateCheckSkipsTheEditedRow()
{
    FForm->SetEntry("Bert", "0301", "", "log|");
    FForm->EditingIndex = 1;
    QVERIFY(enterAndPressOk(TNickForm::Mode::Nickname, "Bert", "0301"));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Bert", "123*"));
    QVERIFY(FPrompts.messages.last().endsWith("for nickname Anna"));
}

void TestNickForm::msnModeChecksTheMsnListOnly()
{
    FForm->Reset();
    // A number of the nickname list may be an MSN as well.
    QVERIFY(enterAndPressOk(TNickForm::Mode::Msn, "Home", "0301"));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Msn, "Home", "4711"));
    QCOMPARE(FPrompts.messages,
             QStringList({"Entry for number 4711 already exits\n\rfor nickname Office"}));
    // And the other way round.
    QVERIFY(enterAndPressOk(TNickForm::Mode::Nickname, "Desk", "4711"));
}

void TestNickForm::messagesFollowTheLanguage()
{
    FForm->ApplyLanguage(Language::German);
    FForm->Reset();
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "", ""));
    QVERIFY(!enterAndPressOk(TNickForm::Mode::Nickname, "Bert", "0301"));
    QCOMPARE(FPrompts.messages,
             QStringList({QString::fromUtf8("Geben Sie Name und Nummer ein oder drücken Sie "
                                            "Abbrechen"),
                          QString::fromUtf8("Eintrag für Nummer 0301 schon vorhanden\n\rfür "
                                            "Spitzname Bert")}));
    QCOMPARE(FForm->windowTitle(), QStringLiteral("Spitzname"));
    QCOMPARE(child<QLabel>(FForm.data(), "lbNumber")->text(), QStringLiteral("Rufnummer"));
    QCOMPARE(child<QPushButton>(FForm.data(), "CancelBtn")->text(), QStringLiteral("Abbrechen"));
}

void TestNickForm::rejectBoxesExcludeEachOther()
{
    FForm->Reset();
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.data()));
    QCheckBox *reject = child<QCheckBox>(FForm.data(), "cbReject");
    QCheckBox *rejectNotSub = child<QCheckBox>(FForm.data(), "cbRejectNotSub");
    QTest::mouseClick(rejectNotSub, Qt::LeftButton);
    QVERIFY(rejectNotSub->isChecked());
    QVERIFY(!reject->isEnabled());

    // Unchecking gives the other box back.
    QTest::mouseClick(rejectNotSub, Qt::LeftButton);
    QVERIFY(reject->isEnabled());

    // An entry may come with the other flag set; checking this box clears it.
    FForm->SetEntry("Bert", "0301", "", "log|popup|reject not submmitted|");
    QVERIFY(rejectNotSub->isChecked());
    QTest::mouseClick(reject, Qt::LeftButton);
    QVERIFY(reject->isChecked());
    QVERIFY(!rejectNotSub->isChecked());
    QVERIFY(!rejectNotSub->isEnabled());
    QCOMPARE(FForm->ActionText(), QStringLiteral("log|popup|reject all|"));

    QTest::mouseClick(reject, Qt::LeftButton);
    QVERIFY(rejectNotSub->isEnabled());
    QCOMPARE(FForm->ActionText(), QStringLiteral("log|popup|"));
    FForm->hide();
}

void TestNickForm::soundChooserWritesLastWavePath()
{
    QDir(FDir->path()).mkdir("sounds");
    const QString before = FSettings->settings.lastWavePath;
    FForm->show();
    QToolButton *chooser = child<QToolButton>(FForm.data(), "OBtn");

    QTest::mouseClick(chooser, Qt::LeftButton); // cancelled
    QVERIFY(FForm->Sound().isEmpty());

    FPrompts.chosenFiles = {FDir->filePath("sounds/ring.wav")};
    QTest::mouseClick(chooser, Qt::LeftButton);
    QCOMPARE(FForm->Sound(), FDir->filePath("sounds/ring.wav"));
    QCOMPARE(child<QLineEdit>(FForm.data(), "edSound")->toolTip(), FForm->Sound());
    QCOMPARE(FPrompts.fileChooserDirectories, QStringList({before, before}));

    // Written at once, with a trailing separator.
    SettingsStore reread(FDir->filePath("corvane.ini"));
    reread.readAll();
    QCOMPARE(reread.settings.lastWavePath, FDir->filePath("sounds") + "/");
    FForm->hide();
}

void TestNickForm::playsTheSoundAndStopsOnClose()
{
    const QString wave = FDir->filePath("ring.wav");
    writeWave(wave);
    QToolButton *play = child<QToolButton>(FForm.data(), "btnPlay");
    FForm->Reset();
    FForm->show();
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY(FForm->sound().CurrentFile().isEmpty());

    FForm->SetSound(wave);
    QTest::mouseClick(play, Qt::LeftButton);
    QCOMPARE(FForm->sound().CurrentFile(), wave);
    FForm->reject();
    QVERIFY(!FForm->sound().IsPlaying());
}

void TestNickForm::modeSetsTitleAndNumberLabel()
{
    QString title;
    QString label;
    auto look = [&](TNickForm *form) {
        title = form->windowTitle();
        label = child<QLabel>(form, "lbNumber")->text();
        form->reject();
    };
    whenModal<TNickForm>(look);
    FForm->Open(TNickForm::Mode::Msn);
    QCOMPARE(title, QStringLiteral("MSN"));
    QCOMPARE(label, QStringLiteral("MSN"));
    whenModal<TNickForm>(look);
    FForm->Open(TNickForm::Mode::Nickname);
    QCOMPARE(title, QStringLiteral("Nickname"));
    QCOMPARE(label, QStringLiteral("Phone number"));

    FForm->SetRejectNotSubVisible(false);
    FForm->show();
    QVERIFY(!child<QCheckBox>(FForm.data(), "cbRejectNotSub")->isVisible());
    FForm->hide();
}

QTEST_MAIN(TestNickForm)
#include "tst_nickform.moc"
