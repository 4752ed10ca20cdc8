// The GLib headers come before Qt's: a GLib struct has a member named "signals".
#include <libebook-contacts/libebook-contacts.h>

#include "lookup/VCardFile.h"

#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool isCardLine(QStringView line, QStringView word)
{
    return line.trimmed().compare(word, Qt::CaseInsensitive) == 0;
}

// The files of the source, in name order; false with the reason when one of them is no
// file that can be read (a dangling link, a device, a pipe).
bool sourceFiles(const QString &path, QStringList &files, QString &error)
{
    const QFileInfo source(path);
    if (!source.exists()) {
        error = QStringLiteral("cannot read %1: not found").arg(path);
        return false;
    }
    QFileInfoList entries = {source};
    if (source.isDir()) {
        const QDir dir(path);
        if (!dir.isReadable()) {
            error = QStringLiteral("cannot read %1: the folder cannot be listed").arg(path);
            return false;
        }
        entries = dir.entryInfoList({QStringLiteral("*.vcf"), QStringLiteral("*.vcard")},
                                    QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                                    QDir::Name | QDir::IgnoreCase);
    }
    for (const QFileInfo &entry : std::as_const(entries)) {
        if (entry.isDir()) continue; // subfolders are not read
        if (!entry.isFile()) {
            error = QStringLiteral("cannot read %1: not a file").arg(entry.filePath());
            return false;
        }
        files.append(entry.absoluteFilePath());
    }
    return true;
}

} // namespace

QStringList SplitVCards(const QString &text)
{
    QStringList cards;
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
            cards.append(card);
            card.clear();
        }
    }
    if (depth > 0) {
        // Cut short: close it, so the parser sees a whole card.
        card += QStringLiteral("END:VCARD\r\n");
        cards.append(card);
    }
    return cards;
}

bool ReadVCardSource(const QString &path, std::vector<TContactItem> &contacts, QString *error)
{
    QString reason;
    QStringList files;
    std::vector<TContactItem> read;
    bool complete = sourceFiles(path, files, reason);
    for (qsizetype f = 0; complete && f < files.size(); ++f) {
        QFile file(files[f]);
        const bool opened = file.open(QIODevice::ReadOnly);
        const bool tooLarge = file.size() > MaxVCardFileSize;
        const QByteArray bytes = opened && !tooLarge ? file.readAll() : QByteArray();
        if (!opened || file.error() != QFileDevice::NoError) {
            reason = QStringLiteral("cannot read %1: %2").arg(files[f], file.errorString());
            complete = false;
        } else if (tooLarge || bytes.size() > MaxVCardFileSize) {
            reason = QStringLiteral("cannot read %1: larger than %2 MB")
                         .arg(files[f])
                         .arg(MaxVCardFileSize >> 20);
            complete = false;
        }
        if (complete) ReadVCards(bytes, files[f], read);
    }
    if (!complete) {
        if (error) *error = reason;
        return false;
    }
    contacts.insert(contacts.end(), read.begin(), read.end());
    return true;
}

void ReadVCards(const QByteArray &bytes, const QString &file, std::vector<TContactItem> &contacts)
{
    const QStringList cards = SplitVCards(TextCodec::decode(bytes));
    for (qsizetype i = 0; i < cards.size(); ++i) {
        EContact *contact = e_contact_new_from_vcard(cards[i].toUtf8().constData());
        if (!contact) continue;
        TContactItem item(contact, file);
        item.SetEntry(file, QStringLiteral("#%1").arg(i + 1));
        contacts.push_back(item);
    }
}
