#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Number rules and the words the lists store. Numbers are compared as exact texts everywhere,
// so these rules decide whether a caller is recognised. Free functions are pure; the area-code
// table is owned by the main window and used from the main thread.

enum class Language
{
    German = 0,
    English = 1
};

// The settings' language index: 1 is English, every other value German.
Language languageFromIndex(int index);

// Words stored in the lists, in either language.
enum class CallStatus
{
    Rejected,
    Busy,
    NotAnswered,
    Answered,
    Unknown
};
enum class ActionFlag
{
    Store,
    Popup,
    RejectAll,
    RejectNotSubmitted
};

QString notTransmittedText(Language language);
QString statusWord(CallStatus status, Language language);
QString actionWord(ActionFlag flag, Language language);

// Removes up to n leading "0" characters; n <= 0 leaves the number as it is.
QString CutLeadingZeroes(const QString &number, int n);

// The text stands for a call without number, in either language.
bool IsNotTransmitted(const QString &text);

// Flags of an action text: the German or the English word occurs anywhere in it.
bool HasStoreFlag(const QString &action);
bool HasPopupFlag(const QString &action);
bool HasRejectAllFlag(const QString &action);
bool HasRejectNotSubmittedFlag(const QString &action);

// The status equals the word of either language exactly.
bool IsStatusRejected(const QString &status);
bool IsStatusBusy(const QString &status);
bool IsStatusNotAnswered(const QString &status);
bool IsStatusAnswered(const QString &status);
bool IsStatusUnknown(const QString &status);

// With every "+" read as "0", the text is a signed 64-bit decimal integer.
bool IsPhoneNumber(const QString &text);

// The action text of the four flags in the given language: each set flag's word and "|".
QString BuildActionText(bool store, bool popup, bool rejectAll, bool rejectNotSubmitted,
                        Language language);

// A language switch rewrites the stored words into the new language:
// an action text is rebuilt from its four flags;
QString convertActionText(const QString &action, Language language);
// a status word of either language becomes the new language's word, other texts stay;
QString convertStatus(const QString &status, Language language);
// a not-transmitted text of either language becomes the new language's text.
QString convertNumber(const QString &number, Language language);

// The area-code table "orte.asc": lines of a prefix, one blank and a town or country name.
// A national prefix (without the trunk 0) must begin at the number's second character, a
// prefix of a "+" number at its first; the first matching line of the file wins. Looked up
// through an index of the prefixes instead of a scan, with the same result.
class AreaCodeTable
{
public:
    // A missing or unreadable file leaves the table empty (no town is ever found).
    bool load(const QString &path);
    void setLines(const QStringList &lines);

    QString FindTown(const QString &number) const;

    // The lines of the file, in file order (the country-code choices are drawn from them).
    const QStringList &lines() const { return FLines; }
    int count() const { return FLines.size(); }
    // The country codes the table names: the prefix of every line that contains "++", once
    // each, in table order (a line without a blank names nothing, as for FindTown).
    QStringList CountryCodes() const;

    static constexpr int MaxNameLength = 100;

private:
    QStringList FLines;
    QStringList FTowns;             // per line: the trimmed name
    QHash<QString, int> FFirstLine; // prefix -> first line that has it
    qsizetype FMaxPrefixLength = 0;
};
