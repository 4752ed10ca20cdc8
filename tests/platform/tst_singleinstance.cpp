// One running instance per user: roles, the channel directory, the second start's
// hand-over, hostile clients, other users and recovery after a crash. Second starts are real
// child processes (this program started with --second, --hold or --listen-as-nobody).
#include "platform/ChannelDirectory.h"
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
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const InstanceCommand command =
        PrepareCommand(QStringList{"corvane"} + parameters, instance.channelDirectory());
    return instance.sendToPrimary(command) ? 0 : 1;
}

void announceReady()
{
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    out.write("ready\n");
    out.flush();
}

// A first instance that runs until it is killed.
int runHold(const QString &serverName)
{
    SingleInstance instance(serverName);
    if (instance.start() != SingleInstance::Role::Primary) return 2;
    announceReady();
    return QCoreApplication::exec();
}

constexpr uid_t Nobody = 65534;

// Another user listening at the name (run as root; the directory must let it in).
int runListenAsNobody(const QString &serverName)
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0) return 3;
    QLocalServer server;
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(serverName)) return 2;
    announceReady();
    return QCoreApplication::exec();
}

unsigned modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool makePrivateDirectory(const QString &path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), 0700) == 0;
}

// Sets environment variables for one test and restores them after it.
class Environment
{
public:
    void set(const char *name, const QString &value)
    {
        save(name);
        qputenv(name, value.toUtf8());
    }
    void unset(const char *name)
    {
        save(name);
        qunsetenv(name);
    }
    ~Environment()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }

