#include "lists/ListFiles.h"

#include "lists/DayCount.h"
#include "lists/ListPrompts.h"
#include "lists/lang.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"
#include "settings/SettingsStore.h"

#include <QFileInfo>

#include <algorithm>
#include <string>

namespace ListFormat {

const QString HeaderMarker = QStringLiteral(" # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!");

int version()
{
    return CORVANE_VERSION_MAJOR * 65536 + CORVANE_VERSION_MINOR;
}

namespace {

constexpr QChar Bel(7);

// Fields of one line. When no separator is left, the rest of the line is the last field.
class FieldReader
{
public:
    FieldReader(QStringView line, QChar separator, int *steps)
        : FRest(line), FSeparator(separator), FSteps(steps)
    {
    }

    QStringView take()
    {
        ++*FSteps;
        if (FDone)
            return {};
        const qsizetype at = FRest.indexOf(FSeparator);
        if (at < 0) {
            FDone = true;
            return FRest;
        }
        const QStringView field = FRest.left(at);
        FRest = FRest.mid(at + 1);
        return field;
    }

    QString takeString() { return take().toString(); }

private:
    QStringView FRest;
    QChar FSeparator;
    int *FSteps;
    bool FDone = false;
};

QString trimControl(QStringView text)
{
    while (!text.isEmpty() && text.front().unicode() <= 0x20)
        text = text.mid(1);
    while (!text.isEmpty() && text.back().unicode() <= 0x20)
        text.chop(1);
    return text.toString();
}

std::optional<int> parseDecimal(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

struct Header
{
    bool present = false;
    int version = 0;
    QChar separator = Bel;
};

// Line 1 with the marker is the header; its version decides the separator.
bool readHeader(const std::vector<QStringView> &lines, Header *header, QString *error)
{
    const qsizetype at = lines.front().indexOf(HeaderMarker);
    if (at < 0)
        return true;
    const QString text = trimControl(lines.front().left(at));
    const std::optional<int> version = parseDecimal(text);
    if (!version) {
        *error = QStringLiteral("'%1' is not a valid integer value").arg(text);
        return false;
    }
    header->present = true;
    header->version = *version;
    header->separator = *version >= FirstSemicolonVersion ? QChar(u';') : Bel;
    return true;
}

QString emptyFileError()
{
    return QStringLiteral("The file is empty");
}

// The output of the writers: UTF-8, every field followed by ";" with a ";" inside a value
// written as "," and line breaks as blanks, so that no value can split a line.
class LineWriter
{
public:
    explicit LineWriter(size_t reserve) { FOut.reserve(reserve); }

    void field(QStringView value)
    {
        const qsizetype n = value.size();
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = value[i].unicode();
            if (u < 0x80) {
                FOut.push_back(u == u';' ? ',' : (u == u'\r' || u == u'\n') ? ' ' : char(u));
            } else if (u < 0x800) {
                FOut.push_back(char(0xC0 | (u >> 6)));
                FOut.push_back(char(0x80 | (u & 0x3F)));
            } else if (QChar::isHighSurrogate(u) && i + 1 < n &&
                       QChar::isLowSurrogate(value[i + 1].unicode())) {
                const char32_t c = QChar::surrogateToUcs4(u, value[++i].unicode());
                FOut.push_back(char(0xF0 | (c >> 18)));
                FOut.push_back(char(0x80 | ((c >> 12) & 0x3F)));
                FOut.push_back(char(0x80 | ((c >> 6) & 0x3F)));
                FOut.push_back(char(0x80 | (c & 0x3F)));
            } else {
                const char16_t c = QChar::isSurrogate(u) ? char16_t(0xFFFD) : u;
                FOut.push_back(char(0xE0 | (c >> 12)));
                FOut.push_back(char(0x80 | ((c >> 6) & 0x3F)));
                FOut.push_back(char(0x80 | (c & 0x3F)));
            }
        }
        FOut.push_back(';');
    }

    void raw(const QString &text) { FOut += text.toStdString(); }
    void endLine() { FOut += "\r\n"; }

    QByteArray bytes() const { return QByteArray(FOut.data(), qsizetype(FOut.size())); }

private:
    std::string FOut;
};

void writeHeader(LineWriter &out, const QStringList &captions)
{
    out.raw(QString::number(version()) + HeaderMarker);
    out.endLine();
    for (const QString &caption : captions)
        out.field(caption);
    out.endLine();
}

QString removeTimeZone(QString format)
{
    // "t" is the zone in a Qt time format; the file fields carry wall-clock time only.
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.trimmed();
}

} // namespace

std::vector<QStringView> splitLines(QStringView text)
{
    std::vector<QStringView> lines;
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        lines.push_back(text.mid(start, end - start));
        if (end + 1 < size && text[end] == u'\r' && text[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

CallsResult parseCalls(QStringView text, const CallsOptions &options)
{
    CallsResult result;
    result.steps = 1;
    const std::vector<QStringView> lines = splitLines(text);
    if (lines.empty()) {
        result.error = emptyFileError();
        return result;
    }
    Header header;
    if (!readHeader(lines, &header, &result.error))
        return result;

    // A file without header may start with a caption line; its rows have five BELs.
    const qsizetype first = header.present                       ? 2
                            : lines.front().count(Bel) == 5 ? 0
                                                             : 1;
    const bool storedDateTime = header.present && header.version >= FirstSemicolonVersion;
    qsizetype expected = qsizetype(lines.size()) - first;

    DayCountFormatter format(options.locale, options.dateFormat, options.timeFormat);
    result.rows.reserve(qMax<qsizetype>(expected, 0));
    for (qsizetype i = first; i < qsizetype(lines.size()); ++i) {
        const QStringView line = lines[size_t(i)];
        ++result.steps;
        if (line.isEmpty())
            continue;
        if (!header.present) {
            const qsizetype bels = line.count(Bel);
            if (bels == 6) {
                result.error = QStringLiteral("Fatal Error: File with calls from too old version!");
                return result;
            }
            if (bels != 5)
                continue;
        }
        FieldReader fields(line, header.separator, &result.steps);
        QString keyText = fields.takeString();
        const qsizetype comma = keyText.indexOf(u',');
        if (comma >= 0) {
            keyText[comma] = u'.';
            result.keyCommaFixed = true;
        }
        double key = 0;
        if (!DayCount::parseKey(keyText, &key)) {
            result.error = QStringLiteral("'%1' is not a valid floating point value").arg(keyText);
            return result;
        }
        const bool purge = options.clearCalls && options.now - key >= options.clearCallDays;
        CallRow row;
        row.dateTime = keyText;
        row.date = format.date(key);
        row.time = format.time(key);
        if (storedDateTime) {
            fields.take();
            fields.take();
        }
        row.number = fields.takeString();
        row.nickname = fields.takeString();
        row.town = fields.takeString();
        row.target = fields.takeString();
        row.status = fields.takeString();
        if (purge) {
            result.purged.append(line.toString());
            result.purgedRows.append(std::move(row));
            --expected;
        } else {
            result.rows.append(std::move(row));
        }
    }
    std::reverse(result.purged.begin(), result.purged.end());
    // Every counted line must have become a row or an archive entry.
    if (result.rows.size() != expected) {
        result.error = QStringLiteral("%1 calls read, %2 expected").arg(result.rows.size()).arg(expected);
        return result;
    }
    result.ok = true;
    return result;
}

NicksResult parseNicks(QStringView text, Language language)
{
    NicksResult result;
    result.steps = 1;
    const std::vector<QStringView> lines = splitLines(text);
    if (lines.empty()) {
        result.error = emptyFileError();
        return result;
    }
    Header header;
    if (!readHeader(lines, &header, &result.error))
        return result;
    const QString oldAction =
        actionWord(ActionFlag::Store, language) + u'|' + actionWord(ActionFlag::Popup, language);
    for (size_t i = header.present ? 2 : 1; i < lines.size(); ++i) {
        ++result.steps;
        if (lines[i].isEmpty())
            continue;
        FieldReader fields(lines[i], header.separator, &result.steps);
        NickRow row;
        row.nickname = fields.takeString();
        row.number = fields.takeString();
        row.sound = fields.takeString();
        row.action = fields.takeString();
        if (!header.present)
            row.action = oldAction;
        result.rows.append(std::move(row));
    }
    result.ok = true;
    return result;
}

MsnResult parseMsn(QStringView text)
{
    MsnResult result;
    result.steps = 1;
    const std::vector<QStringView> lines = splitLines(text);
    if (lines.empty()) {
        result.error = emptyFileError();
        return result;
    }
    Header header;
    if (!readHeader(lines, &header, &result.error))
        return result;
    for (size_t i = header.present ? 2 : 1; i < lines.size(); ++i) {
        ++result.steps;
        if (lines[i].isEmpty())
            continue;
        FieldReader fields(lines[i], header.separator, &result.steps);
        MsnRow row;
        row.checked = fields.take() == u"1";
        row.msn = fields.takeString();
        row.nickname = fields.takeString();
        row.sound = fields.takeString();
        row.action = fields.takeString();
        result.rows.append(std::move(row));
    }
    result.ok = true;
    return result;
}

FileFormats FileFormats::fromLocale(const QLocale &locale)
{
    return FileFormats{locale, locale.dateFormat(QLocale::ShortFormat),
                       removeTimeZone(locale.timeFormat(QLocale::LongFormat))};
}

QByteArray formatCalls(const QList<CallRow> &rows, const std::vector<int> &order,
                       Language language, const FileFormats &formats, int *steps)
{
    LineWriter out(size_t(rows.size()) * 96 + 256);
    QStringList captions = callColumnCaptions(language);
    captions[0] = captions.at(CallRow::Date) + u'-' + captions.at(CallRow::Time);
    writeHeader(out, captions);
    DayCountFormatter format(formats.locale, formats.dateFormat, formats.timeFormat);
    for (const int index : order) {
        const CallRow &row = rows.at(index);
        QString key = row.dateTime;
        const qsizetype comma = key.indexOf(u',');
        if (comma >= 0)
            key[comma] = u'.';
        double value = 0;
        const bool valid = DayCount::parseKey(key, &value);
        out.field(key);
        out.field(valid ? format.date(value) : QString());
        out.field(valid ? format.time(value) : QString());
        out.field(row.number);
        out.field(row.nickname);
        out.field(row.town);
        out.field(row.target);
        out.field(row.status);
        out.endLine();
        if (steps)
            ++*steps;
    }
    return out.bytes();
}

QByteArray formatNicks(const QList<NickRow> &rows, const std::vector<int> &order,
                       Language language, int *steps)
{
    LineWriter out(size_t(rows.size()) * 96 + 256);
    writeHeader(out, nickColumnCaptions(language));
    for (const int index : order) {
        const NickRow &row = rows.at(index);
        out.field(row.nickname);
        out.field(row.number);
        out.field(row.sound);
        out.field(row.action);
        out.endLine();
        if (steps)
            ++*steps;
    }
    return out.bytes();
}

QByteArray formatMsn(const QList<MsnRow> &rows, Language language, int *steps)
{
    LineWriter out(size_t(rows.size()) * 96 + 256);
    writeHeader(out, msnColumnCaptions(language).mid(1));
    for (const MsnRow &row : rows) {
        out.field(row.checked ? u"1" : u"0");
        out.field(row.msn);
        out.field(row.nickname);
        out.field(row.sound);
        out.field(row.action);
        out.endLine();
        if (steps)
            ++*steps;
    }
    return out.bytes();
}

} // namespace ListFormat

using Answer = ListPrompts::Answer;

namespace {

QString replaceExtension(const QString &fileName, const QString &extension)
{
    const QFileInfo info(fileName);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString dir = fileName.left(fileName.size() - name.size());
    return dir + base + extension;
}

QString tail(const QString &error, int steps)
{
    return QStringLiteral(": ") + error + QStringLiteral(" (Errorcode ") + QString::number(steps) +
           u')';
}

} // namespace

TListFiles::TListFiles(TLists &lists)
    : fileFormats(ListFormat::FileFormats::fromLocale(lists.collator().locale())), FLists(lists)
{
}

QString TListFiles::backupName(const QString &fileName)
{
    return replaceExtension(fileName, QStringLiteral(".bak"));
}

QString TListFiles::archiveName(const QString &fileName)
{
    return replaceExtension(fileName, QStringLiteral(".old"));
}

QString TListFiles::datedCopyName(const QString &fileName) const
{
    const QString base =
        fileName + u'.' + FLists.now().toString(QStringLiteral("dd.MM.yyyy_hh.mm.ss"));
    // Dated copies are never removed, so a second one within the same second gets a number.
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + u'_' + QString::number(n);
    return name;
}

QString TListFiles::text(QStringView message) const
{
    return UiText(UiForm::Messages, message, FLists.language());
}

bool TListFiles::keepDatedCopy(const QString &fileName)
{
    QString error;
    if (AtomicFile::copy(fileName, datedCopyName(fileName), &error))
        return true;
    FLists.prompts().inform(text(u"DatedCopyFailed") +
                            QStringLiteral(": ") + error);
    return false;
}

bool TListFiles::askAboutLoad(ListKind kind, const QString &fileName, const QString &message,
                              bool *retry)
{
    // Ignore keeps a dated copy of the damaged file first; without that copy the next save
    // would destroy it, so the question comes again.
    for (;;) {
        const Answer answer = FLists.prompts().askFileError(message);
        *retry = answer == Answer::Retry;
        if (answer != Answer::Ignore)
            return false;
        if (!QFileInfo::exists(fileName))
            return true;
        if (keepDatedCopy(fileName)) {
            FTrusted[int(kind)] = false;
            return true;
        }
    }
}

bool TListFiles::writeArchive(const QString &fileName, const QStringList &purged)
{
    const QString archive = archiveName(fileName);
    QString error;
    QByteArray old;
    if (QFileInfo::exists(archive) && !AtomicFile::read(archive, &old, &error, MaxFileSize)) {
        FLists.prompts().inform(text(u"SaveCalls") +
                                QStringLiteral(" (") + archive + QStringLiteral("): ") + error);
        return false;
    }
    QString content;
    for (const QString &line : purged)
        content += line + QStringLiteral("\r\n");
    content += TextCodec::decode(old);
    if (!AtomicFile::write(archive, content.toUtf8(), &error)) {
        FLists.prompts().inform(text(u"SaveCalls") +
                                QStringLiteral(" (") + archive + QStringLiteral("): ") + error);
        return false;
    }
    return true;
}

bool TListFiles::LoadCalls(const QString &fileName)
{
    if (!QFileInfo::exists(fileName))
        return true;
    SettingsStore &settings = FLists.settings();
    TCallList &calls = FLists.calls();
    for (;;) {
        calls.clear();
        ListFormat::CallsResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize)) {
            ++steps;
            ListFormat::CallsOptions options;
            options.clearCalls = settings.settings.clearCalls;
            options.clearCallDays = settings.settings.clearCallDays;
            options.now = DayCount::fromDateTime(FLists.now());
            options.locale = FLists.collator().locale();
            options.dateFormat = settings.settings.dateFormat;
            options.timeFormat = settings.settings.timeFormat;
            result = ListFormat::parseCalls(TextCodec::decode(bytes), options);
        }
        steps += result.steps;
        calls.setRows(result.rows);

        bool ignored = false;
        if (!result.ok) {
            const QString message =
                QFileInfo::exists(fileName)
                    ? text(u"CallsInvalid")
                    : text(u"CallsGone") +
                          tail(result.error, steps);
            bool retry = false;
            ignored = askAboutLoad(ListKind::Calls, fileName, message, &retry);
            if (retry)
                continue;
            if (!ignored) {
                // Never write a partly read list over its file: the program ends here.
                FLists.SortCalls();
                return false;
            }
        } else {
            FTrusted[int(ListKind::Calls)] = true;
        }

        bool save = result.keyCommaFixed || (ignored && QFileInfo::exists(fileName));
        if (settings.settings.clearCalls && !result.purged.isEmpty()) {
            // The purged calls leave the list only once the archive holds them.
            if (writeArchive(fileName, result.purged))
                save = true;
            else
                calls.setRows(result.rows + result.purgedRows);
        }
        FLists.SortCalls();
        if (save)
            SaveCalls(fileName);
        return true;
    }
}

bool TListFiles::LoadNicks(const QString &fileName)
{
    TNickList &nicks = FLists.nicks();
    nicks.clear();
    if (!QFileInfo::exists(fileName))
        return true;
    for (;;) {
        ListFormat::NicksResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize)) {
            ++steps;
            result = ListFormat::parseNicks(TextCodec::decode(bytes), FLists.language());
        }
        steps += result.steps;
        nicks.setRows(result.rows);
        if (!result.ok) {
            bool retry = false;
            const bool ignored = askAboutLoad(
                ListKind::Nicks, fileName,
                text(u"NicksLoad") +
                    tail(result.error, steps),
                &retry);
            if (retry)
                continue;
            if (!ignored)
                return false;
        } else {
            FTrusted[int(ListKind::Nicks)] = true;
        }
        FLists.SortNicks();
        return true;
    }
}

