// A desktop entry's Exec= as a launcher reads it, by freedesktop.org's desktop-entry rules:
// the string escapes of the value first, then the quoting of the arguments, then "%%". Written
// from those rules, apart from the program's own writer, so that the two check each other.
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <optional>

namespace desktopexec {

// The arguments; nullopt for a value against the rules (an unknown escape, an open quote,
// a character inside quotes that needed a backslash, a field code).
inline std::optional<QStringList> Split(const QString &value)
{
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            text += value[i];
            continue;
        }
        if (++i == value.size()) return std::nullopt;
        switch (value[i].unicode()) {
        case 's':
            text += u' ';
            break;
        case 'n':
            text += u'\n';
            break;
        case 't':
            text += u'\t';
            break;
        case 'r':
            text += u'\r';
            break;
        case '\\':
            text += u'\\';
            break;
        default:
            return std::nullopt;
        }
    }

    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (quoted) {
            if (ch == u'"') {
                quoted = false;
            } else if (ch == u'\\') {
                if (++i == text.size() || !QStringLiteral("\"`$\\").contains(text[i]))
                    return std::nullopt;
                current += text[i];
            } else if (ch == u'`' || ch == u'$') {
                return std::nullopt;
            } else {
                current += ch;
            }
        } else if (ch == u' ') {
            if (inArgument) arguments << current;
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (ch == u'"')
                quoted = true;
            else
                current += ch;
        }
    }
    if (quoted) return std::nullopt;
    if (inArgument) arguments << current;

    for (QString &argument : arguments) {
        QString plain;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] != u'%') {
                plain += argument[i];
                continue;
            }
            if (++i == argument.size() || argument[i] != u'%') return std::nullopt;
            plain += u'%';
        }
        argument = plain;
    }
    return arguments;
}

// The Exec= value of the [Desktop Entry] group of a file; empty when there is none.
inline QString ExecOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    bool mainGroup = false;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.startsWith(u'['))
            mainGroup = line == QLatin1String("[Desktop Entry]");
        else if (mainGroup && line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return QString();
}

} // namespace desktopexec
