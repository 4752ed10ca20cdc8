#include "lookup/OutlookIndex.h"

#include "settings/SettingsStore.h"

namespace {

constexpr std::array<const char16_t *, PhoneFieldCount> FieldNames = {
    u"AssistantTelephoneNumber", u"Business2TelephoneNumber", u"BusinessTelephoneNumber",
    u"CallbackTelephoneNumber",  u"CarTelephoneNumber",       u"CompanyMainTelephoneNumber",
    u"Home2TelephoneNumber",     u"HomeTelephoneNumber",      u"MobileTelephoneNumber",
    u"OtherTelephoneNumber",     u"PrimaryTelephoneNumber",   u"RadioTelephoneNumber",
    u"TTYTDDTelephoneNumber",
};

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

QString PhoneFieldName(PhoneField field)
{
    return QString::fromUtf16(FieldNames[size_t(field)]);
}

QList<PhoneField> SelectedPhoneFields(const SettingsStore &settings)
{
    QList<PhoneField> selected;
    for (int i = 0; i < PhoneFieldCount; ++i) {
        const auto field = PhoneField(i);
        const qsizetype flag = SettingsStore::outlookNumberKeys().indexOf(PhoneFieldName(field));
        if (settings.outlookNumbers[size_t(flag)]) selected.append(field);
    }
    return selected;
}

QList<PhoneField> FixedPhoneFields()
{
    return {PhoneField::Business, PhoneField::Primary, PhoneField::Mobile, PhoneField::Home};
}

QString NormaliseContactNumber(const QString &number, const QString &countryCode)
{
    QString text = number.trimmed();
    if (text.size() < 2) return text;
    // A label in front ("Tel.", "Mobil:") is no part of the number, and would hide its "+".
    qsizetype start = 0;
    while (start < text.size() && !isDigit(text[start]) && text[start] != u'+')
        ++start;
    text.remove(0, start);
    const qsizetype trunk = text.indexOf(u"(0");
    if (trunk >= 0) text[trunk + 1] = u' ';
    if (text.startsWith(u'+') && !text.startsWith(u"++")) text.prepend(u'+');
    if (!countryCode.isEmpty() && text.startsWith(countryCode) &&
        text.size() > countryCode.size() && !isDigit(text[countryCode.size()]))
        text.remove(0, countryCode.size());

    QString result;
    result.reserve(text.size() + 1);
    bool hasDigit = false;
    for (QChar c : std::as_const(text)) {
        if (isDigit(c)) hasDigit = true;
        if (isDigit(c) || c == u'+') result.append(c);
    }
    // No digit, no telephone number: a "0" in front would make it match a caller "0".
    if (!hasDigit) return QString();
    if (!result.startsWith(u'0') && !result.startsWith(u'+')) result.prepend(u'0');
    // A "+" left in front after the own country code still marks an international number.
    if (!result.startsWith(u"++") && result.startsWith(u'+')) result.prepend(u'+');
    return result;
}

void TOutlookIndex::Clear(int stride)
{
    FStride = qMax(stride, 0);
    FNames.clear();
    FNumbers.clear();
    FKeys.clear();
    FSlots.clear();
    FFirstEntry.clear();
    FRemoved = 0;
    FStale = false;
}

void TOutlookIndex::Put(const QString &key, const QString &name, const QStringList &numbers)
{
    if (key.isEmpty()) return;
    QStringList entries = numbers.mid(0, FStride);
    while (entries.size() < FStride)
        entries.append(QString());

    const auto known = FSlots.constFind(key);
    if (known != FSlots.constEnd()) {
        const int slot = *known;
        FNames[slot] = name;
        for (int i = 0; i < FStride; ++i)
            FNumbers[slot * FStride + i] = entries[i];
        FStale = true;
        return;
    }

    const int slot = FNames.size();
    FNames.append(name);
    FKeys.append(key);
    FSlots.insert(key, slot);
    for (int i = 0; i < FStride; ++i) {
        FNumbers.append(entries[i]);
        if (!FStale && !entries[i].isEmpty()) Index(entries[i], slot * FStride + i);
    }
}

void TOutlookIndex::Remove(const QString &key)
{
    const auto known = FSlots.constFind(key);
    if (known == FSlots.constEnd()) return;
    const int slot = *known;
    FSlots.erase(known);
    FNames[slot].clear();
    FKeys[slot].clear();
    for (int i = 0; i < FStride; ++i)
        FNumbers[slot * FStride + i].clear();
    ++FRemoved;
    FStale = true;
}

int TOutlookIndex::Match(const QString &number)
{
    if (number.isEmpty() || FStride == 0) return -1;
    if (FStale) Rebuild();
    const auto hit = FFirstEntry.constFind(number.toCaseFolded());
    return hit == FFirstEntry.constEnd() ? -1 : *hit / FStride;
}

bool TOutlookIndex::Name(int contact, QString &name) const
{
    if (contact < 0 || contact >= FNames.size() || FKeys[contact].isEmpty()) return false;
    name = FNames[contact];
    return true;
}

void TOutlookIndex::Index(const QString &number, int entry)
{
    const QString key = number.toCaseFolded();
    if (!FFirstEntry.contains(key)) FFirstEntry.insert(key, entry);
}

void TOutlookIndex::Rebuild()
{
    // Removed slots go once they are the majority, so that a long run of changes stays small.
    if (FRemoved > 0 && FRemoved * 2 >= FNames.size()) {
        QStringList names, numbers, keys;
        FSlots.clear();
        for (int slot = 0; slot < FNames.size(); ++slot) {
            if (FKeys[slot].isEmpty()) continue;
            FSlots.insert(FKeys[slot], names.size());
            names.append(FNames[slot]);
            keys.append(FKeys[slot]);
            numbers.append(FNumbers.mid(slot * FStride, FStride));
        }
        FNames = std::move(names);
        FNumbers = std::move(numbers);
        FKeys = std::move(keys);
        FRemoved = 0;
    }
    FFirstEntry.clear();
    FFirstEntry.reserve(FNumbers.size());
    for (int entry = 0; entry < FNumbers.size(); ++entry) {
        if (!FNumbers[entry].isEmpty()) Index(FNumbers[entry], entry);
    }
    FStale = false;
}
