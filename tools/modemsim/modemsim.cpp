// A modem on a pseudo-terminal, for tests and the demo: it prints the path of its terminal,
// answers AT commands by a small script and logs what it received and sent.
//
//   modemsim [--answer 'PATTERN REPLY | +MS REPLY ...']... [--script FILE] [--log FILE]
//            [--link PATH] [--no-echo]
//
// A script line is a command pattern ("*" matches anything, letter case ignored) and the
// replies, separated by "|"; "+2000 BUSY" sends BUSY two seconds after the reply before it.
// A pattern without replies stays silent. "!close" as a reply closes the terminal, as an
// unplugged modem does, and ends the simulator. The first matching line counts: --answer
// lines, then the script file, then the built-in lines below. A new command cancels the
// replies of a dial still pending, as a modem stops dialling on any key.
//
// Log lines: microseconds of the monotonic clock, then "<" and the command received, ">" and
// the reply sent, or "#" and a note. Without --log they go to standard error.
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr const char *BuiltInScript[] = {
    "AT OK", "ATZ OK", "ATE* OK", "ATH* OK", "ATD*; OK", "AT* OK", "* ERROR",
};

struct Reply
{
    int delayMs = 0;
    QByteArray text;
};

struct Rule
{
    QRegularExpression pattern;
    QList<Reply> replies;
};

char gLinkPath[4096];

void removeLinkAndExit(int)
{
    if (gLinkPath[0]) ::unlink(gLinkPath);
    ::_exit(0);
}

bool parseRule(const QString &line, Rule &rule, QString &error)
{
    const QString text = line.trimmed();
    const qsizetype space = text.indexOf(QRegularExpression(QStringLiteral("\\s")));
    const QString pattern = space < 0 ? text : text.left(space);
    // "*" matches any characters; everything else stands for itself.
    QStringList pieces = pattern.split(u'*');
    for (QString &piece : pieces)
        piece = QRegularExpression::escape(piece);
    rule.pattern =
        QRegularExpression(QStringLiteral("^") + pieces.join(QStringLiteral(".*")) + u'$',
                           QRegularExpression::CaseInsensitiveOption);
    if (space < 0) return true;
    for (const QString &part : text.mid(space + 1).split(u'|')) {
        Reply reply;
        QString words = part.trimmed();
        if (words.startsWith(u'+')) {
            const qsizetype end = words.indexOf(u' ');
            bool number = false;
            reply.delayMs = words.mid(1, end < 0 ? -1 : end - 1).toInt(&number);
            if (!number || reply.delayMs < 0) {
                error = QStringLiteral("bad delay in: ") + line;
                return false;
            }
            words = end < 0 ? QString() : words.mid(end + 1).trimmed();
        }
        if (words.isEmpty()) {
            error = QStringLiteral("empty reply in: ") + line;
            return false;
        }
        reply.text = words.toLatin1();
        rule.replies.append(reply);
    }
    return true;
}

class ModemSim : public QObject
{
public:
    ModemSim(QList<Rule> rules, QFile *log, bool echo)
        : FRules(std::move(rules)), FLog(log), FEcho(echo)
    {
    }

    bool open(QString &path)
    {
        FMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) return false;
        char name[256];
        if (::ptsname_r(FMaster, name, sizeof name) != 0) return false;
        path = QString::fromLocal8Bit(name);
        // Holding the terminal side open keeps the pair alive between the program's opens.
        FSlave = ::open(name, O_RDWR | O_NOCTTY);
        if (FSlave < 0) return false;
        termios raw{};
        ::tcgetattr(FSlave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(FSlave, TCSANOW, &raw);
        ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
        auto *notifier = new QSocketNotifier(FMaster, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &ModemSim::readCommands);
        return true;
    }

