// The GLib headers come before Qt's: a GLib struct has a member named "signals".
#include <libebook-contacts/libebook-contacts.h>

#include "lookup/VCardFile.h"

#include "lookup/EdsConnect.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file of the source as it was listed: the link resolved.
struct SourceFile
{
    QString path;
    struct stat info;
};

bool isCardLine(QStringView line, QStringView word)
{
    return line.trimmed().compare(word, Qt::CaseInsensitive) == 0;
}

// Hands each card of the text to `take`, until it returns false.
void forEachCard(const QString &text, const std::function<bool(const QString &card)> &take)
{
    QString card;
    int depth = 0;
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        if (isCardLine(line, u"BEGIN:VCARD")) {
            ++depth;
        } else if (depth == 0) {
            continue;
        }
        card += line;
        card += u"\r\n";
        if (isCardLine(line, u"END:VCARD") && --depth == 0) {
            if (!take(card)) return;
            card.clear();
        }
    }
    if (depth > 0) {
        // Cut short: close it, so the parser sees a whole card.
        card += QStringLiteral("END:VCARD\r\n");
        take(card);
    }
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString cannotRead(const QString &path, const QString &reason)
{
    return QStringLiteral("cannot read %1: %2").arg(path, reason);
}

QString megabytes(qint64 bytes)
{
    if (bytes % (1024 * 1024) == 0) return QStringLiteral("%1 MB").arg(bytes >> 20);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString largerThan(qint64 limit)
{
    return QStringLiteral("larger than ") + megabytes(limit);
}

// The files of the source, in name order, with what they are (a link followed); false with
// the reason when one of them is no regular file (a dangling link, a device, a pipe).
// Subfolders, and links to folders, are not read.
bool sourceFiles(const QString &path, std::vector<SourceFile> &files, QString &error)
{
    SourceFile source{path, {}};
    if (::stat(QFile::encodeName(path).constData(), &source.info) != 0) {
        error = cannotRead(path, errno == ENOENT ? QStringLiteral("not found") : systemError());
        return false;
    }
    if (!S_ISDIR(source.info.st_mode)) {
        files.push_back(source);
    } else {
        const QDir dir(path);
        if (!dir.isReadable()) {
            error = cannotRead(path, QStringLiteral("the folder cannot be listed"));
            return false;
        }
        const QStringList names = dir.entryList(
            {QStringLiteral("*.vcf"), QStringLiteral("*.vcard")},
            QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QString &name : names) {
            SourceFile entry{dir.absoluteFilePath(name), {}};
            if (::stat(QFile::encodeName(entry.path).constData(), &entry.info) != 0)
                entry.info.st_mode = 0; // dangling: no regular file
            if (!S_ISDIR(entry.info.st_mode)) files.push_back(entry);
        }
    }
    for (const SourceFile &file : files) {
        if (!S_ISREG(file.info.st_mode)) {
            error = cannotRead(file.path, QStringLiteral("not a file"));
            return false;
        }
    }
    return true;
}

// The bytes of a file listed as a regular one, at most `maxBytes` of them. Opened without
// waiting and checked again once open: a pipe or device put in its place meanwhile is not read.
bool readFile(const SourceFile &file, qint64 maxBytes, QByteArray &bytes, QString &error)
{
    const int fd = ::open(QFile::encodeName(file.path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = cannotRead(file.path, systemError());
        return false;
    }
    struct stat opened;
    bool complete = true;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_dev != file.info.st_dev || opened.st_ino != file.info.st_ino) {
        error = cannotRead(file.path, QStringLiteral("not a file"));
        complete = false;
    }
    // One byte more than allowed tells a file that grew past the limit.
    bytes.resize(complete ? qMin(opened.st_size, maxBytes) + 1 : 0);
    qint64 length = 0;
    while (complete && length <= maxBytes) {
        if (length == bytes.size()) bytes.resize(qMin(2 * length, maxBytes + 1));
        const ssize_t n = ::read(fd, bytes.data() + length, size_t(bytes.size() - length));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = cannotRead(file.path, systemError());
            complete = false;
        }
        if (n <= 0) break;
        length += n;
    }
    ::close(fd);
    if (complete && length > maxBytes) {
        error = cannotRead(file.path, largerThan(maxBytes));
        complete = false;
    }
    bytes.resize(complete ? length : 0);
    return complete;
}

} // namespace

QStringList SplitVCards(const QString &text)
{
    QStringList cards;
    forEachCard(text, [&cards](const QString &card) {
        cards.append(card);
        return true;
    });
    return cards;
}

bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts, QString *error,
                     const TVCardLimits &limits)
{
    QString reason;
    std::vector<SourceFile> files;
    bool complete = sourceFiles(path, files, reason);
    qint64 total = 0;
    for (const SourceFile &file : files) {
        if (complete && file.info.st_size > limits.FileBytes) {
            reason = cannotRead(file.path, largerThan(limits.FileBytes));
            complete = false;
        }
        total += file.info.st_size;
    }
    const QString overSource = cannotRead(
        path,
        QStringLiteral("its files are larger than %1 together").arg(megabytes(limits.SourceBytes)));
    if (complete && total > limits.SourceBytes) {
        // Told before anything is read.
        reason = overSource;
        complete = false;
    }
    std::vector<TContactItem> read;
    total = 0;
    for (size_t f = 0; complete && f < files.size(); ++f) {
        QByteArray bytes;
        complete = readFile(files[f], limits.FileBytes, bytes, reason);
        total += bytes.size();
        if (complete && total > limits.SourceBytes) {
            // It grew since it was listed.
            reason = overSource;
            complete = false;
        }
        const qsizetype left = limits.Cards - qsizetype(read.size());
        if (complete && !ReadVCards(bytes, files[f].path, read, left)) {
            reason = cannotRead(path, QStringLiteral("more than %1 cards").arg(limits.Cards));
            complete = false;
        }
    }
    if (!complete) {
        if (error) *error = reason;
        return false;
    }
    contacts.insert(contacts.end(), read.begin(), read.end());
    return true;
}

bool ReadVCards(const QByteArray &bytes, const QString &file, std::vector<TContactItem> &contacts,
                qsizetype maxCards)
{
    const QString text = TextCodec::decode(bytes);
    // Counted before any is parsed: a file over the cap costs no more than its text.
    qsizetype cards = 0;
    forEachCard(text, [&cards, maxCards](const QString &) { return ++cards <= maxCards; });
    if (cards > maxCards) return false;
    cards = 0;
    forEachCard(text, [&](const QString &card) {
        ++cards;
        EContact *contact = e_contact_new_from_vcard(card.toUtf8().constData());
        if (!contact) return true;
        TContactItem item = ContactItemOf(contact, file);
        g_object_unref(contact);
        item.SetEntry(file, QStringLiteral("#%1").arg(cards));
        contacts.push_back(item);
        return true;
    });
    return true;
}
