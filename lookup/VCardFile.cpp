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

QStringList sourceFiles(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir()) return {info.absoluteFilePath()};
    QStringList files;
    const QDir dir(path);
    const QStringList names = dir.entryList({QStringLiteral("*.vcf")}, QDir::Files | QDir::Readable,
                                            QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names)
        files.append(dir.absoluteFilePath(name));
    return files;
}

} // namespace

bool VCardSourceReadable(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir()) return QDir(path).isReadable();
    QFile file(path);
    return info.isFile() && file.open(QIODevice::ReadOnly);
}

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
    bool complete = true;
    for (const QString &fileName : sourceFiles(path)) {
        QFile file(fileName);
        if (file.size() > MaxVCardFileSize || !file.open(QIODevice::ReadOnly)) {
            if (error) *error = QStringLiteral("cannot read %1").arg(fileName);
            complete = false;
            continue;
        }
        ReadVCards(file.readAll(), fileName, contacts);
    }
    return complete;
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