private:
    void save(const char *name)
    {
        m_saved.emplace_back(name, qEnvironmentVariableIsSet(name)
                                       ? std::optional<QByteArray>(qgetenv(name))
                                       : std::nullopt);
    }
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

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

    std::unique_ptr<QTemporaryDir> m_dir; // fresh for each test
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
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_name = m_dir->filePath(QString("s%1.sock").arg(QRandomGenerator::global()->generate()));
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
        Environment env;
        env.set("XDG_RUNTIME_DIR", m_dir->path());
        QString error;
        QCOMPARE(SingleInstance::DefaultServerName(QString(), &error),
                 m_dir->filePath("corvane/corvane.sock"));
        QCOMPARE(modeOf(m_dir->filePath("corvane")), 0700u);
        const QString keyed = SingleInstance::DefaultServerName("/tmp/home-a");
        QVERIFY(keyed.startsWith(m_dir->filePath("corvane/corvane-")));
        QVERIFY(keyed != SingleInstance::DefaultServerName("/tmp/home-b"));
        QCOMPARE(keyed, SingleInstance::DefaultServerName("/tmp/home-a"));

        // Without a runtime directory: the cache directory, never the shared /tmp.
        env.unset("XDG_RUNTIME_DIR");
        env.set("XDG_CACHE_HOME", m_dir->filePath("cache"));
        QCOMPARE(SingleInstance::DefaultServerName(),
                 m_dir->filePath("cache/corvane/corvane.sock"));
        QCOMPARE(modeOf(m_dir->filePath("cache/corvane")), 0700u);
        env.unset("XDG_CACHE_HOME");
        env.set("HOME", m_dir->filePath("home"));
        QCOMPARE(SingleInstance::DefaultServerName(),
                 m_dir->filePath("home/.cache/corvane/corvane.sock"));
    }

    // A runtime directory others can enter, or one of another user, is passed over.
    void unsafeRuntimeDirectoryIsPassedOver()
    {
        Environment env;
        env.set("XDG_CACHE_HOME", m_dir->filePath("cache"));
        const QString runtime = m_dir->filePath("run");
        QVERIFY(QDir().mkdir(runtime));
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0755) == 0);
        env.set("XDG_RUNTIME_DIR", runtime);
        QString note;
        QCOMPARE(SingleInstance::DefaultServerName(QString(), nullptr, &note),
                 m_dir->filePath("cache/corvane/corvane.sock"));
        QVERIFY2(note.contains("XDG_RUNTIME_DIR") && note.contains("0755"), qPrintable(note));
        QVERIFY(!QFileInfo::exists(runtime + "/corvane"));

        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        note.clear();
        QCOMPARE(SingleInstance::DefaultServerName(QString(), nullptr, &note, getuid() + 1),
                 QString());
        QVERIFY2(note.contains("belongs to user"), qPrintable(note));
    }

    // Before, without XDG_RUNTIME_DIR the lock was /tmp/corvane-<uid>.lock: another user who
    // made it first stopped every start. That name means nothing now.
    void lockInTheSharedTemporaryDirectoryIsIgnored()
    {
        Environment env;
        env.unset("XDG_RUNTIME_DIR");
        env.set("XDG_CACHE_HOME", m_dir->filePath("cache"));
        const QString shared = m_dir->filePath("tmp");
        QVERIFY(QDir().mkdir(shared));
        env.set("TMPDIR", shared);
        QLockFile planted(shared + QString("/corvane-%1.lock").arg(getuid()));
        QVERIFY(planted.tryLock(0));

        SingleInstance instance(SingleInstance::DefaultServerName());
        QString error;
        QCOMPARE(instance.start(&error), SingleInstance::Role::Primary);
        QVERIFY(instance.serverPath().startsWith(m_dir->filePath("cache/corvane/")));
    }

    // A channel directory another user could have prepared is not obeyed, not even its lock.
    void channelOfAnotherUserIsRefused()
    {
        const QString channel = m_dir->filePath("channel");
        QVERIFY(makePrivateDirectory(channel));
        QLockFile planted(channel + "/corvane.sock.lock");
        QVERIFY(planted.tryLock(0));

        SingleInstance instance(channel + "/corvane.sock");
        instance.setUserId(getuid() + 1);
        QString error;
        QCOMPARE(instance.start(&error), SingleInstance::Role::Failed);
        QVERIFY2(error.contains("belongs to user"), qPrintable(error));

        // Nor one that others may enter.
        QVERIFY(::chmod(QFile::encodeName(channel).constData(), 0711) == 0);
        QCOMPARE(SingleInstance(channel + "/other.sock").start(&error),
                 SingleInstance::Role::Failed);
        QVERIFY2(error.contains("0711"), qPrintable(error));
        QVERIFY(!QFileInfo::exists(channel + "/other.sock.lock"));
    }

    void symlinkedChannelDirectoryIsRefused()
    {
        Environment env;
        env.unset("XDG_RUNTIME_DIR");
        env.set("XDG_CACHE_HOME", m_dir->filePath("cache"));
        QVERIFY(QDir().mkdir(m_dir->filePath("cache")));
        QVERIFY(makePrivateDirectory(m_dir->filePath("real")));
        QVERIFY(QFile::link(m_dir->filePath("real"), m_dir->filePath("cache/corvane")));

        QString error;
        QCOMPARE(SingleInstance::DefaultServerName(QString(), &error), QString());
        QVERIFY2(error.contains("symbolic link"), qPrintable(error));
        // Named directly, too.
        SingleInstance instance(m_dir->filePath("cache/corvane/corvane.sock"));
        QCOMPARE(instance.start(&error), SingleInstance::Role::Failed);
        QVERIFY2(error.contains("symbolic link"), qPrintable(error));
        QVERIFY(QDir(m_dir->filePath("real")).isEmpty());
    }

    // A socket path holds 106 bytes with Qt; a longer one is refused with that reason, never
    // cut or left to Qt's bare "Name error".
    void socketPathLimit()
    {
        const QString prefix = m_dir->path() + "/";
        const int room = ChannelDirectory::MaxSocketPathBytes - int(prefix.size()) -
                         int(QString("/corvane.sock").size());
        QVERIFY(room > 10);
        const QString fits = prefix + QString(room, 'd');
        const QString tooLong = prefix + QString(room + 1, 'd');
        QVERIFY(makePrivateDirectory(fits));
        QVERIFY(makePrivateDirectory(tooLong));

        SingleInstance longest(fits + "/corvane.sock");
        QCOMPARE(longest.serverName().toUtf8().size(), 106);
        QString error;
        QVERIFY2(longest.start(&error) == SingleInstance::Role::Primary, qPrintable(error));
        QProcess *child = startChild({"--second", longest.serverName(), "/c"}, m_dir->path());
        QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, 10000);
        QCOMPARE(child->exitCode(), 0);

        SingleInstance beyond(tooLong + "/corvane.sock");
        QCOMPARE(beyond.start(&error), SingleInstance::Role::Failed);
        QVERIFY2(error.contains("107 bytes") && error.contains("106"), qPrintable(error));
        QVERIFY(!QFileInfo::exists(tooLong + "/corvane.sock.lock"));
        QVERIFY(!SingleInstance::SendCommand(beyond.serverName(), InstanceCommand::Calls, QString(),
                                             300, &error));
        QVERIFY2(error.contains("106"), qPrintable(error));
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
        const bool testCall = command == int(InstanceCommand::TestCall);
        QCOMPARE(commands.at(0).at(1).toString(), testCall ? QString("0441123") : QString());
        // The number went through the channel directory, for the user alone; nothing was
        // left where the second start ran.
        QCOMPARE(QFileInfo::exists(m_dir->filePath("testcallnum")), testCall);
        if (testCall) QCOMPARE(modeOf(m_dir->filePath("testcallnum")), 0600u);
        QVERIFY(
            QDir(elsewhere.path())
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }

    // The number is read from the server's own channel directory, whatever the frame names.
    void testNumberComesFromTheChannelDirectory()
    {
        SingleInstance first(m_name);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy commands(&first, &SingleInstance::commandReceived);
        QTemporaryDir other;
        QVERIFY(WriteTestCallNumber("999", other.path()));
        QVERIFY(WriteTestCallNumber("0441", m_dir->path()));
        bool closed = false;
        QCOMPARE(
            exchange(SingleInstance::EncodeFrame(InstanceCommand::TestCall, other.path()), &closed),
            QByteArray("OK"));
        QTRY_COMPARE(commands.count(), 1);
        QCOMPARE(commands.at(0).at(1).toString(), QString("0441"));
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
        QProcess *holder = startChild({"--hold", m_name}, m_dir->path());
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
        QProcess *child = startChild({"--second", m_name, "/o"}, m_dir->path());
        QTRY_COMPARE_WITH_TIMEOUT(child->state(), QProcess::NotRunning, 10000);
        QCOMPARE(child->exitCode(), 0);
        QTRY_COMPARE(commands.count(), 1);
    }

    void answeringInstanceOfTheUserIsNotRemoved()
    {
        // An instance of this user listens at the name without holding the lock: it is left
        // alone.
        QLocalServer other;
        QVERIFY(other.listen(m_name));
        SingleInstance instance(m_name);
        QCOMPARE(instance.start(), SingleInstance::Role::Secondary);
        QVERIFY(QFileInfo(m_name).exists());
        QLocalSocket probe;
        probe.connectToServer(m_name);
        QVERIFY(probe.waitForConnected(1000));
    }

    // A listener of another user is no instance: the second start sends it nothing and
    // says so.
    void sendRefusesAServerOfAnotherUser()
    {
        QLocalServer other;
        QVERIFY(other.listen(m_name));
        QByteArray received;
        connect(&other, &QLocalServer::newConnection, this, [&] {
            QLocalSocket *client = other.nextPendingConnection();
            connect(client, &QLocalSocket::readyRead, this,
                    [&received, client] { received += client->readAll(); });
        });
        QString error;
        QVERIFY(!SingleInstance::SendCommand(m_name, InstanceCommand::TestCall, m_dir->path(), 2000,
                                             &error, getuid() + 1));
        QVERIFY2(error.contains(QString("belongs to user %1").arg(getuid())), qPrintable(error));
        QTest::qWait(100);
        QCOMPARE(received, QByteArray());
    }

    // The server drops a client of another user unheard.
    void clientOfAnotherUserIsDropped()
    {
        SingleInstance first(m_name);
        QCOMPARE(first.start(), SingleInstance::Role::Primary);
        QSignalSpy activations(&first, &SingleInstance::activationRequested);
        first.setUserId(getuid() + 1);
        bool closed = false;
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Calls, "/tmp"), &closed),
                 QByteArray());
        QVERIFY(closed);
        first.setUserId(getuid());
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Calls, "/tmp"), &closed),
                 QByteArray("OK"));
        QTRY_COMPARE(activations.count(), 1);
    }

    // A real process of another user listening at the name, as root can arrange it: the
    // start that holds the lock takes the name over, and nothing is sent to that process.
    void listenerOfAnotherUserIsReplaced()
    {
        if (getuid() != 0) QSKIP("needs root to run a listener as user nobody");
        // Let nobody in to listen, then close the directory again.
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0777) == 0);
        auto *listener = startChild({"--listen-as-nobody", m_name}, QDir::rootPath());
        const bool ready = listener->waitForReadyRead(10000);
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0700) == 0);
        QVERIFY2(ready, "the listener did not start");

        QString error;
        QVERIFY(!SingleInstance::SendCommand(m_name, InstanceCommand::Calls, m_dir->path(), 2000,
                                             &error));
        QVERIFY2(error.contains(QString("belongs to user %1").arg(Nobody)), qPrintable(error));

        SingleInstance instance(m_name);
        QCOMPARE(instance.start(&error), SingleInstance::Role::Primary);
        QSignalSpy commands(&instance, &SingleInstance::commandReceived);
        bool closed = false;
        QCOMPARE(exchange(SingleInstance::EncodeFrame(InstanceCommand::Calls, QString()), &closed),
                 QByteArray("OK"));
        QTRY_COMPARE(commands.count(), 1);
        listener->kill();
        listener->waitForFinished(5000);
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
        (std::strcmp(argv[1], "--second") == 0 || std::strcmp(argv[1], "--hold") == 0 ||
         std::strcmp(argv[1], "--listen-as-nobody") == 0)) {
        QCoreApplication app(argc, argv);
        const QStringList args = app.arguments();
        if (args.at(1) == "--hold") return runHold(args.at(2));
        if (args.at(1) == "--listen-as-nobody") return runListenAsNobody(args.at(2));
        return runSecondStart(args.at(2), args.mid(3));
    }
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
