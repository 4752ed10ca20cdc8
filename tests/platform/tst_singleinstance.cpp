// One running instance per user: roles, the second start's hand-over, hostile clients
// and recovery after a crash. Second starts are real child processes (this program
// started with --second or --hold).
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <csignal>
#include <cstring>

using namespace platform;

namespace {

// A second start as the program does it: take the role, then send the command line.
// Exit 0: sent and answered; 1: not answered; 2: became the first instance; 3: failed.
int runSecondStart(const QString &serverName, const QStringList &parameters)
{
    SingleInstance instance(serverName);
    switch (instance.start()) {
    case SingleInstance::Role::Primary:
        return 2;
    case SingleInstance::Role::Failed:
    case SingleInstance::Role::Undecided:
        return 3;
    case SingleInstance::Role::Secondary:
        break;
    }
    const InstanceCommand command = PrepareCommand(QStringList{"corvane"} + parameters);
    return instance.sendToPrimary(command) ? 0 : 1;
}

// A first instance that runs until it is killed.
int runHold(const QString &serverName)
{
    SingleInstance instance(serverName);
    if (instance.start() != SingleInstance::Role::Primary) return 2;
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    out.write("ready\n");
    out.flush();
    return QCoreApplication::exec();
}

QByteArray frame(quint8 version, quint16 command, const QByteArray &dir, int declaredLength = -1)
{
    QByteArray f("CRVN");
    f += char(version);
    uchar n[4];
    qToBigEndian<quint16>(command, n);
    qToBigEndian<quint16>(quint16(declaredLength < 0 ? dir.size() : declaredLength), n + 2);
    f.append(reinterpret_cast<const char *>(n), 4);
    return f + dir;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_name;

    // Writes raw bytes as a client; returns what the server answered before it closed.
    QByteArray exchange(const QByteArray &bytes, bool *closed)
    {
        QLocalSocket client;
        client.connectToServer(m_name);
        if (!client.waitForConnected(2000)) {
            *closed = false;
            return "no connection";
        }
        client.write(bytes);
        client.flush();
        QByteArray answer;
        QDeadlineTimer deadline(3000);
        while (client.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            answer += client.readAll();
        }
        answer += client.readAll();
        *closed = client.state() == QLocalSocket::UnconnectedState;
        return answer;
    }

    QProcess *startChild(const QStringList &arguments, const QString &workingDirectory)
    {
        auto *child = new QProcess(this);
        child->setWorkingDirectory(workingDirectory);
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(), arguments);
        return child;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_name = m_dir.filePath(QString("s%1.sock").arg(QRandomGenerator::global()->generate()));
    }

    void rolesFollowTheLock()
    {
        auto first = std::make_unique<SingleInstance>(m_name);
        QCOMPARE(first->start(), SingleInstance::Role::Primary);
        QVERIFY(QFile::exists(m_name));
        // start() decides once.
        QCOMPARE(first->start(), SingleInstance::Role::Primary);

        SingleInstance second(m_name);
        QCOMPARE(second.start(), SingleInstance::Role::Secondary);
        QCOMPARE(second.serverPath(), QString());

        // The first ends normally: the next start takes over.
        first.reset();
        QVERIFY(!QFile::exists(m_name));
        SingleInstance third(m_name);
        QCOMPARE(third.start(), SingleInstance::Role::Primary);
    }