bool TListFiles::LoadMsn(const QString &fileName)
{
    if (!QFileInfo::exists(fileName))
        return true;
    TMsnList &msns = FLists.msns();
    for (;;) {
        msns.clear();
        ListFormat::MsnResult result;
        QByteArray bytes;
        int steps = 1;
        if (AtomicFile::read(fileName, &bytes, &result.error, MaxFileSize)) {
            ++steps;
            result = ListFormat::parseMsn(TextCodec::decode(bytes));
        }
        steps += result.steps;
        msns.setRows(result.rows);
        if (!result.ok) {
            bool retry = false;
            const bool ignored = askAboutLoad(
                ListKind::Msn, fileName,
                text(u"MsnLoad") +
                    tail(result.error, steps),
                &retry);
            if (retry)
                continue;
            return ignored;
        }
        FTrusted[int(ListKind::Msn)] = true;
        return true;
    }
}

bool TListFiles::save(ListKind kind, const QString &fileName,
                      const std::function<QByteArray(int *steps)> &build)
{
    ListPrompts &prompts = FLists.prompts();
    const QString backupMessage =
        text(u"BackupFailed");
    const QString backup = backupName(fileName);
    for (;;) {
        int steps = 1;
        QString error;
        // A file that failed to load stays out of the backup: the older backup is better.
        if (FTrusted[int(kind)] && QFileInfo::exists(fileName) &&
            !AtomicFile::backup(fileName, backup, &error)) {
            prompts.inform(backupMessage + QStringLiteral(": ") + error +
                           (kind == ListKind::Msn ? QString() : QStringLiteral(" (Errorcode 0)")));
        }
        ++steps;
        const QByteArray bytes = build(&steps);
        ++steps;
        if (AtomicFile::write(fileName, bytes, &error)) {
            FTrusted[int(kind)] = true;
            return true;
        }
        const QString message =
            kind == ListKind::Calls
                ? text(u"SaveCalls")
            : kind == ListKind::Nicks
                ? text(u"SaveNicks")
                : text(u"SaveMsn");
        const Answer answer = prompts.askFileError(message + tail(error, steps));
        if (answer == Answer::Retry)
            continue;
        if (prompts.askRestoreBackup(
                text(u"RestoreQuestion"))) {
            QString restoreError;
            if (AtomicFile::copy(backup, fileName, &restoreError))
                FTrusted[int(kind)] = true;
            else
                prompts.inform(backupMessage + tail(restoreError, steps));
        }
        return answer == Answer::Ignore;
    }
}

bool TListFiles::SaveCalls(const QString &fileName)
{
    const QList<CallRow> &rows = FLists.calls().rows();
    const bool ok = save(ListKind::Calls, fileName, [&](int *steps) {
        const std::vector<int> order = FLists.collator().order(
            int(rows.size()), [&rows](int i) { return rows.at(i).dateTime; }, false);
        return ListFormat::formatCalls(rows, order, FLists.language(), fileFormats, steps);
    });
    FLists.SortCalls();
    return ok;
}

bool TListFiles::SaveNicks(const QString &fileName)
{
    const QList<NickRow> &rows = FLists.nicks().rows();
    const bool ok = save(ListKind::Nicks, fileName, [&](int *steps) {
        const std::vector<int> order = FLists.collator().order(
            int(rows.size()), [&rows](int i) { return rows.at(i).nickname; }, false);
        return ListFormat::formatNicks(rows, order, FLists.language(), steps);
    });
    FLists.SortNicks();
    return ok;
}

bool TListFiles::SaveMsn(const QString &fileName)
{
    const QList<MsnRow> &rows = FLists.msns().rows();
    return save(ListKind::Msn, fileName, [&](int *steps) {
        return ListFormat::formatMsn(rows, FLists.language(), steps);
    });
}