    void log(char direction, const QByteArray &text)
    {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const qint64 micros = qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
        FLog->write(QByteArray::number(micros) + ' ' + direction + ' ' + text + '\n');
        FLog->flush();
    }

private:
    void readCommands()
    {
        char buffer[512];
        const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
        if (n <= 0) return;
        FInput.append(buffer, n);
        if (FInput.size() > 4096) FInput.clear();
        for (;;) {
            qsizetype end = FInput.indexOf('\r');
            const qsizetype newline = FInput.indexOf('\n');
            if (end < 0 || (newline >= 0 && newline < end)) end = newline;
            if (end < 0) break;
            const QByteArray command = FInput.left(end).trimmed();
            FInput.remove(0, end + 1);
            if (!command.isEmpty()) answer(command);
        }
    }

    void answer(const QByteArray &command)
    {
        log('<', command);
        ++FGeneration;
        if (FEcho) send(command + '\r');
        for (const Rule &rule : FRules) {
            if (!rule.pattern.match(QString::fromLatin1(command)).hasMatch()) continue;
            // A dial stops at the next command; other answers come in any case.
            const bool dial = command.toUpper().startsWith("ATD");
            const int generation = FGeneration;
            int at = 0;
            for (const Reply &reply : rule.replies) {
                at += reply.delayMs;
                QTimer::singleShot(at, this, [this, reply, generation, dial] {
                    if (!dial || generation == FGeneration) perform(reply.text);
                });
            }
            return;
        }
    }

    void perform(const QByteArray &reply)
    {
        if (reply == "!close") {
            log('#', "terminal closed");
            ::close(FMaster);
            ::close(FSlave);
            removeLinkAndExit(0);
        }
        log('>', reply);
        send("\r\n" + reply + "\r\n");
    }

    void send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FMaster, bytes.constData() + done, bytes.size() - done);
            if (n <= 0) return;
            done += n;
        }
    }

    QList<Rule> FRules;
    QFile *FLog;
    bool FEcho;
    int FMaster = -1;
    int FSlave = -1;
    QByteArray FInput;
    int FGeneration = 0;
};

[[noreturn]] void usage(const char *message)
{
    std::fprintf(stderr,
                 "modemsim: %s\nusage: modemsim [--answer 'PATTERN REPLY | +MS REPLY']... "
                 "[--script FILE] [--log FILE] [--link PATH] [--no-echo]\n",
                 message);
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList lines;
    QStringList scriptLines;
    QString logPath;
    QString linkPath;
    bool echo = true;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const auto value = [&] {
            if (i + 1 >= arguments.size()) usage("a value is missing");
            return arguments.at(++i);
        };
        if (argument == u"--answer") {
            lines.append(value());
        } else if (argument == u"--script") {
            QFile file(value());
            if (!file.open(QIODevice::ReadOnly)) usage("the script cannot be read");
            for (const QByteArray &line : file.readAll().split('\n'))
                scriptLines.append(QString::fromUtf8(line));
        } else if (argument == u"--log") {
            logPath = value();
        } else if (argument == u"--link") {
            linkPath = value();
        } else if (argument == u"--no-echo") {
            echo = false;
        } else {
            usage("unknown argument");
        }
    }
    lines += scriptLines;
    for (const char *line : BuiltInScript)
        lines.append(QString::fromLatin1(line));

    QList<Rule> rules;
    for (const QString &line : std::as_const(lines)) {
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#')) continue;
        Rule rule;
        QString error;
        if (!parseRule(line, rule, error)) usage(qPrintable(error));
        rules.append(rule);
    }

    QFile log(logPath);
    if (logPath.isEmpty() ? !log.open(stderr, QIODevice::WriteOnly)
                          : !log.open(QIODevice::WriteOnly | QIODevice::Append))
        usage("the log cannot be written");

    ModemSim modem(rules, &log, echo);
    QString path;
    if (!modem.open(path)) usage("no pseudo-terminal");
    if (!linkPath.isEmpty()) {
        const QByteArray link = linkPath.toLocal8Bit();
        ::unlink(link.constData());
        if (::symlink(path.toLocal8Bit().constData(), link.constData()) != 0)
            usage("the link cannot be made");
        qstrncpy(gLinkPath, link.constData(), sizeof gLinkPath);
    }
    std::signal(SIGTERM, removeLinkAndExit);
    std::signal(SIGINT, removeLinkAndExit);
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    modem.log('#', "listening on " + path.toLocal8Bit());
    return QCoreApplication::exec();
}