    void defaultNameIsPerUserAndKey()
    {
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });

        qputenv("XDG_RUNTIME_DIR", m_dir.path().toUtf8());
        QCOMPARE(SingleInstance::DefaultServerName(), m_dir.filePath("corvane.sock"));
        const QString keyed = SingleInstance::DefaultServerName("/tmp/home-a");
        QVERIFY(keyed.startsWith(m_dir.filePath("corvane-")));
        QVERIFY(keyed != SingleInstance::DefaultServerName("/tmp/home-b"));
        QCOMPARE(keyed, SingleInstance::DefaultServerName("/tmp/home-a"));

        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(SingleInstance::DefaultServerName(), QString("corvane-%1").arg(getuid()));
    }

    void secondStartForwardsCommand_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<int>("command");
        QTest::newRow("/w") << QStringList{"/w"} << int(InstanceCommand::ShowPopup);
        QTest::newRow("/calls") << QStringList{"/calls"} << int(InstanceCommand::Calls);
        QTest::newRow("/m") << QStringList{"/m"} << int(InstanceCommand::Msn);
        QTest::newRow("/n") << QStringList{"/n"} << int(InstanceCommand::Nicknames);
        QTest::newRow("/o") << QStringList{"/o"} << int(InstanceCommand::Options);
        QTest::newRow("/dial") << QStringList{"/dial"} << int(InstanceCommand::Dial);
        QTest::newRow("/t number")
            << QStringList{"/t", "0441123"} << int(InstanceCommand::TestCall);
        // No command: the first instance is only brought to the front.
        QTest::newRow("no switch") << QStringList{} << int(InstanceCommand::None);
        QTest::newRow("/W") << QStringList{"/W"} << int(InstanceCommand::None);
        QTest::newRow("/t alone") << QStringList{"/t"} << int(InstanceCommand::None);
    }
    void secondStartForwardsCommand()
    {
        QFETCH(QStringList, parameters);
        QFETCH(int, command);

        SingleInstance first(m_name);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        QSignalSpy commands(&first, &SingleInstance::commandReceived);

        // The second start runs elsewhere; the first reads the number from there.
        QTemporaryDir elsewhere;
        QProcess *child =
            startChild(QStringList{"--second", m_name} + parameters, elsewhere.path());
        QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, 10000);
        QCOMPARE(child->exitCode(), 0);
        QTRY_COMPARE(activations.count(), 1);

        if (command == int(InstanceCommand::None)) {
            QTest::qWait(50);
            QCOMPARE(commands.count(), 0);
            return;
        }
        QTRY_COMPARE(commands.count(), 1);
        QCOMPARE(int(commands.at(0).at(0).value<InstanceCommand>()), command);
        const QString dir = commands.at(0).at(1).toString();
        QCOMPARE(QFileInfo(dir).canonicalFilePath(),
                 QFileInfo(elsewhere.path()).canonicalFilePath());
        if (command == int(InstanceCommand::TestCall))
            QCOMPARE(ReadTestCallNumber(dir), std::optional<QString>("0441123"));
    }

    void invalidMessagesAreDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("wrong magic") << QByteArray("HELLO WORLD\n");
        QTest::newRow("newer version") << frame(2, 3025, "/tmp");
        QTest::newRow("unknown code") << frame(1, 3031, "/tmp");
        QTest::newRow("code between") << frame(1, 3100, "/tmp");
        QTest::newRow("oversized") << frame(1, 3025, QByteArray(5000, 'a'), 5000);
        QTest::newRow("length above limit") << frame(1, 3025, "/tmp", 0xFFFF);
        QTest::newRow("trailing data") << frame(1, 3025, "/tmp") + "x";
        QTest::newRow("two frames") << frame(1, 3025, "/tmp") + frame(1, 3028, "/tmp");
        QTest::newRow("relative directory") << frame(1, 3124, "tmp/x");
        QTest::newRow("invalid utf-8") << frame(1, 3124, "/tmp/\xff\xfe");
        QTest::newRow("nul in directory") << frame(1, 3124, QByteArray("/tmp\0x", 6));
    }
    void invalidMessagesAreDropped()
    {
        QFETCH(QByteArray, bytes);
        SingleInstance first(m_name);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);

        bool closed = false;
        QCOMPARE(exchange(bytes, &closed), QByteArray());
        QVERIFY(closed);
        QTest::qWait(20);
        QCOMPARE(activations.count(), 0);

        // The server goes on serving.
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Calls, "/tmp"), &closed),
                 QByteArray("OK"));
        QTRY_COMPARE(activations.count(), 1);
    }

    void frameInPiecesIsAccepted()
    {
        SingleInstance first(m_name);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy commands(&first, &SingleInstance::commandReceived);

        const QByteArray bytes = SingleInstance::EncodeFrame(InstanceCommand::Options, "/srv/x");
        QLocalSocket client;
        QByteArray answer;
        connect(&client, &QLocalSocket::readyRead, this, [&] { answer += client.readAll(); });
        client.connectToServer(m_name);
        QVERIFY(client.waitForConnected(2000));
        for (char c : bytes) {
            client.write(&c, 1);
            client.flush();
            QTest::qWait(2);
        }
        QTRY_COMPARE(commands.count(), 1);
        QCOMPARE(commands.at(0).at(0).value<InstanceCommand>(), InstanceCommand::Options);
        QCOMPARE(commands.at(0).at(1).toString(), QString("/srv/x"));
        QTRY_COMPARE(answer, QByteArray("OK"));
    }

    void silentClientDoesNotBlock()
    {
        SingleInstance first(m_name);
        first.setClientTimeout(300);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy commands(&first, &SingleInstance::commandReceived);

        QLocalSocket silent;
        silent.connectToServer(m_name);
        QVERIFY(silent.waitForConnected(2000));
        // Half a frame, then nothing.
        silent.write(SingleInstance::EncodeFrame(InstanceCommand::Calls, "/tmp").left(6));
        silent.flush();

        QElapsedTimer timer;
        timer.start();
        bool closed = false;
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Msn, "/tmp"), &closed),
                 QByteArray("OK"));
        QVERIFY(timer.elapsed() < 300);
        QTRY_COMPARE(commands.count(), 1);

        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 3000);
        QCOMPARE(commands.count(), 1);
    }

    void clientsBeyondTheLimitAreRefused()
    {
        SingleInstance first(m_name);
        first.setClientTimeout(60000);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        std::vector<std::unique_ptr<QLocalSocket>> silent;
        for (int i = 0; i < SingleInstance::MaxClients; ++i) {
            silent.push_back(std::make_unique<QLocalSocket>());
            silent.back()->connectToServer(m_name);
            QVERIFY(silent.back()->waitForConnected(2000));
        }
        QTest::qWait(50);
        for (const auto &s : silent)
            QCOMPARE(s->state(), QLocalSocket::ConnectedState);

        bool closed = false;
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Msn, "/tmp"), &closed),
                 QByteArray());
        QVERIFY(closed);

        // Slots come back as clients leave.
        silent.front()->abort();
        silent.erase(silent.begin());
        QTest::qWait(50);
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Msn, "/tmp"), &closed),
                 QByteArray("OK"));
    }

    void droppedClientsFreeTheirSlots()
    {
        SingleInstance first(m_name);
        first.setClientTimeout(100);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        bool closed = false;
        // More bad clients than slots, dropped by the server for garbage or silence.
        for (int i = 0; i < SingleInstance::MaxClients + 4; ++i)
            QCOMPARE(exchange(i % 2 ? QByteArray("garbage") : QByteArray("CRVN"), &closed),
                     QByteArray());
        // Answered ones too.
        for (int i = 0; i < SingleInstance::MaxClients + 4; ++i)
            QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::None, "/"), &closed),
                     QByteArray("OK"));
    }

    void crashedInstanceIsReplaced()
    {
        QProcess *holder = startChild({"--hold", m_name}, m_dir.path());
        QVERIFY(holder->waitForReadyRead(10000));
        QCOMPARE(holder->readAll(), QByteArray("ready\n"));

        // While it runs, this one is the second.
        QCOMPARE(SingleInstance(m_name).start(), SingleInstance::Role::Secondary);

        holder->kill();
        QVERIFY(holder->waitForFinished(5000));
        // The crash left the socket and the lock file behind.
        QVERIFY(QFileInfo(m_name).exists());
        QVERIFY(QFileInfo(m_name + ".lock").exists());

        SingleInstance next(m_name);
        QCOMPARE(next.start(), SingleInstance::Role::Primary);
        QSignalSpy commands(&next, &SingleInstance::commandReceived);
        QProcess *child = startChild({"--second", m_name, "/o"}, m_dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, 10000);
        QCOMPARE(child->exitCode(), 0);
        QTRY_COMPARE(commands.count(), 1);
    }

    void answeringServerIsNotRemoved()
    {
        // Something listens at the name without holding the lock: it is left alone.
        QLocalServer other;
        QVERIFY(other.listen(m_name));
        SingleInstance instance(m_name);
        QCOMPARE(instance.start(), SingleInstance::Role::Secondary);
        QVERIFY(QFileInfo(m_name).exists());
        QLocalSocket probe;
        probe.connectToServer(m_name);
        QVERIFY(probe.waitForConnected(1000));
    }

    void sendWithoutInstanceFails()
    {
        QElapsedTimer timer;
        timer.start();
        QString error;
        QVERIFY(!SingleInstance::SendCommand(m_name, InstanceCommand::Calls, "/tmp", 300, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(timer.elapsed() < 3000);
    }
};

int main(int argc, char *argv[])
{
    if (argc >= 3 &&
        (std::strcmp(argv[1], "--second") == 0 || std::strcmp(argv[1], "--hold") == 0)) {
        QCoreApplication app(argc, argv);
        const QStringList args = app.arguments();
        if (args.at(1) == "--hold") return runHold(args.at(2));
        return runSecondStart(args.at(2), args.mid(3));
    }
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
