#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <SimpleIni.h>

#include <optional>

// One ini file in the private-profile manner: sections and keys compare case-insensitively,
// values are read by the rules of the Windows profile functions (integers in decimal or with a
// "$"/"0x" hex prefix, any non-zero integer is true, strings of at most 2047 characters with one
// pair of surrounding quotes removed). Before every read or write the file is loaded again if
// it changed on disk, so keys the user edits while the program runs are seen, and a write keeps
// what others wrote. Saving replaces the file atomically.
//
// Owned by the settings store; used from the main thread only.
class IniFile
{
public:
    explicit IniFile(const QString &path);

    QString path() const { return FPath; }

    // Loads the file if it changed since the last load or save. A missing file reads as empty.
    // False when the file exists but cannot be read: its keys then read as their defaults, and
    // save() refuses until a later refresh reads it, so the user's keys are never replaced.
    bool refresh();
    // Why the file could not be read at the last refresh; empty while it can be.
    QString readError() const { return FReadError; }

    // Replaces the content from memory (fuzzing and tests); the file is not touched.
    void loadData(const QByteArray &bytes);

    bool sectionExists(const QString &section) const;
    bool keyExists(const QString &section, const QString &key) const;
    // Keys of a section in the order of the file.
    QStringList keys(const QString &section) const;
    // The raw value, or nothing for a missing key.
    std::optional<QString> value(const QString &section, const QString &key) const;

    int readInt(const QString &section, const QString &key, int defaultValue) const;
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;
    QString readString(const QString &section, const QString &key,
                       const QString &defaultValue) const;

    // The setters change memory only; save() writes the file.
    void writeInt(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void writeString(const QString &section, const QString &key, const QString &value);
    void deleteKey(const QString &section, const QString &key);
    void eraseSection(const QString &section);

    // False with "Unable to write to <path>" in error when the file cannot be replaced, or
    // (followed by the reason) while it cannot be read.
    bool save(QString *error = nullptr);
    // "Unable to write to <path>", and why when the file could not be read.
    static QString unableToWriteText(const QString &path, const QString &readError = QString());

    // The integer rule of the profile functions: decimal, or hex with "$" or "0x".
    static std::optional<int> parseInt(QStringView text);

    static constexpr int MaxStringLength = 2047;

private:
    struct Stamp
    {
        qint64 size = -1;
        qint64 mtimeNs = 0;
        quint64 inode = 0;
        bool operator==(const Stamp &) const = default;
    };
    Stamp currentStamp() const;

    QString FPath;
    CSimpleIniA FIni;
    std::optional<Stamp> FStamp; // of the content in memory; empty before the first load
    QString FReadError;
};
