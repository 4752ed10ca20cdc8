#include "settings/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

#include <QFile>

#include <cstdint>

#include <sys/stat.h>

namespace {

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

// A value is one line of the file: line breaks would split it into stray keys.
QByteArray valueBytes(const QString &text)
{
    QString line = text;
    line.replace(u'\r', u' ').replace(u'\n', u' ');
    return line.toUtf8();
}

} // namespace

IniFile::IniFile(const QString &path) : FPath(path), FIni(false, false, false)
{
    FIni.SetUnicode(true);
    FIni.SetSpaces(false);
}

IniFile::Stamp IniFile::currentStamp() const
{
    struct stat st;
    if (::stat(QFile::encodeName(FPath).constData(), &st) != 0) return Stamp{};
    return Stamp{qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                 quint64(st.st_ino)};
}

bool IniFile::refresh()
{
    const Stamp now = currentStamp();
    if (FStamp && *FStamp == now) return true;
    FStamp = now;
    if (now.size < 0) {
        FIni.Reset();
        FReadError.clear();
        return true;
    }
    QByteArray bytes;
    QString error;
    if (!AtomicFile::read(FPath, &bytes, &error)) {
        // Read again next time: the user may mend the file while the program runs.
        FIni.Reset();
        FStamp.reset();
        FReadError = error.isEmpty() ? QStringLiteral("Unknown error") : error;
        return false;
    }
    FReadError.clear();
    loadData(bytes);
    return true;
}

void IniFile::loadData(const QByteArray &bytes)
{
    FIni.Reset();
    // SimpleIni works on UTF-8; a file of the Windows version is converted first.
    const QByteArray data =
        TextCodec::isUtf8(bytes) ? bytes : TextCodec::fromCp1252(bytes).toUtf8();
    FIni.LoadData(data.constData(), size_t(data.size()));
}

bool IniFile::sectionExists(const QString &section) const
{
    return FIni.GetSectionSize(utf8(section).constData()) >= 0;
}

bool IniFile::keyExists(const QString &section, const QString &key) const
{
    return FIni.GetValue(utf8(section).constData(), utf8(key).constData(), nullptr) != nullptr;
}

QStringList IniFile::keys(const QString &section) const
{
    CSimpleIniA::TNamesDepend names;
    FIni.GetAllKeys(utf8(section).constData(), names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    QStringList result;
    for (const auto &entry : names)
        result.append(QString::fromUtf8(entry.pItem));
    return result;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const char *raw = FIni.GetValue(utf8(section).constData(), utf8(key).constData(), nullptr);
    if (!raw) return std::nullopt;
    return QString::fromUtf8(raw);
}

std::optional<int> IniFile::parseInt(QStringView text)
{
    text = text.trimmed();
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'-' || text.front() == u'+')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    int base = 10;
    if (text.startsWith(u'$')) {
        base = 16;
        text = text.mid(1);
    } else if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
        base = 16;
        text = text.mid(2);
    }
    if (text.isEmpty() || text.size() > 20) return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (base == 16 && u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (base == 16 && u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    const qint64 signedValue = negative ? -value : value;
    if (base == 10) {
        if (signedValue < INT32_MIN || signedValue > INT32_MAX) return std::nullopt;
        return int(signedValue);
    }
    // Hex values wrap into the signed range, as colours written in hex do on Windows.
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(signedValue)));
}

int IniFile::readInt(const QString &section, const QString &key, int defaultValue) const
{
    const std::optional<QString> text = value(section, key);
    if (!text) return defaultValue;
    return parseInt(*text).value_or(defaultValue);
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    return readInt(section, key, defaultValue ? 1 : 0) != 0;
}

QString IniFile::readString(const QString &section, const QString &key,
                            const QString &defaultValue) const
{
    std::optional<QString> text = value(section, key);
    if (!text) return defaultValue;
    QString result = text->left(MaxStringLength);
    if (result.size() >= 2 && (result.front() == u'"' || result.front() == u'\'') &&
        result.back() == result.front()) {
        result = result.mid(1, result.size() - 2);
    }
    return result;
}

void IniFile::writeInt(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    FIni.SetValue(utf8(section).constData(), utf8(key).constData(), valueBytes(value).constData());
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    FIni.Delete(utf8(section).constData(), utf8(key).constData());
}

void IniFile::eraseSection(const QString &section)
{
    FIni.Delete(utf8(section).constData(), nullptr);
}

QString IniFile::unableToWriteText(const QString &path, const QString &readError)
{
    QString text = QStringLiteral("Unable to write to %1").arg(path);
    if (!readError.isEmpty())
        text += QStringLiteral(": the file cannot be read (%1)").arg(readError);
    return text;
}

bool IniFile::save(QString *error)
{
    if (!FReadError.isEmpty()) {
        // Memory holds defaults only: writing them would replace the user's file.
        if (error) *error = unableToWriteText(FPath, FReadError);
        return false;
    }
    std::string data;
    if (FIni.Save(data) < 0 ||
        !AtomicFile::write(FPath, QByteArrayView(data.data(), qsizetype(data.size())))) {
        if (error) *error = unableToWriteText(FPath);
        return false;
    }
    FStamp = currentStamp();
    return true;
}
