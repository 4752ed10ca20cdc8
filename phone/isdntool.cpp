#include "phone/isdntool.h"

#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"

namespace {

// German and English forms; the misspellings are what stored files of every version hold.
struct WordPair
{
    const char16_t *german;
    const char16_t *english;
};

constexpr WordPair NotTransmitted = {u"-nicht übermittelt-", u"-not transmitted-"};

constexpr WordPair StatusWords[] = {
    {u"abgewiesen", u"rejected"},
    {u"besetzt", u"busy"},
    {u"nicht angenommen", u"not anwsered"},
    {u"angenommen", u"answered"},
    {u"unbekannt", u"unknown"},
};

constexpr WordPair ActionWords[] = {
    {u"speichern", u"log"},
    {u"popup", u"popup"},
    {u"alle abweisen", u"reject all"},
    {u"abweisen bei \"nicht übermittelt\"", u"reject not submmitted"},
};

QString word(const WordPair &pair, Language language)
{
    return QString::fromUtf16(language == Language::English ? pair.english : pair.german);
}

bool equalsEither(const QString &text, const WordPair &pair)
{
    return text == QStringView(pair.german) || text == QStringView(pair.english);
}

bool containsEither(const QString &text, const WordPair &pair)
{
    return text.contains(QStringView(pair.german)) || text.contains(QStringView(pair.english));
}

// Trim as the Windows version did: every character up to the blank counts as space.
QString trimControl(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin).toString();
}

} // namespace

Language languageFromIndex(int index)
{
    return index == 1 ? Language::English : Language::German;
}

QString notTransmittedText(Language language)
{
    return word(NotTransmitted, language);
}

QString statusWord(CallStatus status, Language language)
{
    return word(StatusWords[int(status)], language);
}

QString actionWord(ActionFlag flag, Language language)
{
    return word(ActionWords[int(flag)], language);
}

QString CutLeadingZeroes(const QString &number, int n)
{
    if (n <= 0 || number.isEmpty()) return number;
    qsizetype cut = 0;
    const qsizetype limit = qMin<qsizetype>(n, number.size());
    while (cut < limit && number[cut] == u'0')
        ++cut;
    return number.mid(cut);
}

bool IsNotTransmitted(const QString &text)
{
    return equalsEither(text, NotTransmitted);
}

bool HasStoreFlag(const QString &action)
{
    return containsEither(action, ActionWords[int(ActionFlag::Store)]);
}

bool HasPopupFlag(const QString &action)
{
    return containsEither(action, ActionWords[int(ActionFlag::Popup)]);
}

bool HasRejectAllFlag(const QString &action)
{
    return containsEither(action, ActionWords[int(ActionFlag::RejectAll)]);
}

bool HasRejectNotSubmittedFlag(const QString &action)
{
    return containsEither(action, ActionWords[int(ActionFlag::RejectNotSubmitted)]);
}

bool IsStatusRejected(const QString &status)
{
    return equalsEither(status, StatusWords[int(CallStatus::Rejected)]);
}

bool IsStatusBusy(const QString &status)
{
    return equalsEither(status, StatusWords[int(CallStatus::Busy)]);
}

bool IsStatusNotAnswered(const QString &status)
{
    return equalsEither(status, StatusWords[int(CallStatus::NotAnswered)]);
}

bool IsStatusAnswered(const QString &status)
{
    return equalsEither(status, StatusWords[int(CallStatus::Answered)]);
}

bool IsStatusUnknown(const QString &status)
{
    return equalsEither(status, StatusWords[int(CallStatus::Unknown)]);
}

bool IsPhoneNumber(const QString &text)
{
    QString digits = text;
    digits.replace(u'+', u'0');
    bool ok = false;
    digits.toLongLong(&ok, 10);
    // toLongLong also takes surrounding blanks; a telephone number has none.
    return ok && digits == digits.trimmed();
}

QString BuildActionText(bool store, bool popup, bool rejectAll, bool rejectNotSubmitted,
                        Language language)
{
    QString text;
    const bool flags[] = {store, popup, rejectAll, rejectNotSubmitted};
    for (int i = 0; i < 4; ++i) {
        if (flags[i]) text += word(ActionWords[i], language) + u'|';
    }
    return text;
}

QString convertActionText(const QString &action, Language language)
{
    return BuildActionText(HasStoreFlag(action), HasPopupFlag(action), HasRejectAllFlag(action),
                           HasRejectNotSubmittedFlag(action), language);
}

QString convertStatus(const QString &status, Language language)
{
    for (const WordPair &pair : StatusWords) {
        if (equalsEither(status, pair)) return word(pair, language);
    }
    return status;
}

QString convertNumber(const QString &number, Language language)
{
    return IsNotTransmitted(number) ? notTransmittedText(language) : number;
}

bool AreaCodeTable::load(const QString &path)
{
    QByteArray bytes;
    if (path.isEmpty() || !AtomicFile::read(path, &bytes, nullptr, qint64(64) << 20)) {
        setLines({});
        return false;
    }
    const QString text = TextCodec::decode(bytes);
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        lines.append(text.mid(start, end - start));
        if (end + 1 < size && text[end] == u'\r' && text[end + 1] == u'\n') ++end;
        start = end + 1;
    }
    setLines(lines);
    return true;
}

void AreaCodeTable::setLines(const QStringList &lines)
{
    FLines = lines;
    FTowns.clear();
    FFirstLine.clear();
    FMaxPrefixLength = 0;
    FTowns.reserve(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const qsizetype blank = line.indexOf(u' ');
        FTowns.append(blank < 0 ? QString()
                                : trimControl(QStringView(line).mid(blank, MaxNameLength)));
        if (blank <= 0) continue; // no prefix: the line never matches
        const QString prefix = line.left(blank);
        if (!FFirstLine.contains(prefix)) FFirstLine.insert(prefix, i);
        FMaxPrefixLength = qMax(FMaxPrefixLength, blank);
    }
}

QStringList AreaCodeTable::CountryCodes() const
{
    QStringList codes;
    for (const QString &line : FLines) {
        if (!line.contains(u"++")) continue;
        const qsizetype blank = line.indexOf(u' ');
        if (blank < 0) continue;
        const QString code = line.left(blank).trimmed();
        if (!code.isEmpty() && !codes.contains(code)) codes.append(code);
    }
    return codes;
}

QString AreaCodeTable::FindTown(const QString &number) const
{
    // A line matches when the first occurrence of its prefix in the number starts at the
    // first character ("+" numbers) or at the second (all others). So only the prefixes that
    // start there can match, and of those the earliest line wins.
    const bool plus = number.startsWith(u'+');
    const qsizetype offset = plus ? 0 : 1;
    const qsizetype longest = qMin(FMaxPrefixLength, number.size() - offset);
    int best = -1;
    for (qsizetype length = 1; length <= longest; ++length) {
        const QStringView candidate = QStringView(number).mid(offset, length);
        // Found at the first character already: the occurrence at the second is not the first.
        if (!plus && QStringView(number).startsWith(candidate)) continue;
        const auto it = FFirstLine.constFind(candidate.toString());
        if (it != FFirstLine.constEnd() && (best < 0 || *it < best)) best = *it;
    }
    return best < 0 ? QString() : FTowns.at(best);
}
